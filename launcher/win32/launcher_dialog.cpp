#include "launcher/win32/launcher_dialog.h"

#include <commctrl.h>

#include <optional>
#include <utility>

#include "common/batch/time_texts.h"
#include "common/platform.h"
#include "launcher/core/converter_run.h"
#include "launcher/core/interval_field.h"
#include "launcher/win32/converter_process.h"
#include "launcher/win32/file_dialogs.h"
#include "launcher/win32/interval_edit.h"
#include "launcher/win32/progress_bar.h"
#include "launcher/win32/resource.h"
#include "launcher/win32/texts.h"

namespace tremcvt::win32 {
namespace {

// Posted when the operator asks to stop: the question opens from the
// message loop rather than from inside the message that asked.
constexpr UINT kAskToStopMessage = WM_APP + 1;
constexpr int kStationCodeLength = 7;

SYSTEMTIME pickerTime(HWND picker)
{
    SYSTEMTIME time{};
    ::SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&time));
    return time;
}

HICON applicationIcon(HINSTANCE instance, int metricX, int metricY)
{
    return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                           ::GetSystemMetrics(metricX), ::GetSystemMetrics(metricY), LR_SHARED));
}

SIZE sizeOf(const RECT& rect)
{
    return {rect.right - rect.left, rect.bottom - rect.top};
}

INT_PTR CALLBACK aboutProcedure(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(window, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK stopQuestionProcedure(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        ::SetWindowTextW(window, applicationName().c_str());
        ::SendDlgItemMessageW(window, IDC_STOP_ICON, STM_SETICON,
                              reinterpret_cast<WPARAM>(::LoadIconW(nullptr, IDI_QUESTION)), 0);
        ::SetFocus(::GetDlgItem(window, IDNO));
        return FALSE;
    }
    if (message == WM_COMMAND) {
        const int id = LOWORD(wParam);
        if (id == IDYES || id == IDNO || id == IDCANCEL) {
            ::EndDialog(window, id == IDYES ? IDYES : IDNO);
            return TRUE;
        }
    }
    return FALSE;
}

bool isMouseButton(UINT message)
{
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
    case WM_XBUTTONDBLCLK:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
        return true;
    default:
        return false;
    }
}

bool isKey(UINT message)
{
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_DEADCHAR:
    case WM_SYSCHAR:
    case WM_SYSDEADCHAR:
    case WM_UNICHAR:
        return true;
    default:
        return false;
    }
}

}  // namespace

LauncherDialog::LauncherDialog(HINSTANCE instance)
    : instance_(instance), converterTimeoutMs_(kConverterTimeoutMs)
{
    // The date and time pickers and the progress bar are common controls.
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                        ICC_DATE_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    icon_ = applicationIcon(instance, SM_CXICON, SM_CYICON);
    smallIcon_ = applicationIcon(instance, SM_CXSMICON, SM_CYSMICON);
}

LauncherDialog::~LauncherDialog()
{
    if (window_ && !modal_) ::DestroyWindow(window_);
}

INT_PTR LauncherDialog::runModal()
{
    modal_ = true;
    return ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_LAUNCHER), nullptr, dialogProcedure,
                             reinterpret_cast<LPARAM>(this));
}

HWND LauncherDialog::create()
{
    modal_ = false;
    return ::CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_LAUNCHER), nullptr, dialogProcedure,
                                reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK LauncherDialog::dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<LauncherDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->window_ = window;
        dialog->initialise();
        return TRUE;
    }
    auto* dialog = reinterpret_cast<LauncherDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    if (message == WM_NCDESTROY) {
        dialog->window_ = nullptr;
        return FALSE;
    }
    return dialog->handle(message, wParam);
}

INT_PTR LauncherDialog::handle(UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == CBN_SELCHANGE && LOWORD(wParam) == IDC_STATION) {
            onStationChange();
        } else if (HIWORD(wParam) == BN_CLICKED) {
            onCommand(LOWORD(wParam));
        }
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            onAbout();
            return TRUE;
        }
        return FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    case WM_MOVE:
        ::RedrawWindow(control(IDC_PROGRESS), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        return FALSE;
    case WM_SETCURSOR:
        if (!onSetCursor()) return FALSE;
        ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case kAskToStopMessage:
        askToStop();
        return TRUE;
    default:
        return FALSE;
    }
}

void LauncherDialog::initialise()
{
    const std::wstring aboutItem = loadString(instance_, IDS_ABOUTBOX);
    if (HMENU systemMenu = ::GetSystemMenu(window_, FALSE); systemMenu && !aboutItem.empty()) {
        ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutItem.c_str());
    }
    ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    ::CheckDlgButton(window_, IDC_SHOW_RESULTS, BST_UNCHECKED);
    ::CheckDlgButton(window_, IDC_OUTPUT_TRZ, BST_CHECKED);
    ::CheckDlgButton(window_, IDC_OUTPUT_CSS, BST_UNCHECKED);

    // The compact size ends where the results box begins, so only the
    // check box that opens it stays in view.
    RECT dialogRect, resultsRect;
    ::GetWindowRect(window_, &dialogRect);
    ::GetWindowRect(control(IDC_RESULTS), &resultsRect);
    fullSize_ = sizeOf(dialogRect);
    compactSize_ = {fullSize_.cx, resultsRect.top - dialogRect.top};
    resizeKeepingPosition(compactSize_);

    makeIntervalField(control(IDC_INTERVAL));
    makeProgressBarWithText(control(IDC_PROGRESS));
    ::SendDlgItemMessageW(window_, IDC_RESULTS, EM_SETLIMITTEXT, 0, 0);

    startDirectory_ = currentDirectory();
    const LauncherSettings settings = readLauncherSettings(settingsFilePath(startDirectory_));
    stations_ = settings.stations;
    for (const std::string& name : stationListNames(stations_)) {
        ::SendDlgItemMessageW(window_, IDC_STATION, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(fromAnsi(name).c_str()));
    }
    if (::SendDlgItemMessageW(window_, IDC_STATION, CB_GETCOUNT, 0, 0) > 0) {
        ::SendDlgItemMessageW(window_, IDC_STATION, CB_SETCURSEL, 0, 0);
        onStationChange();
    }

    // The date picker in the locale's short date format, from 1970 on; the
    // time picker in hours and minutes. Both start at the current date and
    // time unless the settings name a valid start.
    HWND date = control(IDC_START_DATE), time = control(IDC_START_TIME);
    ::SendMessageW(date, DTM_SETFORMATW, 0, 0);
    ::SendMessageW(time, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"HH:mm"));
    SYSTEMTIME earliest[2] = {};
    earliest[0].wYear = kEarliestStartYear;
    earliest[0].wMonth = 1;
    earliest[0].wDay = 1;
    ::SendMessageW(date, DTM_SETRANGE, GDTR_MIN, reinterpret_cast<LPARAM>(earliest));
    if (settings.startTime) {
        const StartTime& start = *settings.startTime;
        SYSTEMTIME value{};
        value.wYear = static_cast<WORD>(start.year);
        value.wMonth = static_cast<WORD>(start.month);
        value.wDay = static_cast<WORD>(start.day);
        value.wHour = static_cast<WORD>(start.hour);
        value.wMinute = static_cast<WORD>(start.minute);
        ::SendMessageW(date, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&value));
        ::SendMessageW(time, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&value));
    }

    ::SetDlgItemTextW(window_, IDC_INTERVAL, fromAnsi(settings.intervalText).c_str());
}

void LauncherDialog::onCommand(int id)
{
    switch (id) {
    case IDC_BROWSE:
        onBrowseDataDir();
        break;
    case IDC_OUTPUT_TRZ:
        onSelectTrz();
        break;
    case IDC_OUTPUT_CSS:
        onSelectCss();
        break;
    case IDC_SHOW_RESULTS:
        onShowResults();
        break;
    case IDC_EXIT:
    case IDCANCEL:
        onExit();
        break;
    case IDOK:
        // Enter with no push button in focus ends the dialog, as a dialog box does.
        if (!batchRunning()) end(IDOK);
        break;
    case IDC_CONVERT_INTERVAL:
        onConvertInterval();
        break;
    case IDC_CONVERT_FILES:
        onConvertFiles();
        break;
    default:
        break;
    }
}

void LauncherDialog::end(INT_PTR result)
{
    if (modal_) {
        ::EndDialog(window_, result);
    } else {
        ::DestroyWindow(window_);
    }
}

bool LauncherDialog::onSetCursor()
{
    if (!busyCursor_) return false;
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    return true;
}

bool LauncherDialog::ticked(int id) const
{
    return ::IsDlgButtonChecked(window_, id) == BST_CHECKED;
}

void LauncherDialog::resizeKeepingPosition(SIZE size)
{
    ::SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void LauncherDialog::showResultsText()
{
    ::SetDlgItemTextW(window_, IDC_RESULTS, editControlText(resultsText_).c_str());
}

std::string LauncherDialog::stationCode() const
{
    HWND stations = control(IDC_STATION);
    const auto selected = ::SendMessageW(stations, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR) return {};
    const auto length = ::SendMessageW(stations, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
    if (length == CB_ERR) return {};
    std::wstring name(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(stations, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(name.data()));
    name.resize(static_cast<std::size_t>(length));
    return toAnsi(name.substr(0, kStationCodeLength));
}

void LauncherDialog::onStationChange()
{
    if (const std::optional<std::string> directory = stationDirectory(stations_, stationCode())) {
        ::SetDlgItemTextW(window_, IDC_DATA_DIR, fromAnsi(*directory).c_str());
    }
}

void LauncherDialog::onBrowseDataDir()
{
    if (batchRunning()) return;
    if (const std::optional<std::wstring> chosen = browseForFolder(window_, windowText(control(IDC_DATA_DIR)))) {
        ::SetDlgItemTextW(window_, IDC_DATA_DIR, chosen->c_str());
    }
}

void LauncherDialog::onSelectTrz()
{
    if (batchRunning()) return;
    ::CheckDlgButton(window_, IDC_OUTPUT_TRZ, BST_CHECKED);
    ::CheckDlgButton(window_, IDC_OUTPUT_CSS, BST_UNCHECKED);
}

void LauncherDialog::onSelectCss()
{
    if (batchRunning()) return;
    ::CheckDlgButton(window_, IDC_OUTPUT_CSS, BST_CHECKED);
    ::CheckDlgButton(window_, IDC_OUTPUT_TRZ, BST_UNCHECKED);
    if (const std::optional<std::wstring> chosen = chooseCssOutput(window_)) cssOutputPath_ = *chosen;
}

void LauncherDialog::onShowResults()
{
    if (ticked(IDC_SHOW_RESULTS)) {
        showResultsText();
        resizeKeepingPosition(fullSize_);
    } else {
        resizeKeepingPosition(compactSize_);
    }
}

void LauncherDialog::onExit()
{
    if (batchRunning()) {
        askToStopSoon();
        return;
    }
    end(IDCANCEL);
}

void LauncherDialog::onAbout()
{
    if (batchRunning()) return;
    ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUTBOX), window_, aboutProcedure, 0);
}

void LauncherDialog::askToStopSoon()
{
    // One question is enough however often the operator presses meanwhile.
    if (phase_ != BatchPhase::Running || stopQuestionPending_ || (batch_ && batch_->stopRequested())) return;
    stopQuestionPending_ = true;
    ::PostMessageW(window_, kAskToStopMessage, 0, 0);
}

void LauncherDialog::askToStop()
{
    if (phase_ != BatchPhase::Running || !batch_ || batch_->stopRequested()) {
        stopQuestionPending_ = false;
        return;
    }
    // The batch waits here: the running converter goes on (its time limit
    // still applies) and is recorded once the answer is given.
    busyCursor_ = false;
    const INT_PTR answer =
        ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_STOP_QUESTION), window_, stopQuestionProcedure, 0);
    if (answer == IDYES && batch_) batch_->requestStop();
    busyCursor_ = phase_ == BatchPhase::Running;
    stopQuestionPending_ = false;
}

BatchSettings LauncherDialog::batchSettings() const
{
    BatchSettings settings;
    settings.station = stationCode();
    if (ticked(IDC_OUTPUT_CSS)) settings.cssPath = toAnsi(cssOutputPath_);
    if (converterProgram_.empty()) {
        settings.converter = locateConverter(executableDirectory());
    } else {
        settings.converter.program = converterProgram_;
        settings.converter.searched = converterProgram_;
    }
    return settings;
}

bool LauncherDialog::dropsBatchInput(const MSG& message)
{
    if (message.hwnd != window_ && !::IsChild(window_, message.hwnd)) return false;
    if (isKey(message.message)) {
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) askToStopSoon();
        return true;
    }
    // "Выход" is still pressed: its command asks whether to stop. The title
    // bar, the close box and the system menu keep working as well.
    if (isMouseButton(message.message)) return message.hwnd != control(IDC_EXIT);
    return false;
}

void LauncherDialog::pumpBatchMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // For the loop outside the batch.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (window_ && dropsBatchInput(message)) continue;
        if (!window_ || !::IsDialogMessageW(window_, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

void LauncherDialog::runBatch(BatchRun batch)
{
    batch_ = std::make_unique<BatchRun>(std::move(batch));
    const std::string program = batch_->settings().converter.program;
    HWND progress = control(IDC_PROGRESS);
    ::SendMessageW(progress, PBM_SETRANGE32, 0, batch_->progressMaximum());
    ::SendMessageW(progress, PBM_SETPOS, 0, 0);
    phase_ = BatchPhase::Running;
    busyCursor_ = true;
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));

    const MessagePump pump = [this] { pumpBatchMessages(); };
    while (const std::optional<BatchStep> step = batch_->nextStep()) {
        ::SetWindowTextW(progress, fromAnsi(batch_->progressText(*step)).c_str());
        ::SendMessageW(progress, PBM_SETPOS, static_cast<WPARAM>(step->index), 0);
        if (step->command) {
            batch_->recordRun(runConverter(program, step->command->arguments, converterTimeoutMs_, pump));
        }
        // Paints the bar and takes a stop request between steps.
        pumpBatchMessages();
    }

    // Ending the batch: the bar shows how far it went (full unless stopped),
    // and the message box is answered with the usual cursor.
    phase_ = BatchPhase::Ending;
    busyCursor_ = false;
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    ::SendMessageW(progress, PBM_SETPOS, static_cast<WPARAM>(batch_->progressEndPosition()), 0);
    ::MessageBoxW(window_, fromUtf8(completionMessage(batch_->counts())).c_str(), applicationName().c_str(),
                  MB_OK | MB_ICONINFORMATION);
    ::SendMessageW(progress, PBM_SETPOS, 0, 0);
    ::SetWindowTextW(progress, L"");
    resultsText_ = batch_->finish();
    batch_.reset();
    if (ticked(IDC_SHOW_RESULTS)) {
        showResultsText();
        resizeKeepingPosition(fullSize_);
    }
    phase_ = BatchPhase::Idle;
}

void LauncherDialog::onConvertInterval()
{
    if (batchRunning()) return;
    resultsText_.clear();
    ::SetDlgItemTextW(window_, IDC_RESULTS, L"");
    const SYSTEMTIME date = pickerTime(control(IDC_START_DATE));
    const SYSTEMTIME time = pickerTime(control(IDC_START_TIME));
    const StartTime start{date.wYear, date.wMonth, date.wDay, time.wHour, time.wMinute};
    runBatch(BatchRun::interval(batchSettings(), toAnsi(windowText(control(IDC_DATA_DIR))), start,
                                intervalStepCount(toAnsi(windowText(control(IDC_INTERVAL))))));
}

void LauncherDialog::onConvertFiles()
{
    if (batchRunning()) return;
    const std::vector<std::wstring> chosen = chooseFilesToConvert(window_, windowText(control(IDC_DATA_DIR)));
    if (chosen.empty()) return;
    ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);

    resultsText_.clear();
    ::SetDlgItemTextW(window_, IDC_RESULTS, L"");
    std::vector<std::string> paths;
    for (const std::wstring& path : chosen) paths.push_back(toAnsi(path));
    runBatch(BatchRun::pickedFiles(batchSettings(), std::move(paths), settingsFilePath(startDirectory_)));
}

}  // namespace tremcvt::win32
