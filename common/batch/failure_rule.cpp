#include "common/batch/failure_rule.h"

#include "common/exit_codes.h"

namespace tremcvt {

bool isFailedConverterExit(int exitStatus)
{
    return exitCodeFromStatus(exitStatus) < 0;
}

bool isFailedRun(const RunResult& result)
{
    return result.end != RunEnd::Exited || isFailedConverterExit(result.exitStatus);
}

}  // namespace tremcvt
