#include "tests/launcher/win32/dialog_driver.h"

#include <dlgs.h>

#include <fstream>
#include <map>

#include "launcher/win32/resource.h"
#include "launcher/win32/texts.h"
#include "tests/support/fresh_directory.h"

namespace tremcvt::win32::test {
namespace {

std::map<UINT_PTR, TestTimer*>& timers()
{
    static std::map<UINT_PTR, TestTimer*> all;
    return all;
}

struct DialogSearch {
    HWND except;
    HWND found;
};

BOOL CALLBACK findDialog(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<DialogSearch*>(context);
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, 16);
    if (window != search->except && ::IsWindowVisible(window) && std::wstring(className) == L"#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

TestTimer::TestTimer(UINT intervalMs, std::function<void()> tick) : tick_(std::move(tick))
{
    id_ = ::SetTimer(nullptr, 0, intervalMs, &TestTimer::fired);
    timers()[id_] = this;
}

TestTimer::~TestTimer()
{
    ::KillTimer(nullptr, id_);
    timers().erase(id_);
}

void CALLBACK TestTimer::fired(HWND, UINT, UINT_PTR id, DWORD)
{
    const auto found = timers().find(id);
    if (found == timers().end()) return;
    TestTimer* timer = found->second;
    // A tick that opens or closes a modal loop must not be entered again from it.
    if (timer->running_) return;
    timer->running_ = true;
    timer->tick_();
    timer->running_ = false;
}

HWND openDialog(HWND except)
{
    DialogSearch search{except, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<std::wstring> staticTexts(HWND window)
{
    std::vector<std::wstring> texts;
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[16] = {};
        ::GetClassNameW(child, className, 16);
        if (_wcsicmp(className, L"Static") == 0 && ::GetWindowTextLengthW(child) > 0) {
            texts.push_back(windowText(child));
        }
    }
    return texts;
}

void click(HWND window, int id)
{
    ::SendMessageW(::GetDlgItem(window, id), BM_CLICK, 0, 0);
}

ModalKind modalKind(HWND window)
{
    // The folder browser's tree of folders.
    constexpr int kFolderTree = 0x3741;
    if (::GetDlgItem(window, IDC_STOP_TEXT)) return ModalKind::StopQuestion;
    if (::GetDlgItem(window, kFolderTree)) return ModalKind::FolderBrowser;
    if (::GetDlgItem(window, cmb13) || ::GetDlgItem(window, edt1)) return ModalKind::FileDialog;
    return ModalKind::MessageBox;
}

void answerFileDialog(HWND dialog, const std::wstring& names)
{
    HWND field = ::GetDlgItem(dialog, cmb13);
    if (HWND edit = field ? ::FindWindowExW(field, nullptr, L"Edit", nullptr) : nullptr) field = edit;
    if (!field) field = ::GetDlgItem(dialog, edt1);
    ::SetWindowTextW(field, names.c_str());
    click(dialog, IDOK);
}

void pump()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

std::wstring windowsPath(const std::string& hostPath)
{
    // Wine names the host's files below a drive of its own.
    using DosName = wchar_t*(CDECL*)(const char*);
    const auto dosName = reinterpret_cast<DosName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (dosName) {
        if (wchar_t* name = dosName(hostPath.c_str())) {
            std::wstring path(name);
            ::HeapFree(::GetProcessHeap(), 0, name);
            return path;
        }
    }
    return fromAnsi(hostPath);
}

void DialogTest::SetUp()
{
    previousDirectory_ = std::filesystem::current_path();
    directory_ = tremcvt::test::freshDirectory("tremcvt-launcher-");
    std::filesystem::current_path(directory_);
}

void DialogTest::TearDown()
{
    dialog_.reset();
    pump();
    std::filesystem::current_path(previousDirectory_);
    std::error_code error;
    std::filesystem::remove_all(directory_, error);
}

LauncherDialog& DialogTest::startDialog(const char* settings)
{
    if (settings) writeFile(L"tremcvt.ini", settings);
    dialog_ = std::make_unique<LauncherDialog>(::GetModuleHandleW(nullptr));
    HWND window = dialog_->create();
    if (!window) {
        ADD_FAILURE() << "the dialog could not be created (wine needs an X display: DISPLAY)";
        std::abort();
    }
    ::ShowWindow(window, SW_SHOW);
    pump();
    return *dialog_;
}

std::wstring DialogTest::text(int id) const
{
    return windowText(item(id));
}

void DialogTest::setText(int id, const std::wstring& text) const
{
    ::SetWindowTextW(item(id), text.c_str());
}

std::wstring DialogTest::path(const std::wstring& relative) const
{
    return (directory_ / relative).wstring();
}

void DialogTest::writeFile(const std::wstring& relative, const std::string& contents) const
{
    const std::filesystem::path file = directory_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
}

}  // namespace tremcvt::win32::test
