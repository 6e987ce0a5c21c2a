#include "launcher/win32/texts.h"

#include <vector>

namespace tremcvt::win32 {
namespace {

std::wstring widened(UINT codePage, std::string_view text)
{
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::wstring modulePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::wstring fromAnsi(std::string_view text)
{
    return widened(CP_ACP, text);
}

std::wstring fromUtf8(std::string_view text)
{
    return widened(CP_UTF8, text);
}

std::string toAnsi(std::wstring_view text)
{
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring windowText(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

std::wstring loadString(HINSTANCE instance, UINT id)
{
    const wchar_t* resource = nullptr;
    // With a zero length LoadStringW hands out the resource's own read-only text.
    const int length = ::LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&resource), 0);
    return length > 0 ? std::wstring(resource, static_cast<std::size_t>(length)) : std::wstring();
}

std::wstring editControlText(std::string_view text)
{
    const std::wstring wide = fromAnsi(text);
    std::wstring lines;
    lines.reserve(wide.size() + wide.size() / 32);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\n' && (i == 0 || wide[i - 1] != L'\r')) lines += L'\r';
        lines += wide[i];
    }
    return lines;
}

std::wstring applicationName()
{
    std::wstring name = modulePath();
    const std::size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.erase(dot);
    return name;
}

std::string executableDirectory()
{
    std::wstring path = modulePath();
    const std::size_t slash = path.find_last_of(L"\\/");
    path.erase(slash == std::wstring::npos ? 0 : slash);
    return toAnsi(path);
}

}  // namespace tremcvt::win32
