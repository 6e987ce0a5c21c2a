// One run of tremcvt_check: the command line in, the report on standard
// output, reasons on standard error, the exit code out.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tremcvt::check {

// arguments without the program name.
int runCheck(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

}  // namespace tremcvt::check
