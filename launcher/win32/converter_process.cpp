#include "launcher/win32/converter_process.h"

#include <windows.h>

#include <atomic>

#include "launcher/win32/texts.h"
#include "launcher/win32/win32_handles.h"

namespace tremcvt::win32 {
namespace {

// How long the reading thread may take to see the end of the pipe once the
// child has ended (only a grandchild that kept the pipe open takes longer),
// and how long past the time limit the wait goes on before it ends the child
// itself.
constexpr DWORD kReaderGraceMs = 2000;
constexpr DWORD kReadChunk = 64 * 1024;

std::wstring quotedArgument(std::wstring_view argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        return std::wstring(argument);
    }
    std::wstring quoted = L"\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < argument.size() && argument[i] == L'\\') {
            ++i;
            ++backslashes;
        }
        if (i == argument.size()) {
            // They stand before the closing quote.
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        if (argument[i] == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        quoted += argument[i];
    }
    quoted += L'"';
    return quoted;
}

// The reading thread's state: it owns the read end and fills output until
// the pipe ends; the waiting thread looks at output only after joining it.
struct PipeReader {
    UniqueHandle pipe;
    std::string output;

    static DWORD WINAPI run(void* context)
    {
        auto* reader = static_cast<PipeReader*>(context);
        std::string chunk(kReadChunk, '\0');
        DWORD read = 0;
        while (::ReadFile(reader->pipe.get(), chunk.data(), kReadChunk, &read, nullptr) && read > 0) {
            reader->output.append(chunk.data(), read);
        }
        return 0;
    }
};

// Terminates the child at the time limit from a thread of the system's pool.
class TimeLimit {
public:
    TimeLimit(HANDLE process, DWORD timeoutMs) : process_(process)
    {
        if (!::RegisterWaitForSingleObject(&wait_, process, &TimeLimit::expired, this, timeoutMs,
                                           WT_EXECUTEONLYONCE)) {
            wait_ = nullptr;
        }
    }
    ~TimeLimit() { stop(); }
    TimeLimit(const TimeLimit&) = delete;
    TimeLimit& operator=(const TimeLimit&) = delete;

    // Stops the watch, waiting for a callback that is running to return, and
    // tells whether the child was ended at the limit.
    bool stop()
    {
        if (wait_) ::UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
        wait_ = nullptr;
        return expired_.load();
    }
    // Ends the child now.
    void expireNow() { terminate(); }

private:
    static void CALLBACK expired(void* context, BOOLEAN timedOut)
    {
        if (timedOut) static_cast<TimeLimit*>(context)->terminate();
    }
    void terminate()
    {
        // Fails for a child that has just ended by itself: that one was in time.
        if (::TerminateProcess(process_, 0)) expired_.store(true);
    }

    HANDLE process_;
    HANDLE wait_ = nullptr;
    std::atomic<bool> expired_{false};
};

// Waits until the handle is signalled, handing messages to the pump
// meanwhile; false when the time runs out first.
bool waitPumping(HANDLE handle, DWORD timeoutMs, const MessagePump& pump)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        const DWORD woken =
            ::MsgWaitForMultipleObjects(1, &handle, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) return true;
        if (woken == WAIT_OBJECT_0 + 1) {
            if (pump) pump();
        } else if (woken == WAIT_TIMEOUT) {
            return false;
        } else {
            // A failed wait: poll rather than spin.
            ::Sleep(10);
        }
    }
}

}  // namespace

std::wstring commandLine(std::wstring_view program, const std::vector<std::wstring>& arguments)
{
    // The program's own name is split by quotes alone: it cannot hold one.
    std::wstring line = program.find_first_of(L" \t") == std::wstring_view::npos
                            ? std::wstring(program)
                            : L"\"" + std::wstring(program) + L"\"";
    for (const std::wstring& argument : arguments) {
        line += L' ';
        line += quotedArgument(argument);
    }
    return line;
}

RunResult runConverter(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs,
                       const MessagePump& pump)
{
    RunResult result;
    result.end = RunEnd::NotStarted;
    if (program.empty()) return result;

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return result;
    PipeReader reader{UniqueHandle(readEnd), {}};
    UniqueHandle childOutput(writeEnd);
    // Only the write end goes to the child; the read end stays here.
    ::SetHandleInformation(reader.pipe.get(), HANDLE_FLAG_INHERIT, 0);
    HANDLE nulDevice = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inheritable, OPEN_EXISTING, 0, nullptr);
    UniqueHandle nul(nulDevice == INVALID_HANDLE_VALUE ? nullptr : nulDevice);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nul.get();
    startup.hStdOutput = childOutput.get();
    startup.hStdError = nul.get();

    const std::wstring programPath = fromAnsi(program);
    std::vector<std::wstring> wideArguments;
    for (const std::string& argument : arguments) wideArguments.push_back(fromAnsi(argument));
    std::wstring line = commandLine(programPath, wideArguments);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(programPath.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &started)) {
        return result;
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    // The pipe ends for the reader once the child has closed its copy.
    childOutput.reset();
    nul.reset();

    UniqueHandle readerThread(::CreateThread(nullptr, 0, &PipeReader::run, &reader, 0, nullptr));
    TimeLimit limit(process.get(), static_cast<DWORD>(timeoutMs));
    // The pool ends the child at the limit; past it and a grace period the
    // wait ends the child itself (when the pool could not watch it).
    if (!waitPumping(process.get(), static_cast<DWORD>(timeoutMs) + kReaderGraceMs, pump)) {
        limit.expireNow();
        waitPumping(process.get(), kReaderGraceMs, pump);
    }
    if (readerThread) {
        if (!waitPumping(readerThread.get(), kReaderGraceMs, pump)) {
            ::CancelSynchronousIo(readerThread.get());
            ::WaitForSingleObject(readerThread.get(), INFINITE);
        }
    } else {
        PipeReader::run(&reader);
    }

    if (limit.stop()) {
        result.end = RunEnd::TimedOut;
        return result;
    }
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    result.end = RunEnd::Exited;
    result.exitStatus = static_cast<int>(exitCode);
    result.output = std::move(reader.output);
    return result;
}

}  // namespace tremcvt::win32
