// The platform's dialogs that the launcher opens: the shell's folder browser
// for the data directory, the save dialog for the CSS output and the open
// dialog that picks files to convert.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tremcvt::win32 {

// Characters of the open dialog's file-name area: room for a whole
// multi-selection.
inline constexpr std::size_t kFileNameArea = 32768;
// The folder browser starts at the first 255 characters of the field.
inline constexpr std::size_t kBrowseStartLength = 255;

// The folder browser titled "Выбор каталога", offering file-system folders
// only, with start preselected and a status line that shows the selected
// folder's path. Nothing when the operator cancels.
std::optional<std::wstring> browseForFolder(HWND owner, const std::wstring& start);

// The save dialog that names the wfdisc file of the CSS output (its name is
// not checked). Nothing when the operator cancels.
std::optional<std::wstring> chooseCssOutput(HWND owner);

// The open dialog with multiple selection, starting in initialDirectory; the
// full paths of the chosen files, none when the operator cancels.
std::vector<std::wstring> chooseFilesToConvert(HWND owner, const std::wstring& initialDirectory);

// The full paths in a file-name area as the open dialog fills it: one full
// path, or the directory followed by the chosen names, each ending in a
// zero character, with one more zero at the end.
std::vector<std::wstring> fileNameAreaPaths(const wchar_t* area);

}  // namespace tremcvt::win32
