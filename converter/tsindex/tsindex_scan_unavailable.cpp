// Builds without libmseed write no miniSEED, so they have nothing to index.
#include "converter/tsindex/tsindex_scan.h"

namespace tremcvt {

TsindexScan scanMseedFile(const std::string& path)
{
    TsindexScan scan;
    scan.code = kResultFileOpenFailed;
    scan.reason = path + ": miniSEED cannot be read in this build";
    return scan;
}

}  // namespace tremcvt
