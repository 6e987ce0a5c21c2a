#include "launcher/win32/interval_edit.h"

#include <string>

#include "launcher/core/interval_field.h"
#include "launcher/win32/subclass.h"
#include "launcher/win32/texts.h"

namespace tremcvt::win32 {
namespace {

constexpr wchar_t kCopyKey = 0x03;       // Ctrl+C
constexpr wchar_t kSelectAllKey = 0x01;  // Ctrl+A
constexpr wchar_t kPasteKey = 0x16;      // Ctrl+V
constexpr wchar_t kCutKey = 0x18;        // Ctrl+X

struct Selection {
    int start = 0;
    int end = 0;
};

Selection selectionOf(HWND edit)
{
    DWORD start = 0, end = 0;
    ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {static_cast<int>(start), static_cast<int>(end)};
}

std::string fieldText(HWND edit)
{
    return toAnsi(windowText(edit));
}

void apply(HWND edit, const IntervalFieldState& state)
{
    const std::wstring text = fromAnsi(state.text);
    if (text != windowText(edit)) {
        callControlProcedure(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(state.caret), static_cast<LPARAM>(state.caret));
}

void eraseSelection(HWND edit)
{
    const Selection selection = selectionOf(edit);
    if (selection.end <= selection.start) return;
    apply(edit, eraseFromInterval(fieldText(edit), selection.start, selection.end - selection.start));
}

std::wstring clipboardText(HWND owner)
{
    std::wstring text;
    if (!::OpenClipboard(owner)) return text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* locked = static_cast<const wchar_t*>(::GlobalLock(data))) {
            text = locked;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

void paste(HWND edit)
{
    apply(edit, pasteIntoInterval(fieldText(edit), selectionOf(edit).start, toAnsi(clipboardText(edit))));
}

void cut(HWND edit)
{
    callControlProcedure(edit, WM_COPY, 0, 0);
    eraseSelection(edit);
}

void typed(HWND edit, wchar_t character)
{
    const char ascii = character < 0x80 ? static_cast<char>(character) : '\0';
    apply(edit, typeIntoInterval(fieldText(edit), selectionOf(edit).start, ascii));
}

bool keyDown(int key)
{
    return (::GetKeyState(key) & 0x8000) != 0;
}

LRESULT CALLBACK intervalProcedure(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CHAR: {
        const auto character = static_cast<wchar_t>(wParam);
        if (character == kCopyKey || character == kSelectAllKey) break;
        if (character == kCutKey) {
            cut(edit);
        } else if (character == kPasteKey) {
            paste(edit);
        } else if (character >= 0x20 && character != 0x7F) {
            typed(edit, character);
        }
        // Backspace, Ctrl+Backspace, Ctrl+Z and the other control characters do nothing.
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_DELETE) {
            if (keyDown(VK_SHIFT)) cut(edit);
            return 0;
        }
        if (wParam == VK_INSERT && keyDown(VK_SHIFT)) {
            paste(edit);
            return 0;
        }
        break;
    case WM_CUT:
        cut(edit);
        return 0;
    case WM_CLEAR:
        eraseSelection(edit);
        return 0;
    case WM_PASTE:
        paste(edit);
        return 0;
    case WM_UNDO:
    case EM_UNDO:
    case EM_REPLACESEL:
        // Would put back or insert text past the rule.
        return FALSE;
    default:
        break;
    }
    return callControlProcedure(edit, message, wParam, lParam);
}

}  // namespace

void makeIntervalField(HWND edit)
{
    ::SendMessageW(edit, EM_SETLIMITTEXT, kIntervalFieldLength, 0);
    subclassControl(edit, intervalProcedure);
}

}  // namespace tremcvt::win32
