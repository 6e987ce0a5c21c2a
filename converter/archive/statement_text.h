// Statement texts as the archive database sends them: built by formatted
// printing into a bounded buffer, with text values written between single
// quotes. A text that would not fit is refused as a whole, never sent cut.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace tremcvt {

class StatementText {
public:
    static constexpr std::size_t kCapacity = 1024;

    StatementText() { text_[0] = '\0'; }

    // Formats the whole statement. False when the result (with its
    // terminator) would exceed kCapacity or the format fails; the text is
    // then empty and fits() is false until the next successful format.
    bool format(const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    bool fits() const { return fits_; }
    const char* c_str() const { return text_; }
    std::string_view view() const { return std::string_view(text_, length_); }

private:
    char text_[kCapacity];
    std::size_t length_ = 0;
    bool fits_ = false;
};

// The value to write between the single quotes of a text literal: every
// single quote doubled, so that a station code, path or component name with
// a quote stays one value and cannot change the statement.
std::string sqlText(std::string_view value);

// A location code that is empty or exactly "??" is unspecified: it matches
// rows whose LCODE is '??' or NULL.
bool isUnspecifiedLocation(std::string_view locationCode);

// The LCODE condition of the catalogue statements: "(L='??' or L is null)"
// for an unspecified location, else "L='code'" (L the resolved column name,
// code passed through sqlText).
std::string locationCondition(std::string_view lcodeName, std::string_view locationCode);

// The load date of catalogue rows: the local time of `now` as
// "%04d-%02d-%02d %02d:%02d:%02d", written into statements as
// "{ts '...'}". Empty when the local time cannot be formed.
std::string loadDateText(std::time_t now);

}  // namespace tremcvt
