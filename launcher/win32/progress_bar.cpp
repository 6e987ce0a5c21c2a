#include "launcher/win32/progress_bar.h"

#include <commctrl.h>

#include <string>

#include "launcher/win32/subclass.h"
#include "launcher/win32/texts.h"
#include "launcher/win32/win32_handles.h"

namespace tremcvt::win32 {
namespace {

// The part of the client area that the bar has filled.
RECT filledPart(HWND bar, const RECT& client)
{
    PBRANGE range{};
    ::SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const auto position = static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
    RECT filled = client;
    const int span = range.iHigh - range.iLow;
    const int width = client.right - client.left;
    filled.right = span > 0 ? client.left + MulDiv(position - range.iLow, width, span) : client.left;
    return filled;
}

// The text in the highlight's text colour over the filled part and in the
// window's text colour over the rest, so it reads on both.
void drawText(HWND bar, HDC dc, const RECT& client, const std::wstring& text)
{
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(::GetParent(bar), WM_GETFONT, 0, 0));
    SelectedObject selected(dc, font ? static_cast<HGDIOBJ>(font) : ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(dc, TRANSPARENT);
    const RECT filled = filledPart(bar, client);
    RECT rest = client;
    rest.left = filled.right;
    const struct {
        RECT part;
        int colour;
    } parts[] = {{filled, COLOR_HIGHLIGHTTEXT}, {rest, COLOR_WINDOWTEXT}};
    for (const auto& [part, colour] : parts) {
        if (part.right <= part.left) continue;
        const int saved = ::SaveDC(dc);
        ::IntersectClipRect(dc, part.left, part.top, part.right, part.bottom);
        ::SetTextColor(dc, ::GetSysColor(colour));
        RECT area = client;
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        ::RestoreDC(dc, saved);
    }
}

void paint(HWND bar)
{
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(bar, &ps);
    RECT client;
    ::GetClientRect(bar, &client);
    const int width = client.right - client.left, height = client.bottom - client.top;
    UniqueMemoryDc memory(::CreateCompatibleDC(dc));
    UniqueGdiObject bitmap(::CreateCompatibleBitmap(dc, width, height));
    if (memory && bitmap) {
        // Drawn off screen, so the text never flickers over the bar.
        SelectedObject selected(memory.get(), bitmap.get());
        callControlProcedure(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.get()),
                             PRF_CLIENT | PRF_ERASEBKGND);
        drawText(bar, memory.get(), client, windowText(bar));
        ::BitBlt(dc, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
    } else {
        callControlProcedure(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    }
    ::EndPaint(bar, &ps);
}

LRESULT CALLBACK progressProcedure(HWND bar, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        if (wParam) break;  // painting into a given device context: the control's own
        paint(bar);
        return 0;
    case WM_ERASEBKGND:
        return TRUE;  // the paint covers the whole client area
    case WM_SETTEXT: {
        const LRESULT result = callControlProcedure(bar, message, wParam, lParam);
        ::InvalidateRect(bar, nullptr, FALSE);
        return result;
    }
    default:
        break;
    }
    return callControlProcedure(bar, message, wParam, lParam);
}

}  // namespace

void makeProgressBarWithText(HWND progressBar)
{
    subclassControl(progressBar, progressProcedure);
}

}  // namespace tremcvt::win32
