// tremcvt_GUI.exe: the launcher dialog, run modally; the program ends when
// it closes.
#include <windows.h>

#include "launcher/win32/launcher_dialog.h"
#include "launcher/win32/win32_handles.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    const tremcvt::win32::ComApartment apartment;
    tremcvt::win32::LauncherDialog dialog(instance);
    dialog.runModal();
    return 0;
}
