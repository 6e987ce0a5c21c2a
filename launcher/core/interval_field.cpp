#include "launcher/core/interval_field.h"

#include <algorithm>

namespace tremcvt {
namespace {

constexpr int kDaySeparator = 3;
constexpr int kTimeSeparator = 6;

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

IntervalFieldState typeIntoInterval(std::string_view text, int caret, char typed)
{
    IntervalFieldState result{std::string(text), caret};
    if (caret == kDaySeparator || caret == kTimeSeparator) {
        result.caret = caret + 1;
        return result;
    }
    const int size = static_cast<int>(text.size());
    if (!isAsciiDigit(typed) || caret < 0 || caret > size) return result;
    if (caret == size) {
        if (size >= kIntervalFieldLength) return result;
        result.text.push_back(typed);
    } else {
        result.text[static_cast<std::size_t>(caret)] = typed;
    }
    result.caret = caret + 1;
    if (caret == kDaySeparator - 1 || caret == kTimeSeparator - 1) result.caret = caret + 2;
    return result;
}

IntervalFieldState eraseFromInterval(std::string_view text, int start, int length)
{
    const int size = static_cast<int>(text.size());
    const int from = std::clamp(start, 0, size);
    const int to = std::clamp(start + std::max(length, 0), from, size);
    IntervalFieldState result{std::string(text), from};
    for (int i = from; i < to; ++i) {
        char& c = result.text[static_cast<std::size_t>(i)];
        if (isAsciiDigit(c)) c = '0';
    }
    return result;
}

IntervalFieldState pasteIntoInterval(std::string_view text, int caret, std::string_view pasted)
{
    IntervalFieldState result{std::string(text), caret};
    for (const char c : pasted) {
        if (isAsciiDigit(c)) result = typeIntoInterval(result.text, result.caret, c);
    }
    return result;
}

}  // namespace tremcvt
