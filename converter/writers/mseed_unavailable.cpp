// The miniSEED writer of a build without libmseed (the Windows cross-build):
// the converter refuses "mseed=" before it starts, so nothing is ever stored.
#include "converter/writers/mseed_writer.h"

namespace tremcvt {

bool mseedOutputAvailable() { return false; }

OutputResult storeMseedChannel(const ChannelTrace& trace, std::string_view root, std::string_view, int)
{
    OutputResult result;
    result.code = kResultFileOpenFailed;
    result.line = "miniSEED write error (" + trace.station.str() + "::" + trace.component.str() + "::" +
                  std::string(root) + ")\n";
    result.unstoredChannels = 1;
    result.reason = "this build of tremcvt cannot write miniSEED (built without libmseed)";
    return result;
}

}  // namespace tremcvt
