#include "converter/archive/statement_text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "common/platform.h"

namespace tremcvt {

bool StatementText::format(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text_, kCapacity, format, arguments);
    va_end(arguments);
    fits_ = length >= 0 && static_cast<std::size_t>(length) < kCapacity;
    if (!fits_) {
        text_[0] = '\0';
        length_ = 0;
        return false;
    }
    length_ = static_cast<std::size_t>(length);
    return true;
}

std::string sqlText(std::string_view value)
{
    std::string text;
    text.reserve(value.size());
    for (const char c : value) {
        text += c;
        if (c == '\'') text += '\'';
    }
    return text;
}

bool isUnspecifiedLocation(std::string_view locationCode)
{
    return locationCode.empty() || locationCode == "??";
}

std::string locationCondition(std::string_view lcodeName, std::string_view locationCode)
{
    const std::string name(lcodeName);
    if (isUnspecifiedLocation(locationCode)) return "(" + name + "='?\?' or " + name + " is null)";
    return name + "='" + sqlText(locationCode) + "'";
}

std::string loadDateText(std::time_t now)
{
    std::tm local{};
    if (!localCalendarTime(static_cast<std::int64_t>(now), local)) return std::string();
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

}  // namespace tremcvt
