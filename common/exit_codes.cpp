#include "common/exit_codes.h"

namespace tremcvt {
namespace {

#ifndef _WIN32
// An exit status has 8 bits here: a negative code shows as 256 + code.
constexpr int kPosixStatusRange = 256;
#endif

}  // namespace

int processExitStatus(int exitCode)
{
#ifdef _WIN32
    return exitCode;
#else
    return exitCode > kMaxPosixProblemCount ? kMaxPosixProblemCount : exitCode;
#endif
}

int exitCodeFromStatus(int status)
{
#ifdef _WIN32
    return status;
#else
    if (status >= kPosixStatusRange + kLowestExitCode && status < kPosixStatusRange) {
        return status - kPosixStatusRange;
    }
    return status;
#endif
}

}  // namespace tremcvt
