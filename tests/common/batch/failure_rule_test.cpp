// The failure rule: which endings of a converter run count as failures.
#include <gtest/gtest.h>

#include "common/batch/failure_rule.h"
#include "common/exit_codes.h"

namespace tremcvt {
namespace {

TEST(ConverterFailure, OnlyTheConvertersFailureCodesAndAbnormalEndsFail)
{
    struct Case {
        int exitCode;  // as the converter ends its run
        bool failed;
    };
    const Case cases[] = {
        {0, false},
        {1, false},  // problem counts of the channel checks
        {3, false},
        {249, false},  // the largest problem count on POSIX
        {400, false},  // clamped to a count on POSIX, a count on Windows
        {kExitConnectionFailed, true},
        {kExitWinFileNotOpened, true},
        {kExitException, true},
        {kExitArgumentTooLong, true},
        {kExitMseedUnavailable, true},
        {kExitChannelsNotStored, true},
    };
    for (const Case& c : cases) {
        // What the process reports is the status the converter's exit code becomes.
        const int status = processExitStatus(c.exitCode);
        EXPECT_EQ(isFailedConverterExit(status), c.failed) << c.exitCode;
        EXPECT_EQ(isFailedRun({RunEnd::Exited, status, "report"}), c.failed) << c.exitCode;
    }
    for (const int code : {kExitChannelsNotStored, kExitMseedUnavailable, kExitArgumentTooLong, kExitException, kExitWinFileNotOpened,
                           kExitConnectionFailed, 0, 1, kMaxPosixProblemCount}) {
        EXPECT_EQ(exitCodeFromStatus(processExitStatus(code)), code);
    }
#ifndef _WIN32
    EXPECT_TRUE(isFailedConverterExit(255));
    EXPECT_TRUE(isFailedConverterExit(250));
    EXPECT_FALSE(isFailedConverterExit(249));
    // A count above the cap never turns into a failure code.
    EXPECT_EQ(processExitStatus(400), 249);
#endif
    // Whatever the status, a run that did not end by itself failed.
    for (const RunEnd end : {RunEnd::Crashed, RunEnd::TimedOut, RunEnd::NotStarted}) {
        EXPECT_TRUE(isFailedRun({end, 0, ""}));
    }
}

}  // namespace
}  // namespace tremcvt
