// Batch runs of the Windows dialog: with the stand-in converter (it prints,
// sleeps or exits as the file it is given says) for the lookups, the order of
// picked files, the time limit, long reports, failures and stopping; and with
// the real tremcvt.exe beside the test program.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/platform.h"
#include "launcher/win32/resource.h"
#include "launcher/win32/texts.h"
#include "tests/launcher/win32/dialog_driver.h"

namespace tremcvt::win32::test {
namespace {

std::string fileOpenError(const std::wstring& path)
{
    return "File open error (" + toAnsi(path) + ").\r\n";
}

std::string summary(int steps, int converted, int missing, int timeOuts, int failures, int notStarted)
{
    std::ostringstream line;
    line << "Steps: " << steps << ", files converted: " << converted << ", minutes missing: " << missing
         << ", failed runs: " << timeOuts + failures + notStarted << " (time-outs: " << timeOuts
         << ", converter failures: " << failures << ", not started: " << notStarted << ").\r\n";
    return line.str();
}

std::wstring completion(int failures)
{
    return L"Операция завершена!\nОшибки = " + std::to_wstring(failures);
}

std::size_t count(const std::string& text, const std::string& part)
{
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++found;
    return found;
}

// What a message box showed, and how the dialog looked at that moment.
struct Message {
    std::wstring caption;
    std::wstring text;
    bool progressFull = false;
    std::wstring resultsBox;
    bool busyCursor = false;
};

class BatchRun : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        ::SetEnvironmentVariableW(L"TREMCVT_STAND_IN_LOG", path(L"run.log").c_str());
    }
    void TearDown() override
    {
        ::SetEnvironmentVariableW(L"TREMCVT_STAND_IN_LOG", nullptr);
        DialogTest::TearDown();
    }

    // The dialog over the stand-in converter.
    LauncherDialog& startWithStandIn(const std::string& settings)
    {
        LauncherDialog& dialog = startDialog(settings.c_str());
        dialog.setConverterProgram(executableDirectory() + "\\tremcvt_stand_in.exe");
        return dialog;
    }

    std::vector<std::string> runLog() const
    {
        std::vector<std::string> lines;
        std::ifstream log(directory_ / "run.log");
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }

    bool busyCursor() const
    {
        HWND window = dialog_->window();
        ::SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return ::GetCursor() == ::LoadCursorW(nullptr, IDC_WAIT);
    }

    // Looks at the dialog while a batch runs (every 20 ms, from the batch's
    // own wait): answers the message box, notes the bar's texts, and hands
    // any other modal window to onModal.
    void observe(const std::function<void(HWND, ModalKind)>& onModal = {})
    {
        HWND window = dialog_->window();
        timer_ = std::make_unique<TestTimer>(20, [this, window, onModal] {
            HWND bar = item(IDC_PROGRESS);
            HWND modal = openDialog(window);
            const std::wstring barText = windowText(bar);
            if (!barText.empty() && (barTexts_.empty() || barTexts_.back() != barText)) {
                barTexts_.push_back(barText);
                // While the message box is open the batch has ended.
                if (!modal) busyWhileRunning_ = busyWhileRunning_ && busyCursor();
            }
            if (!modal || !::IsWindowEnabled(modal)) return;
            const ModalKind kind = modalKind(modal);
            if (kind != ModalKind::MessageBox) {
                if (onModal) onModal(modal, kind);
                return;
            }
            const std::vector<std::wstring> texts = staticTexts(modal);
            Message message;
            message.caption = windowText(modal);
            for (const std::wstring& text : texts) message.text += text;
            const auto position = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
            message.progressFull = position == ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
            message.resultsBox = text(IDC_RESULTS);
            message.busyCursor = busyCursor();
            messages_.push_back(message);
            click(modal, IDOK);
        });
    }

    // Picks files in the real open dialog, typed as names in its folder.
    void convertFiles(const std::wstring& names)
    {
        observe([names](HWND modal, ModalKind kind) {
            if (kind == ModalKind::FileDialog) answerFileDialog(modal, names);
        });
        click(dialog_->window(), IDC_CONVERT_FILES);
    }

    void convertInterval()
    {
        observe();
        click(dialog_->window(), IDC_CONVERT_INTERVAL);
    }

    void setStart(WORD year, WORD month, WORD day, WORD hour, WORD minute, const std::wstring& interval)
    {
        SYSTEMTIME start{};
        start.wYear = year;
        start.wMonth = month;
        start.wDay = day;
        start.wHour = hour;
        start.wMinute = minute;
        ::SendMessageW(item(IDC_START_DATE), DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&start));
        ::SendMessageW(item(IDC_START_TIME), DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&start));
        setText(IDC_INTERVAL, interval);
    }

    std::string results() const { return dialog_->resultsText(); }

    std::unique_ptr<TestTimer> timer_;
    std::vector<Message> messages_;
    std::vector<std::wstring> barTexts_;
    bool busyWhileRunning_ = true;
};

TEST_F(BatchRun, IntervalBatchLooksUpEveryMinute)
{
    const std::wstring win = path(L"win data");
    startWithStandIn("[system]\nnsta=1\n[sta0]\nname=kam\ndir=" + toAnsi(win) + "\n");
    // First layout for the last minute of 2009, third layout for the first
    // of 2010, nothing for the minute after.
    writeFile(L"win data\\091231\\09123123\\09123123.59", "text first\nsleep 300\n");
    writeFile(L"win data\\10010100.00", "text second\nsleep 300\n");
    setStart(2009, 12, 31, 23, 59, L"000 00:03");
    click(dialog_->window(), IDC_SHOW_RESULTS);
    convertInterval();

    const std::string expected = "first\r\n" + fileOpenError(win + L"\\100101\\10010100\\10010100.00") +
                                 fileOpenError(win + L"\\100101\\10010100.00") + "second\r\n" +
                                 fileOpenError(win + L"\\100101\\10010100\\10010100.01") +
                                 fileOpenError(win + L"\\100101\\10010100.01") +
                                 fileOpenError(win + L"\\10010100.01") + summary(3, 2, 1, 0, 0, 0);
    EXPECT_EQ(results(), expected);
    EXPECT_EQ(runLog(), (std::vector<std::string>{"KAM|" + toAnsi(win) + "\\091231\\09123123\\09123123.59",
                                                  "KAM|" + toAnsi(win) + "\\10010100.00"}));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, completion(1));
    EXPECT_EQ(messages_[0].caption, applicationName());
    EXPECT_TRUE(messages_[0].progressFull);
    EXPECT_EQ(messages_[0].resultsBox, L"");  // emptied when the batch started
    EXPECT_FALSE(messages_[0].busyCursor);    // the message box is answered with the usual cursor
    // The bar names the step and the minute; the cursor is busy meanwhile;
    // afterwards the bar is plain again.
    EXPECT_EQ(::SendMessageW(item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), 2);
    ASSERT_GE(barTexts_.size(), 2u);
    EXPECT_EQ(barTexts_[0], L"1 / 3  09123123.59");
    EXPECT_EQ(barTexts_[1], L"2 / 3  10010100.00");
    EXPECT_TRUE(busyWhileRunning_);
    EXPECT_EQ(text(IDC_PROGRESS), L"");
    EXPECT_EQ(::SendMessageW(item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
    EXPECT_FALSE(busyCursor());
    RECT window;
    ::GetWindowRect(dialog_->window(), &window);
    EXPECT_EQ(window.bottom - window.top, dialog_->fullSize().cy);
    EXPECT_EQ(text(IDC_RESULTS), fromAnsi(expected));
}

TEST_F(BatchRun, IntervalLengths)
{
    startWithStandIn("[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + toAnsi(path(L"absent")) + "\n");
    setStart(2010, 3, 3, 2, 0, L"000 00:00");
    convertInterval();
    EXPECT_EQ(results(), std::string("Operation has been completed successfully!\r\n") + summary(0, 0, 0, 0, 0, 0));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, completion(0));
    EXPECT_FALSE(messages_[0].progressFull);  // no step: the bar stays empty

    // A whole day with no files: every minute fails after three lookups.
    setText(IDC_INTERVAL, L"001 00:00");
    convertInterval();
    EXPECT_EQ(::SendMessageW(item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), 1439);
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1].text, completion(1440));
    EXPECT_TRUE(messages_[1].progressFull);
    EXPECT_EQ(count(results(), "File open error"), 3u * 1440);
    EXPECT_TRUE(results().ends_with(summary(1440, 0, 1440, 0, 0, 0)));
    EXPECT_TRUE(runLog().empty());
}

TEST_F(BatchRun, PickedFilesRunInNameOrderWithTheirArguments)
{
    const std::wstring picked = path(L"picked files");
    const std::string stations = "[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + toAnsi(picked) + "\n";
    startWithStandIn(stations + "[data]\ndir=D:\\arch dir\n");
    for (const char* name : {"A", "B", "C"}) {
        writeFile(L"picked files\\" + fromAnsi(name), std::string("text from ") + name + "\n");
    }
    // The results box shows an earlier batch's text until the next batch.
    click(dialog_->window(), IDC_SHOW_RESULTS);
    convertInterval();
    EXPECT_NE(text(IDC_RESULTS), L"");

    // Chosen in the open dialog as C, A, B; converted in name order.
    convertFiles(L"\"C\" \"A\" \"B\"");
    const std::string dir = toAnsi(picked);
    EXPECT_EQ(runLog(), (std::vector<std::string>{"KAM|" + dir + "\\A|data=D:\\arch dir",
                                                  "KAM|" + dir + "\\B|data=D:\\arch dir",
                                                  "KAM|" + dir + "\\C|data=D:\\arch dir"}));
    EXPECT_EQ(results(), "from A\r\nfrom B\r\nfrom C\r\n" + summary(3, 3, 0, 0, 0, 0));
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1].text, completion(0));
    EXPECT_EQ(messages_[1].resultsBox, L"");

    // CSS output, chosen in the save dialog, and the archive directory read
    // afresh: without the key the built-in one applies.
    writeFile(L"tremcvt.ini", stations);
    std::filesystem::remove(directory_ / "run.log");
    timer_.reset();
    const std::wstring wfdisc = path(L"out dir\\w.wfdisc");
    {
        TestTimer answer(50, [&] {
            HWND modal = openDialog(dialog_->window());
            if (modal && ::IsWindowEnabled(modal) && modalKind(modal) == ModalKind::FileDialog) {
                answerFileDialog(modal, wfdisc);
            }
        });
        click(dialog_->window(), IDC_OUTPUT_CSS);
    }
    EXPECT_EQ(dialog_->cssOutputPath(), wfdisc);
    EXPECT_EQ(::IsDlgButtonChecked(dialog_->window(), IDC_OUTPUT_CSS), BST_CHECKED);
    EXPECT_EQ(::IsDlgButtonChecked(dialog_->window(), IDC_OUTPUT_TRZ), BST_UNCHECKED);
    convertFiles(L"\"B\" \"A\"");
    const std::string archive = defaultDataDirectory();
    EXPECT_EQ(runLog(), (std::vector<std::string>{"KAM|" + dir + "\\A|css=" + toAnsi(wfdisc) + "|data=" + archive,
                                                  "KAM|" + dir + "\\B|css=" + toAnsi(wfdisc) + "|data=" + archive}));

    // Cancelling the save dialog keeps the path; TRZ keeps it too.
    timer_.reset();
    {
        TestTimer answer(50, [&] {
            HWND modal = openDialog(dialog_->window());
            if (modal && ::IsWindowEnabled(modal) && modalKind(modal) == ModalKind::FileDialog) {
                click(modal, IDCANCEL);
            }
        });
        click(dialog_->window(), IDC_OUTPUT_CSS);
    }
    click(dialog_->window(), IDC_OUTPUT_TRZ);
    EXPECT_EQ(dialog_->cssOutputPath(), wfdisc);
    EXPECT_EQ(::IsDlgButtonChecked(dialog_->window(), IDC_OUTPUT_TRZ), BST_CHECKED);
    EXPECT_EQ(::IsDlgButtonChecked(dialog_->window(), IDC_OUTPUT_CSS), BST_UNCHECKED);

    // A cancelled open dialog starts nothing.
    const std::string before = results();
    observe([](HWND modal, ModalKind kind) {
        if (kind == ModalKind::FileDialog) click(modal, IDCANCEL);
    });
    click(dialog_->window(), IDC_CONVERT_FILES);
    EXPECT_EQ(messages_.size(), 3u);
    EXPECT_EQ(results(), before);
}

TEST_F(BatchRun, SlowConverterIsStoppedAtTheTimeLimitAndInputIsIgnored)
{
    startWithStandIn("[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + toAnsi(path(L"")) + "\n");
    dialog_->setConverterTimeout(500);
    writeFile(L"1 slow", "text lost\nsleep 30000\n");
    writeFile(L"2 fast", "text ==after\n");

    // Clicks and keys while a batch runs reach nothing: neither a second
    // batch nor the dialog's Enter, nor the interval field.
    const std::wstring interval = text(IDC_INTERVAL);
    bool poked = false;
    TestTimer poke(150, [&] {
        if (poked || !dialog_->batchRunning()) return;
        poked = true;
        click(dialog_->window(), IDC_CONVERT_INTERVAL);
        ::PostMessageW(item(IDC_INTERVAL), WM_CHAR, L'7', 1);
        ::PostMessageW(item(IDC_INTERVAL), WM_KEYDOWN, VK_BACK, 1);
        ::PostMessageW(dialog_->window(), WM_KEYDOWN, VK_RETURN, 1);
        ::PostMessageW(item(IDC_CONVERT_FILES), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        ::PostMessageW(item(IDC_CONVERT_FILES), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    });
    const ULONGLONG started = ::GetTickCount64();
    convertFiles(L"\"2 fast\" \"1 slow\"");
    const ULONGLONG elapsed = ::GetTickCount64() - started;
    EXPECT_LT(elapsed, 5000u);
    EXPECT_GE(elapsed, 500u);

    EXPECT_TRUE(poked);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, completion(1));
    // The stopped run adds nothing; the next finished run sets the offset.
    EXPECT_EQ(results(), "==after\r\n" + summary(2, 1, 0, 1, 0, 0));
    EXPECT_EQ(runLog().size(), 2u);
    EXPECT_EQ(text(IDC_INTERVAL), interval);
    EXPECT_TRUE(::IsWindow(dialog_->window()));
    EXPECT_FALSE(dialog_->batchRunning());
}

TEST_F(BatchRun, LongReportArrivesWhole)
{
    startWithStandIn("[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + toAnsi(path(L"")) + "\n");
    // Far more than the pipe holds: the child would block if it were read only at its end.
    writeFile(L"big", "print 1048576\ntext END\n");
    convertFiles(L"big");
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, completion(0));
    const std::string summaryLine = summary(1, 1, 0, 0, 0, 0);
    const std::string text = results();
    // Every 64th byte is a line end, which the console output writes as "\r\n".
    EXPECT_EQ(text.size(), 1048576u + 1048576u / 64 + 5 + summaryLine.size());
    EXPECT_EQ(text.substr(0, 26), "abcdefghijklmnopqrstuvwxyz");
    EXPECT_TRUE(text.ends_with("END\r\n" + summaryLine));
}

TEST_F(BatchRun, FailureCodesAndAConverterThatCannotStart)
{
    startWithStandIn("[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + toAnsi(path(L"")) + "\n");
    // The converter's codes for a failed connection, an unopened WIN file,
    // an exception and a refused setting fail; problem counts do not.
    const std::vector<std::pair<std::string, int>> runs = {{"a0", -1}, {"a1", -2}, {"a2", -3}, {"a3", -4},
                                                           {"a4", 3},  {"a5", 0},  {"a6", 250}, {"a7", -6}};
    std::wstring names;
    std::string reports;
    for (const auto& [name, code] : runs) {
        writeFile(fromAnsi(name), "text report " + name + "\nexit " + std::to_string(code) + "\n");
        names += L"\"" + fromAnsi(name) + L"\" ";
        reports += "report " + name + "\r\n";
    }
    convertFiles(names);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, completion(5));
    // The reports of failed runs are merged all the same.
    EXPECT_EQ(results(), reports + summary(8, 3, 0, 0, 5, 0));

    const std::wstring missing = path(L"no such dir\\tremcvt.exe");
    dialog_->setConverterProgram(toAnsi(missing));
    convertFiles(L"\"a0\" \"a1\" \"a2\"");
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1].text, completion(3));
    const std::string text = results();
    EXPECT_TRUE(text.starts_with("The converter could not be started: ")) << text;
    EXPECT_NE(text.find(toAnsi(missing)), std::string::npos);
    EXPECT_EQ(count(text, "\r\n"), 2u);  // named once, then the summary
    EXPECT_TRUE(text.ends_with(summary(3, 0, 0, 0, 0, 3)));
}

TEST_F(BatchRun, StopRequestEndsTheBatchAfterTheRunningStep)
{
    enum class Trigger { ExitButton, Escape, CloseBox };
    struct Case {
        Trigger trigger;
        int answer;
    };
    for (const Case c : {Case{Trigger::ExitButton, IDYES}, Case{Trigger::Escape, IDYES},
                         Case{Trigger::CloseBox, IDYES}, Case{Trigger::ExitButton, IDNO}}) {
        SCOPED_TRACE(::testing::Message() << "trigger " << static_cast<int>(c.trigger) << ", answer " << c.answer);
        std::filesystem::remove(directory_ / "run.log");
        messages_.clear();
        startWithStandIn("[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + toAnsi(path(L"win")) + "\n");
        constexpr int kSteps = 6;
        std::wstring names;
        for (int i = kSteps - 1; i >= 0; --i) {
            const std::wstring name = L"100303020" + std::to_wstring(i) + L".00";
            writeFile(L"win\\" + name, "text step " + std::to_string(i) + "\nsleep 250\n");
            names += L"\"" + name + L"\" ";
        }

        // While the third step runs the operator asks to stop, twice; the
        // question is answered once it is open.
        HWND window = dialog_->window();
        int questions = 0;
        std::wstring questionCaption;
        std::vector<std::wstring> questionTexts, buttons;
        bool busyWhileAsking = true;
        bool asked = false;
        TestTimer press(20, [&] {
            if (asked || ::SendMessageW(item(IDC_PROGRESS), PBM_GETPOS, 0, 0) != 2) return;
            asked = true;
            for (int time = 0; time < 2; ++time) {
                if (c.trigger == Trigger::ExitButton) {
                    click(window, IDC_EXIT);
                } else if (c.trigger == Trigger::Escape) {
                    ::PostMessageW(item(IDC_CONVERT_INTERVAL), WM_KEYDOWN, VK_ESCAPE, 1);
                } else {
                    ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
                }
            }
        });
        observe([&](HWND modal, ModalKind kind) {
            if (kind == ModalKind::FileDialog) answerFileDialog(modal, names);
            if (kind != ModalKind::StopQuestion) return;
            ++questions;
            questionCaption = windowText(modal);
            questionTexts = staticTexts(modal);
            buttons = {windowText(::GetDlgItem(modal, IDYES)), windowText(::GetDlgItem(modal, IDNO))};
            busyWhileAsking = busyCursor();
            click(modal, c.answer);
        });
        click(window, IDC_CONVERT_FILES);

        EXPECT_EQ(questions, 1);
        EXPECT_EQ(questionCaption, applicationName());
        EXPECT_NE(std::find(questionTexts.begin(), questionTexts.end(), L"Остановить конвертирование?"),
                  questionTexts.end());
        EXPECT_EQ(buttons, (std::vector<std::wstring>{L"Да", L"Нет"}));
        EXPECT_FALSE(busyWhileAsking);
        EXPECT_TRUE(::IsWindow(window));
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0].text, completion(0));

        const bool stopped = c.answer == IDYES;
        const int done = stopped ? 3 : kSteps;  // the running third step still ends
        EXPECT_EQ(runLog().size(), static_cast<std::size_t>(done));
        std::string expected;
        for (int i = 0; i < done; ++i) expected += "step " + std::to_string(i) + "\r\n";
        expected += stopped ? "Steps: 6 (stopped, 3 left undone), files converted: 3, minutes missing: 0, "
                              "failed runs: 0 (time-outs: 0, converter failures: 0, not started: 0).\r\n"
                            : summary(kSteps, kSteps, 0, 0, 0, 0);
        EXPECT_EQ(results(), expected);
        EXPECT_FALSE(dialog_->batchRunning());

        // The dialog takes its input again: "Выход" now closes it.
        timer_.reset();
        click(window, IDC_EXIT);
        EXPECT_FALSE(::IsWindow(window));
    }
}

// The real converter beside the test program, as the launcher finds it,
// over the real minute files 10030302.00 ... .10.
class RealConverter : public BatchRun {
protected:
    void startOverMinuteFiles(const std::string& database, const std::string& archive, const char* interval)
    {
        const std::wstring win = windowsPath(TREMCVT_SHARED_WIN_DIR);
        if (!std::filesystem::exists(std::filesystem::path(win) / L"10030302.10")) {
            GTEST_SKIP() << "no WIN recordings in " << TREMCVT_SHARED_WIN_DIR;
        }
        startDialog(("[system]\nnsta=1\ndir=" + toAnsi(win) + "\ntime=03/03/2010 02:00\ntimeqty=" + interval +
                     "\n[sta0]\nname=KAM\na100=HHZ\na101=HHN\n[DATABASE]\nODBC=" + database +
                     "\n[DATA]\nDIR=" + archive + "\n")
                        .c_str());
        minuteFiles_ = win;
    }

    std::wstring minuteFiles_;
};

TEST_F(RealConverter, WithoutItsDataSourceEveryStepFails)
{
    startOverMinuteFiles("TREMCVT_NO_SUCH_SOURCE", toAnsi(path(L"archive")), "000 00:03");
    if (IsSkipped()) return;
    convertInterval();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, completion(3));
    const std::string text = results();
    // The report has no "=": every later one is shown whole.
    EXPECT_EQ(count(text, "Connection error (ODBC: TREMCVT_NO_SUCH_SOURCE, USER: TRZ)."), 3u) << text;
    EXPECT_EQ(count(text, "File open error"), 6u);
    EXPECT_TRUE(text.ends_with(summary(3, 0, 0, 0, 3, 0))) << text;
}

// The archive that scripts/test-windows.sh prepares and names with
// TREMCVT_LAUNCHER_ARCHIVE (a directory with archive.db behind the data
// source TRZ of the odbc.ini that ODBCINI names, and archive/ below it); it
// compares the result with what the Linux launcher's batch makes of the
// same minutes.
TEST_F(RealConverter, IntervalBatchConvertsTheMinuteFiles)
{
    const char* prepared = std::getenv("TREMCVT_LAUNCHER_ARCHIVE");
    if (!prepared || !*prepared) GTEST_SKIP() << "TREMCVT_LAUNCHER_ARCHIVE names no prepared archive";
    startOverMinuteFiles("TRZ", std::string(prepared) + "\\archive", "000 00:11");
    if (IsSkipped()) return;
    convertInterval();

    const std::string text = results();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, completion(0)) << text;
    EXPECT_EQ(::SendMessageW(item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), 10);
    // The files lie in the third layout: two misses before each one.
    EXPECT_EQ(count(text, "File open error"), 22u);
    EXPECT_EQ(count(text, "Checking INI-file"), 1u);  // the check block is shown once
    EXPECT_TRUE(text.ends_with(summary(11, 11, 0, 0, 0, 0))) << text;
}

}  // namespace
}  // namespace tremcvt::win32::test
