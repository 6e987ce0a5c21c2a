// The interval field on Windows: an edit control whose typing, Cut, Delete
// and Paste (keys, the context menu's commands and messages alike) go
// through the editing rule of launcher/core/interval_field.h, so the field
// keeps its form "DDD HH:MM". Backspace, Delete and Undo do nothing.
#pragma once

#include <windows.h>

namespace tremcvt::win32 {

void makeIntervalField(HWND edit);

}  // namespace tremcvt::win32
