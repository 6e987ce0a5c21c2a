#include "launcher/win32/subclass.h"

namespace tremcvt::win32 {
namespace {

constexpr const wchar_t* kOwnProcedure = L"tremcvt.ownProcedure";

}  // namespace

void subclassControl(HWND control, WNDPROC procedure)
{
    const LONG_PTR own = ::SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    ::SetPropW(control, kOwnProcedure, reinterpret_cast<HANDLE>(own));
}

LRESULT callControlProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto own = reinterpret_cast<WNDPROC>(::GetPropW(control, kOwnProcedure));
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
        ::RemovePropW(control, kOwnProcedure);
    }
    return own ? ::CallWindowProcW(own, control, message, wParam, lParam)
               : ::DefWindowProcW(control, message, wParam, lParam);
}

}  // namespace tremcvt::win32
