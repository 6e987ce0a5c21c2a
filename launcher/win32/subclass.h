// Control subclassing: a window procedure of the launcher put in front of a
// standard control's own, which it calls for everything it leaves alone.
#pragma once

#include <windows.h>

namespace tremcvt::win32 {

// Puts procedure in front of the control's window procedure.
void subclassControl(HWND control, WNDPROC procedure);

// The control's own window procedure for a message; it also undoes the
// subclassing when the control is destroyed.
LRESULT callControlProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tremcvt::win32
