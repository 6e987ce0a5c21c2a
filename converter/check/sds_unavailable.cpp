// A build without libmseed: SDS trees cannot be read.
#include "converter/check/sds_check.h"

namespace tremcvt::check {

bool sdsCheckAvailable() { return false; }

SdsScan scanSdsTree(const std::string&, const Selection&, bool) { return {}; }

}  // namespace tremcvt::check
