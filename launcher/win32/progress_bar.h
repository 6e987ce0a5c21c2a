// The batch progress bar on Windows: the common control, which shows its
// window text (the step and the file, "3 / 11  10030302.02") centred over
// the bar while a batch runs. The text is set with SetWindowText.
#pragma once

#include <windows.h>

namespace tremcvt::win32 {

void makeProgressBarWithText(HWND progressBar);

}  // namespace tremcvt::win32
