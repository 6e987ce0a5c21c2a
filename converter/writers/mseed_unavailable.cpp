// The miniSEED writer of a build without libmseed (the Windows cross-build):
// the converter refuses "mseed=" before it starts, so nothing is ever stored.
#include "converter/writers/mseed_writer.h"

namespace tremcvt {

bool mseedOutputAvailable() { return false; }

MseedStoreResult storeMseedChannel(const ChannelTrace&, std::string_view, std::string_view)
{
    MseedStoreResult result;
    result.code = kResultFileOpenFailed;
    result.reason = "this build of tremcvt cannot write miniSEED (built without libmseed)";
    return result;
}

}  // namespace tremcvt
