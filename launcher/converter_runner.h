// Runs the converter as a child process for one WIN file: its standard
// output is read as it arrives, and a child that has not ended within the
// time limit is killed.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tremcvt {

#ifdef _WIN32
inline constexpr const char* kConverterProgramName = "tremcvt.exe";
#else
inline constexpr const char* kConverterProgramName = "tremcvt";
#endif

// How long one converter run may take before it is killed.
inline constexpr int kConverterTimeoutMs = 10000;

// Where the converter was found, and where it was looked for (for the
// message when it cannot be started).
struct ConverterLocation {
    QString program;  // empty when not found
    QString searched;
};

// The converter beside the launcher's own executable (ownDirectory) first,
// then on the search path (the PATH variable when searchPaths is empty).
ConverterLocation locateConverter(const QString& ownDirectory, const QStringList& searchPaths = {});

enum class RunOutcome {
    Finished,       // the child ended by itself; output holds everything it printed
    TimedOut,       // killed at the time limit; its output is dropped
    FailedToStart,  // the program could not be started
};

struct RunResult {
    RunOutcome outcome = RunOutcome::FailedToStart;
    QByteArray output;
};

// Starts program with the arguments as a list, without standard input and
// with standard error dropped, in the launcher's current directory, and
// waits for it inside a local event loop so windows keep painting.
RunResult RunConverter(const QString& program, const QStringList& arguments, int timeoutMs);

}  // namespace tremcvt
