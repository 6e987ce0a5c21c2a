// The converter's exit codes and how they travel as a process exit status:
// the converter ends with them, the launcher reads them back to tell a run
// that converted its file from one that did not.
#pragma once

namespace tremcvt {

// Exit codes of a converter run besides 0 and the number of channel problems.
inline constexpr int kExitConnectionFailed = -1;
inline constexpr int kExitWinFileNotOpened = -2;
inline constexpr int kExitException = -3;
// A run refused because an argument or setting does not fit its field.
inline constexpr int kExitArgumentTooLong = -4;
// A run asking for miniSEED output ("mseed=") from a build without it.
inline constexpr int kExitMseedUnavailable = -5;
// A complete run in which the output could not store a channel: a loss is
// never reported as a problem count.
inline constexpr int kExitChannelsNotStored = -6;
// The lowest of the codes above.
inline constexpr int kLowestExitCode = kExitChannelsNotStored;

// The largest problem count a POSIX exit status carries: an 8-bit status must
// never wrap a count to 0 or into -1 ... -6 (255 ... 250).
inline constexpr int kMaxPosixProblemCount = 249;

// The exit code as a process exit status of this platform: unchanged on
// Windows; elsewhere problem counts are clamped to kMaxPosixProblemCount.
int processExitStatus(int exitCode);

// The exit code that a process exit status stands for: unchanged on Windows;
// elsewhere the statuses 250 ... 255 are the codes -6 ... -1.
int exitCodeFromStatus(int status);

}  // namespace tremcvt
