// How one converter run ended, and the rule that tells a run that converted
// its file from one that failed; the dialogs count their runs by it.
#pragma once

#include <string>

namespace tremcvt {

enum class RunEnd {
    Exited,      // the converter ended by itself with exitStatus
    Crashed,     // it was ended by the system (a signal) before it exited
    TimedOut,    // killed at the time limit; its output is dropped
    NotStarted,  // the program could not be started
};

struct RunResult {
    RunEnd end = RunEnd::NotStarted;
    int exitStatus = 0;  // the process exit status, for Exited
    std::string output;  // everything it printed, for Exited and Crashed
};

// Whether a converter that ended by itself with this process exit status
// failed: a failed connection, an unopened WIN file, an exception, a
// refused setting, a build without miniSEED or a channel the output could
// not store (-1 ... -6; 255 ... 250 on POSIX). 0 and the problem
// counts of the channel checks are runs that converted their file.
bool isFailedConverterExit(int exitStatus);

// Whether a run failed: it did not end by itself in time, it crashed, or
// the converter reported that it could not convert its file.
bool isFailedRun(const RunResult& result);

}  // namespace tremcvt
