// Texts between the Windows controls (UTF-16) and the launcher core. The core
// holds paths, station names and the converter's reports as bytes of the
// ANSI code page, as the profile functions read tremcvt.ini and as the
// converter takes its command line; the core's Russian texts are UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tremcvt::win32 {

std::wstring fromAnsi(std::string_view text);
std::string toAnsi(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);

// A control's text, and a string resource of this program.
std::wstring windowText(HWND window);
std::wstring loadString(HINSTANCE instance, UINT id);

// Text for a multi-line edit control: every line ends in "\r\n" (the
// converter's reports arrive with "\r\n" or "\n").
std::wstring editControlText(std::string_view text);

// The program's file name without its extension: the caption of its
// message boxes.
std::wstring applicationName();

// The directory of this program's executable (ANSI, as the core takes it).
std::string executableDirectory();

}  // namespace tremcvt::win32
