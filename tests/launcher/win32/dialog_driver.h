// Driving the launcher's Windows dialog from a test, as an operator would
// but through messages by control ID: a started dialog in a fresh working
// directory, and a timer that looks at the modal windows it opens (message
// boxes, the stop question, the file dialogs and the folder browser) from
// inside their own message loops.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "launcher/win32/launcher_dialog.h"

namespace tremcvt::win32::test {

// Calls tick every intervalMs from whatever message loop this thread runs:
// the batch's wait, a modal dialog's, the test's own pump().
class TestTimer {
public:
    TestTimer(UINT intervalMs, std::function<void()> tick);
    ~TestTimer();
    TestTimer(const TestTimer&) = delete;
    TestTimer& operator=(const TestTimer&) = delete;

private:
    static void CALLBACK fired(HWND, UINT, UINT_PTR id, DWORD);

    UINT_PTR id_;
    std::function<void()> tick_;
    bool running_ = false;
};

// A modal dialog window of this thread that is open now, other than except.
HWND openDialog(HWND except);
// The texts of a window's static controls, in their order.
std::vector<std::wstring> staticTexts(HWND window);
// Presses a button of a window as a click does.
void click(HWND window, int id);
// The modal windows that the launcher opens.
enum class ModalKind { MessageBox, StopQuestion, FileDialog, FolderBrowser };
ModalKind modalKind(HWND window);
// Types names into a file dialog's name field ("a" "b" for several) and
// confirms them.
void answerFileDialog(HWND dialog, const std::wstring& names);
// Handles the messages that are waiting.
void pump();
// A host path as this process sees it (under wine, a drive letter path).
std::wstring windowsPath(const std::string& hostPath);

// The fixture of the dialog tests: a fresh working directory that holds
// tremcvt.ini, and the dialog started in it.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes tremcvt.ini (none for a null text) and starts the dialog.
    LauncherDialog& startDialog(const char* settings);
    HWND item(int id) const { return ::GetDlgItem(dialog_->window(), id); }
    std::wstring text(int id) const;
    void setText(int id, const std::wstring& text) const;
    // The working directory's path of a file, and writing one.
    std::wstring path(const std::wstring& relative) const;
    void writeFile(const std::wstring& relative, const std::string& contents) const;

    std::filesystem::path directory_;
    std::filesystem::path previousDirectory_;
    std::unique_ptr<LauncherDialog> dialog_;
};

}  // namespace tremcvt::win32::test
