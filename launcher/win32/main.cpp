// tremcvt_GUI.exe: the launcher dialog, run modally; the program ends when
// it closes.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/version.h"

#include "launcher/win32/launcher_dialog.h"
#include "launcher/win32/win32_handles.h"

namespace {

// "tremcvt_GUI --version": the version line on the console the program was
// started from, or in a message box when there is none.
bool answerVersion()
{
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const bool asked = arguments != nullptr && count == 2 && std::wstring(arguments[1]) == L"--version";
    ::LocalFree(arguments);
    if (!asked) return false;
    const std::string line = tremcvt::versionLine("tremcvt_GUI") + "\r\n";
    DWORD written = 0;
    if (::AttachConsole(ATTACH_PARENT_PROCESS) &&
        ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
                    nullptr))
        return true;
    ::MessageBoxA(nullptr, line.c_str(), "tremcvt_GUI", MB_OK | MB_ICONINFORMATION);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    if (answerVersion()) return 0;
    const tremcvt::win32::ComApartment apartment;
    tremcvt::win32::LauncherDialog dialog(instance);
    dialog.runModal();
    return 0;
}
