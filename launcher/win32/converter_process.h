// Runs the converter as a hidden child process for one WIN file. Its
// standard output is an anonymous pipe that a reading thread empties while
// the child runs, so a long report can never block it; a child that has not
// ended at the time limit is terminated, whatever the launcher's thread is
// doing then (even when a question to the operator is open).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/converter_run.h"

namespace tremcvt::win32 {

// The command line that gives a child the program and the arguments as they
// are, split by the rules of the Windows C runtime (and CommandLineToArgvW):
// values with blanks, tabs or quotes, and empty ones, are quoted, and
// backslashes before a quote are doubled.
std::wstring commandLine(std::wstring_view program, const std::vector<std::wstring>& arguments);

// Called while the launcher waits for the child, whenever messages have
// arrived for its thread, so that its windows keep painting.
using MessagePump = std::function<void()>;

// Starts program (ANSI path) with the arguments, standard input and error
// on the NUL device, in the launcher's current directory and environment;
// waits up to timeoutMs for it to end and reads its exit code. A program
// that is empty or cannot be started gives RunEnd::NotStarted.
RunResult runConverter(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs,
                       const MessagePump& pump);

}  // namespace tremcvt::win32
