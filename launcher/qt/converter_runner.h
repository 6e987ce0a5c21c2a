// Runs the converter as a child process for one WIN file: its standard
// output is read as it arrives, and a child that has not ended within the
// time limit is killed.
#pragma once

#include <QString>
#include <QStringList>

#include "launcher/core/converter_run.h"

namespace tremcvt {

// Starts program with the arguments as a list, without standard input and
// with standard error dropped, in the launcher's current directory, and
// waits for it inside a local event loop so windows keep painting. A child
// still running at the time limit is killed at once, even when a nested
// event loop (a question to the user) is open at that moment.
RunResult RunConverter(const QString& program, const QStringList& arguments, int timeoutMs);

}  // namespace tremcvt
