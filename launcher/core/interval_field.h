// The interval field's editing rule: the field always holds nine characters
// "DDD HH:MM" that the user overwrites digit by digit; the blank and the
// colon stay where they are, whatever is typed, cut, deleted or pasted.
#pragma once

#include <string>
#include <string_view>

namespace tremcvt {

inline constexpr int kIntervalFieldLength = 9;

// The field's text and caret after an edit.
struct IntervalFieldState {
    std::string text;
    int caret = 0;
};

// One character typed at caret position p: on a separator (3 or 6) the caret
// steps past it and the character is dropped; otherwise a digit replaces the
// character at p and the caret moves on, past the next separator after
// positions 2 and 5. A non-digit changes nothing, and at the end of a full
// field nothing is added.
IntervalFieldState typeIntoInterval(std::string_view text, int caret, char typed);

// Cut or Delete of the selection [start, start + length): its digits become
// 0, the separators stay, and the caret goes to the selection's start.
IntervalFieldState eraseFromInterval(std::string_view text, int start, int length);

// Paste at caret p: the digits of the pasted text are typed one by one as by
// typeIntoInterval; everything else in it is left out.
IntervalFieldState pasteIntoInterval(std::string_view text, int caret, std::string_view pasted);

}  // namespace tremcvt
