// The launcher's Windows dialog as it is built from its resources and as it
// starts from tremcvt.ini: the controls of the template, the station list,
// the pickers and the interval field, its typing rule, the window sizes, the
// About box, the folder browser and the CSS output choice.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/win32/resource.h"
#include "launcher/win32/texts.h"
#include "tests/launcher/win32/dialog_driver.h"

namespace tremcvt::win32::test {
namespace {

// What the template holds, in template order.
struct ControlRow {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    RECT units;           // x, y, right, bottom in dialog units
    DWORD styleMask;      // the bits of the style that are compared
    DWORD style;
};

constexpr DWORD kButtonType = BS_TYPEMASK;
constexpr DWORD kStaticType = SS_TYPEMASK;

RECT units(int x, int y, int width, int height)
{
    return {x, y, x + width, y + height};
}

const std::vector<ControlRow>& templateTable()
{
    static const std::vector<ControlRow> rows = {
        {IDC_STATION, L"ComboBox", L"", units(7, 21, 48, 63), CBS_DROPDOWNLIST | CBS_SORT | CBS_UPPERCASE,
         CBS_DROPDOWNLIST | CBS_SORT | CBS_UPPERCASE},
        {IDC_DATA_DIR, L"Edit", nullptr, units(59, 20, 187, 14), ES_AUTOHSCROLL | ES_MULTILINE, ES_AUTOHSCROLL},
        {IDC_START_DATE, DATETIMEPICK_CLASSW, nullptr, units(13, 63, 64, 15),
         DTS_LONGDATEFORMAT | DTS_TIMEFORMAT | DTS_APPCANPARSE | DTS_RIGHTALIGN, DTS_APPCANPARSE | DTS_RIGHTALIGN},
        {IDC_START_TIME, DATETIMEPICK_CLASSW, nullptr, units(81, 63, 36, 15), DTS_TIMEFORMAT | DTS_APPCANPARSE,
         DTS_TIMEFORMAT | DTS_APPCANPARSE},
        {IDC_INTERVAL, L"Edit", nullptr, units(70, 84, 47, 14), ES_NUMBER | ES_RIGHT | ES_AUTOHSCROLL | ES_MULTILINE,
         ES_NUMBER | ES_RIGHT | ES_AUTOHSCROLL},
        {IDC_BROWSE, L"Button", L"...", units(247, 20, 17, 14), kButtonType, BS_PUSHBUTTON},
        {IDC_CONVERT_FILES, L"Button", L"Конв. файл(ы)", units(192, 72, 72, 14), kButtonType, BS_PUSHBUTTON},
        {IDC_CONVERT_INTERVAL, L"Button", L"Конвертировать", units(192, 90, 72, 14), kButtonType, BS_PUSHBUTTON},
        {IDC_EXIT, L"Button", L"Выход", units(192, 130, 72, 14), kButtonType, BS_PUSHBUTTON},
        {IDC_STATIC, L"Static", L"Имя станции:", units(7, 10, 50, 8), kStaticType, SS_LEFT},
        {IDC_STATIC, L"Static", L"Путь к каталогу с данными", units(94, 10, 97, 8), kStaticType, SS_LEFT},
        {IDC_PROGRESS, PROGRESS_CLASSW, L"", units(7, 111, 257, 14), PBS_SMOOTH | PBS_VERTICAL, PBS_SMOOTH},
        {IDC_STATIC, L"Button", L"Интервал времени", units(7, 38, 117, 67), kButtonType, BS_GROUPBOX},
        {IDC_STATIC, L"Static", L"Время начала:", units(14, 52, 102, 8), kStaticType, SS_CENTER},
        {IDC_STATIC, L"Static", L"Интервал:", units(14, 88, 51, 8), kStaticType, SS_LEFT},
        {IDC_RESULTS, L"Edit", L"", units(7, 151, 257, 136),
         ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL,
         ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL},
        {IDC_SHOW_RESULTS, L"Button", L"Отображатть результаты работы", units(7, 139, 150, 10), kButtonType,
         BS_AUTOCHECKBOX},
        {IDC_STATIC, L"Button", L"Конвертировать", units(131, 38, 133, 30), kButtonType, BS_GROUPBOX},
        {IDC_OUTPUT_TRZ, L"Button", L"TRZ", units(136, 50, 36, 10), kButtonType, BS_RADIOBUTTON},
        {IDC_OUTPUT_CSS, L"Button", L"CSS", units(201, 50, 30, 10), kButtonType, BS_RADIOBUTTON},
    };
    return rows;
}

RECT pixels(HWND dialog, const RECT& units)
{
    RECT origin{units.left, units.top, units.left, units.top};
    RECT size{0, 0, units.right - units.left, units.bottom - units.top};
    ::MapDialogRect(dialog, &origin);
    ::MapDialogRect(dialog, &size);
    return {origin.left, origin.top, origin.left + size.right, origin.top + size.bottom};
}

RECT childRect(HWND dialog, HWND child)
{
    RECT rect;
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE windowSize(HWND window)
{
    RECT rect;
    ::GetWindowRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

SYSTEMTIME pickerValue(HWND picker)
{
    SYSTEMTIME value{};
    ::SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&value));
    return value;
}

std::vector<std::wstring> stationNames(HWND combo)
{
    std::vector<std::wstring> names;
    const auto count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t name[64] = {};
        ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
        names.emplace_back(name);
    }
    return names;
}

void selectStation(HWND dialog, int index)
{
    ::SendDlgItemMessageW(dialog, IDC_STATION, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // As the combo box tells its dialog when the operator picks an entry.
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_STATION, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_STATION)));
}

void setClipboard(HWND owner, const std::wstring& text)
{
    ASSERT_TRUE(::OpenClipboard(owner));
    ::EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    std::memcpy(::GlobalLock(memory), text.c_str(), bytes);
    ::GlobalUnlock(memory);
    ::SetClipboardData(CF_UNICODETEXT, memory);
    ::CloseClipboard();
}

using LauncherWindow = DialogTest;

TEST_F(LauncherWindow, TemplateHoldsTheControlsOfTheResourceTable)
{
    LauncherDialog& dialog = startDialog(nullptr);
    HWND window = dialog.window();
    EXPECT_EQ(windowText(window), L"Tremcvt");
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");

    const std::vector<ControlRow>& rows = templateTable();
    std::size_t index = 0;
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT), ++index) {
        ASSERT_LT(index, rows.size()) << "more controls than the table holds";
        const ControlRow& row = rows[index];
        SCOPED_TRACE(::testing::Message() << "control " << index << " (ID " << row.id << ")");
        EXPECT_EQ(::GetDlgCtrlID(child), row.id);
        wchar_t className[64] = {};
        ::GetClassNameW(child, className, 64);
        EXPECT_EQ(_wcsicmp(className, row.className), 0) << toAnsi(className);
        if (row.text) {
            EXPECT_EQ(windowText(child), row.text);
        }
        const auto childStyle = static_cast<DWORD>(::GetWindowLongPtrW(child, GWL_STYLE));
        EXPECT_EQ(childStyle & row.styleMask, row.style);

        // The dialog manager converts the position and the size of a
        // control each on its own.
        const RECT expected = pixels(window, row.units);
        const RECT actual = childRect(window, child);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right, expected.right);
        // A drop-down list is as high as its field (63 units is the open
        // list's height, which wine and Windows reckon differently).
        if (row.id != IDC_STATION) {
            EXPECT_EQ(actual.bottom, expected.bottom);
        }
    }
    EXPECT_EQ(index, rows.size());

    // The About item of the system menu, and the icon.
    HMENU systemMenu = ::GetSystemMenu(window, FALSE);
    wchar_t item[64] = {};
    ASSERT_GT(::GetMenuStringW(systemMenu, IDM_ABOUTBOX, item, 64, MF_BYCOMMAND), 0);
    EXPECT_STREQ(item, L"&О tremcvt_GUI...");
    const int count = ::GetMenuItemCount(systemMenu);
    EXPECT_EQ(::GetMenuItemID(systemMenu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(::GetMenuState(systemMenu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR,
              static_cast<UINT>(MF_SEPARATOR));
    EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(::SendMessageW(window, WM_QUERYDRAGICON, 0, 0), ::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
}

TEST_F(LauncherWindow, StartUpReadsStationsStartAndInterval)
{
    const std::string longDir = "C:\\" + std::string(140, 'd');
    const std::string settings = "[system]\nnsta=6\ndir=C:\\srv\\common\ntime=14/09/2009 11:04\ntimeqty=1 2:3\n"
                                 "[sta0]\nname=tlg\ndir=C:\\srv\\tlg\n"
                                 "[sta1]\nname=ab\ndir=C:\\srv\\ab-lower\n"
                                 "[sta2]\nname=\ndir=C:\\srv\\nameless\n"
                                 "[sta3]\nname=AB\ndir=C:\\srv\\ab-upper\n"
                                 "[sta4]\nname=kamchatka\n"
                                 "[sta5]\nname=zz\ndir=" + longDir + "\n"
                                 "[sta6]\nname=beyond\n";
    LauncherDialog& dialog = startDialog(settings.c_str());
    HWND window = dialog.window();
    EXPECT_EQ(stationNames(item(IDC_STATION)),
              (std::vector<std::wstring>{L"AB", L"AB", L"KAMCHAT", L"TLG", L"ZZ"}));
    EXPECT_EQ(dialog.stations().size(), 6u);  // the nameless entry stays
    EXPECT_EQ(::SendMessageW(item(IDC_STATION), CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(text(IDC_DATA_DIR), L"C:\\srv\\ab-upper");  // the last "ab" in file order

    const std::vector<std::pair<int, std::wstring>> selections = {
        {2, L"C:\\srv\\common"}, {1, L"C:\\srv\\ab-upper"}, {3, L"C:\\srv\\tlg"}, {4, fromAnsi(longDir.substr(0, 127))}};
    for (const auto& [index, expected] : selections) {
        selectStation(window, index);
        EXPECT_EQ(text(IDC_DATA_DIR), expected) << index;
    }

    const SYSTEMTIME date = pickerValue(item(IDC_START_DATE)), time = pickerValue(item(IDC_START_TIME));
    EXPECT_EQ(date.wYear, 2009);
    EXPECT_EQ(date.wMonth, 9);
    EXPECT_EQ(date.wDay, 14);
    EXPECT_EQ(time.wHour, 11);
    EXPECT_EQ(time.wMinute, 4);
    EXPECT_EQ(text(IDC_INTERVAL), L"001 02:03");
    EXPECT_EQ(::SendMessageW(item(IDC_INTERVAL), EM_GETLIMITTEXT, 0, 0), 9);
    EXPECT_EQ(::IsDlgButtonChecked(window, IDC_OUTPUT_TRZ), BST_CHECKED);
    EXPECT_EQ(::IsDlgButtonChecked(window, IDC_OUTPUT_CSS), BST_UNCHECKED);
    EXPECT_EQ(::IsDlgButtonChecked(window, IDC_SHOW_RESULTS), BST_UNCHECKED);
}

TEST_F(LauncherWindow, StartUpWithoutSettingsOrWithoutAValidStart)
{
    SYSTEMTIME today{};
    ::GetLocalTime(&today);
    for (const char* settings : {static_cast<const char*>(nullptr), "[system]\ntime=31/02/2009 11:04\n",
                                 "[system]\ntime=01/01/1969 00:00\n"}) {
        SCOPED_TRACE(settings ? settings : "no tremcvt.ini");
        LauncherDialog& dialog = startDialog(settings);
        EXPECT_EQ(::SendMessageW(item(IDC_STATION), CB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(text(IDC_DATA_DIR), L"");
        EXPECT_EQ(text(IDC_INTERVAL), L"000 00:00");
        const SYSTEMTIME date = pickerValue(item(IDC_START_DATE));
        EXPECT_EQ(date.wYear, today.wYear);
        EXPECT_EQ(date.wMonth, today.wMonth);
        EXPECT_EQ(dialog.stations().size(), 1u);
        std::filesystem::remove(directory_ / "tremcvt.ini");
    }
}

TEST_F(LauncherWindow, IntervalFieldKeepsItsForm)
{
    startDialog("[system]\ntimeqty=000 00:00\n");
    HWND field = item(IDC_INTERVAL);
    struct Case {
        const wchar_t* before;
        int caret;
        wchar_t typed;
        const wchar_t* after;
        int caretAfter;
    };
    const Case cases[] = {
        {L"000 00:00", 2, L'1', L"001 00:00", 4},  // past the blank
        {L"000 00:00", 0, L'9', L"900 00:00", 1},
        {L"000 00:00", 3, L'5', L"000 00:00", 4},  // on a separator: the caret steps over it
        {L"000 00:00", 6, L'5', L"000 00:00", 7},
        {L"000 00:00", 5, L'2', L"000 02:00", 7},  // past the colon
        {L"000 00:00", 8, L'7', L"000 00:07", 9},
        {L"000 00:07", 9, L'7', L"000 00:07", 9},  // the field is full
        {L"000 00:00", 1, L'x', L"000 00:00", 1},  // digits only
        {L"123 45:06", 4, L'\b', L"123 45:06", 4},  // Backspace does nothing
        {L"123 45:06", 4, 0x1A, L"123 45:06", 4},   // nor Ctrl+Z
    };
    for (const Case& c : cases) {
        ::SetWindowTextW(field, c.before);
        ::SendMessageW(field, EM_SETSEL, static_cast<WPARAM>(c.caret), static_cast<LPARAM>(c.caret));
        ::SendMessageW(field, WM_CHAR, c.typed, 1);
        DWORD start = 0, end = 0;
        ::SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(windowText(field), c.after) << toAnsi(c.before) << " at " << c.caret;
        EXPECT_EQ(static_cast<int>(start), c.caretAfter) << toAnsi(c.before) << " at " << c.caret;
    }

    // Delete does nothing; a selection typed over starts at its beginning.
    ::SetWindowTextW(field, L"123 45:06");
    ::SendMessageW(field, EM_SETSEL, 1, 6);
    ::SendMessageW(field, WM_KEYDOWN, VK_DELETE, 1);
    EXPECT_EQ(windowText(field), L"123 45:06");
    ::SendMessageW(field, WM_CHAR, L'9', 1);
    EXPECT_EQ(windowText(field), L"193 45:06");

    // Cut and Delete turn the selected digits into 0 (the cut text is on
    // the clipboard); Paste types the pasted digits from the caret on;
    // Undo cannot bring back a text past the rule.
    ::SetWindowTextW(field, L"123 45:06");
    ::SendMessageW(field, EM_SETSEL, 1, 6);
    ::SendMessageW(field, WM_CUT, 0, 0);
    EXPECT_EQ(windowText(field), L"100 00:06");
    ::SendMessageW(field, EM_SETSEL, 0, 0);
    ::SendMessageW(field, WM_PASTE, 0, 0);
    EXPECT_EQ(windowText(field), L"234 50:06");  // "23 45" typed digit by digit
    ::SendMessageW(field, EM_SETSEL, 0, 9);
    ::SendMessageW(field, WM_CLEAR, 0, 0);
    EXPECT_EQ(windowText(field), L"000 00:00");
    setClipboard(field, L"1 day, 2:3x");
    ::SendMessageW(field, EM_SETSEL, 0, 0);
    ::SendMessageW(field, WM_CHAR, 0x16, 1);  // Ctrl+V
    EXPECT_EQ(windowText(field), L"123 00:00");
    ::SendMessageW(field, WM_UNDO, 0, 0);
    ::SendMessageW(field, EM_UNDO, 0, 0);
    EXPECT_EQ(windowText(field), L"123 00:00");
    ::SendMessageW(field, EM_SETSEL, 2, 5);
    ::SendMessageW(field, WM_CHAR, 0x18, 1);  // Ctrl+X
    EXPECT_EQ(windowText(field), L"120 00:00");
}

TEST_F(LauncherWindow, ResultsTickTogglesTheWindowSizeAndTheAboutBoxOpens)
{
    LauncherDialog& dialog = startDialog(nullptr);
    HWND window = dialog.window();
    const RECT templateSize = pixels(window, units(0, 0, 271, 294));
    RECT client;
    ::GetClientRect(window, &client);
    const SIZE compact = windowSize(window);
    EXPECT_EQ(compact.cx, dialog.fullSize().cx);
    EXPECT_EQ(compact.cy, dialog.compactSize().cy);
    // The compact window ends at the results box; the check box stays in view.
    EXPECT_EQ(compact.cy, childRect(nullptr, item(IDC_RESULTS)).top - childRect(nullptr, window).top);
    EXPECT_LE(childRect(window, item(IDC_SHOW_RESULTS)).bottom, client.bottom);
    RECT before;
    ::GetWindowRect(window, &before);

    click(window, IDC_SHOW_RESULTS);
    const SIZE full = windowSize(window);
    EXPECT_EQ(full.cx, dialog.fullSize().cx);
    EXPECT_EQ(full.cy, dialog.fullSize().cy);
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.bottom, templateSize.bottom);
    EXPECT_EQ(client.right, templateSize.right);
    click(window, IDC_SHOW_RESULTS);
    EXPECT_EQ(windowSize(window).cy, compact.cy);
    RECT after;
    ::GetWindowRect(window, &after);
    EXPECT_EQ(after.left, before.left);  // resizing never moves the window
    EXPECT_EQ(after.top, before.top);

    std::wstring caption;
    std::vector<std::wstring> texts;
    {
        TestTimer answer(30, [&] {
            if (HWND about = openDialog(window)) {
                caption = windowText(about);
                texts = staticTexts(about);
                click(about, IDOK);
            }
        });
        ::SendMessageW(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    }
    EXPECT_EQ(caption, L"О программе tremcvt_GUI");
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"tremcvt_GUI Версия 1.0"), texts.end());
}

TEST_F(LauncherWindow, FolderBrowserStartsAtTheFieldsFolder)
{
    // A folder away from the temporary directory, where the directories of
    // tests running beside this one come and go: the browser's tree follows
    // such changes and loses its selection meanwhile.
    struct QuietFolder {
        std::filesystem::path path;
        ~QuietFolder() { std::filesystem::remove_all(path); }
    } quiet{directory_.root_path() / ("tremcvt-browser-" + std::to_string(::GetCurrentProcessId()))};
    const std::wstring win = (quiet.path / L"win data").wstring();
    std::filesystem::create_directories(quiet.path / L"win data" / L"100303");
    const std::string settings = "[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + toAnsi(win) + "\n";
    startDialog(settings.c_str());
    HWND window = dialog_->window();

    // Confirmed: the field takes the preselected folder; the browser shows
    // its title and the selected folder's path on its status line.
    std::vector<std::wstring> texts;
    int answered = 0;
    const auto answerWith = [&](int button) {
        return [&, button, ticks = 0]() mutable {
            HWND browser = openDialog(window);
            if (!browser || !::IsWindowEnabled(browser)) return;
            // As an operator would: once the preselected folder shows on
            // the status line (the tree fills in first), or after 5 s.
            constexpr int kStatusLine = 0x3743;
            if (::GetWindowTextLengthW(::GetDlgItem(browser, kStatusLine)) == 0 && ++ticks < 100) return;
            texts = staticTexts(browser);
            ++answered;
            click(browser, button);
        };
    };
    {
        TestTimer answer(50, answerWith(IDOK));
        click(window, IDC_BROWSE);
    }
    EXPECT_EQ(answered, 1);
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"Выбор каталога"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), win), texts.end());
    EXPECT_EQ(text(IDC_DATA_DIR), win);

    // Cancelled: the field keeps its text.
    setText(IDC_DATA_DIR, win + L"\\100303");
    {
        TestTimer answer(50, answerWith(IDCANCEL));
        click(window, IDC_BROWSE);
    }
    EXPECT_EQ(answered, 2);
    EXPECT_EQ(text(IDC_DATA_DIR), win + L"\\100303");
}

}  // namespace
}  // namespace tremcvt::win32::test
