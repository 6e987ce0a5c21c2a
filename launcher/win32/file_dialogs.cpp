#include "launcher/win32/file_dialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include "launcher/win32/win32_handles.h"

namespace tremcvt::win32 {
namespace {

constexpr DWORD kFileDialogFlags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_NOVALIDATE | OFN_NOCHANGEDIR;

std::wstring folderPath(PCIDLIST_ABSOLUTE folder)
{
    wchar_t path[MAX_PATH] = {};
    return folder && ::SHGetPathFromIDListW(folder, path) ? std::wstring(path) : std::wstring();
}

int CALLBACK browserEvent(HWND browser, UINT event, LPARAM value, LPARAM start)
{
    if (event == BFFM_INITIALIZED) {
        // Posted, so that it comes after the browser's own start-up, which
        // may select its root once more when the machine is busy. The text
        // lives until SHBrowseForFolderW returns.
        const auto* path = reinterpret_cast<const std::wstring*>(start);
        if (!path->empty()) ::PostMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path->c_str()));
    } else if (event == BFFM_SELCHANGED) {
        const std::wstring path = folderPath(reinterpret_cast<PCIDLIST_ABSOLUTE>(value));
        ::SendMessageW(browser, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path.c_str()));
    }
    return 0;
}

// Runs an open or save dialog over a file-name area of kFileNameArea characters.
template <typename Dialog>
std::vector<std::wstring> runFileDialog(Dialog dialog, HWND owner, const wchar_t* initialDirectory)
{
    const ComApartment apartment;
    std::wstring area(kFileNameArea, L'\0');
    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFile = area.data();
    request.nMaxFile = static_cast<DWORD>(area.size());
    request.lpstrInitialDir = initialDirectory;
    request.Flags = kFileDialogFlags;
    if (!dialog(&request)) return {};
    return fileNameAreaPaths(area.c_str());
}

}  // namespace

std::optional<std::wstring> browseForFolder(HWND owner, const std::wstring& start)
{
    const ComApartment apartment;
    const std::wstring preselected = start.substr(0, kBrowseStartLength);
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW request{};
    request.hwndOwner = owner;
    request.pszDisplayName = displayName;
    request.lpszTitle = L"Выбор каталога";
    request.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    request.lpfn = browserEvent;
    request.lParam = reinterpret_cast<LPARAM>(&preselected);
    const UniqueItemList chosen(::SHBrowseForFolderW(&request));
    const std::wstring path = folderPath(chosen.get());
    if (path.empty()) return std::nullopt;
    return path;
}

std::optional<std::wstring> chooseCssOutput(HWND owner)
{
    const std::vector<std::wstring> paths = runFileDialog(::GetSaveFileNameW, owner, nullptr);
    if (paths.empty()) return std::nullopt;
    return paths.front();
}

std::vector<std::wstring> chooseFilesToConvert(HWND owner, const std::wstring& initialDirectory)
{
    return runFileDialog(::GetOpenFileNameW, owner, initialDirectory.empty() ? nullptr : initialDirectory.c_str());
}

std::vector<std::wstring> fileNameAreaPaths(const wchar_t* area)
{
    std::vector<std::wstring> names;
    for (const wchar_t* name = area; *name; name += names.back().size() + 1) names.emplace_back(name);
    if (names.size() <= 1) return names;
    std::wstring directory = names.front();
    if (directory.back() != L'\\' && directory.back() != L'/') directory += L'\\';
    std::vector<std::wstring> paths;
    for (std::size_t i = 1; i < names.size(); ++i) paths.push_back(directory + names[i]);
    return paths;
}

}  // namespace tremcvt::win32
