// The launcher's one window on Windows: dialog 102 of the resource script,
// wired to the launcher core. A batch runs on the dialog's thread; meanwhile
// the dialog keeps painting but takes no input, so a second batch cannot
// start. Only "Выход", Escape and the close box are heard: they ask whether
// to stop the batch.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "launcher/core/batch_run.h"
#include "launcher/core/launcher_settings.h"

namespace tremcvt::win32 {

class LauncherDialog {
public:
    explicit LauncherDialog(HINSTANCE instance);
    ~LauncherDialog();
    LauncherDialog(const LauncherDialog&) = delete;
    LauncherDialog& operator=(const LauncherDialog&) = delete;

    // Shows the dialog modally and returns when it closes.
    INT_PTR runModal();
    // Shows it without a loop of its own (tests, screenshots): the caller
    // pumps its messages. "Выход" then destroys the window.
    HWND create();
    HWND window() const { return window_; }

    // The converter to run; empty (the default) looks for it beside the
    // launcher's executable, then on the search path.
    void setConverterProgram(std::string program) { converterProgram_ = std::move(program); }
    // Time limit of one converter run, kConverterTimeoutMs by default.
    void setConverterTimeout(int milliseconds) { converterTimeoutMs_ = milliseconds; }

    const std::string& resultsText() const { return resultsText_; }
    const std::wstring& cssOutputPath() const { return cssOutputPath_; }
    const std::vector<StationEntry>& stations() const { return stations_; }
    SIZE fullSize() const { return fullSize_; }
    SIZE compactSize() const { return compactSize_; }
    bool batchRunning() const { return phase_ != BatchPhase::Idle; }

private:
    enum class BatchPhase { Idle, Running, Ending };

    static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam);
    void initialise();
    void onCommand(int id);
    bool onSetCursor();
    void end(INT_PTR result);

    HWND control(int id) const { return ::GetDlgItem(window_, id); }
    bool ticked(int id) const;
    void resizeKeepingPosition(SIZE size);
    void showResultsText();
    std::string stationCode() const;

    void onStationChange();
    void onBrowseDataDir();
    void onSelectTrz();
    void onSelectCss();
    void onShowResults();
    void onExit();
    void onAbout();
    void onConvertInterval();
    void onConvertFiles();

    // Runs every step of the batch, then ends it with the message box.
    void runBatch(BatchRun batch);
    BatchSettings batchSettings() const;
    // What the dialog does with the messages that arrive while a batch runs.
    void pumpBatchMessages();
    bool dropsBatchInput(const MSG& message);
    void askToStopSoon();
    void askToStop();

    HINSTANCE instance_;
    HWND window_ = nullptr;
    bool modal_ = false;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;

    std::wstring cssOutputPath_;
    std::string resultsText_;
    std::string startDirectory_;
    std::vector<StationEntry> stations_;
    SIZE fullSize_{};
    SIZE compactSize_{};

    std::string converterProgram_;
    int converterTimeoutMs_;

    BatchPhase phase_ = BatchPhase::Idle;
    std::unique_ptr<BatchRun> batch_;  // while a batch runs
    bool busyCursor_ = false;
    bool stopQuestionPending_ = false;
};

}  // namespace tremcvt::win32
