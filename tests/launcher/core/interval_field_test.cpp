// The interval field's editing rule: typing overwrites digit by digit, Cut
// and Delete turn digits into 0, Paste types the pasted digits; the form
// "DDD HH:MM" survives every edit.
#include <gtest/gtest.h>

#include <string>

#include "launcher/core/interval_field.h"

namespace tremcvt {
namespace {

bool hasIntervalForm(const std::string& text)
{
    if (text.size() != static_cast<std::size_t>(kIntervalFieldLength) || text[3] != ' ' || text[6] != ':') {
        return false;
    }
    for (int i : {0, 1, 2, 4, 5, 7, 8}) {
        if (text[static_cast<std::size_t>(i)] < '0' || text[static_cast<std::size_t>(i)] > '9') return false;
    }
    return true;
}

struct Expected {
    const char* text;
    int caret;
};

TEST(IntervalField, TypingOverwritesDigitsAndStepsOverSeparators)
{
    struct Case {
        const char* text;
        int caret;
        const char* keys;
        Expected expected;
    };
    const Case cases[] = {
        {"000 00:00", 2, "1", {"001 00:00", 4}},
        {"000 00:00", 5, "7", {"000 07:00", 7}},
        {"000 00:00", 3, "5", {"000 00:00", 4}},  // on the blank: dropped
        {"000 00:00", 6, "5", {"000 00:00", 7}},  // on the colon: dropped
        {"000 00:00", 1, "x", {"000 00:00", 1}},
        {"000 00:00", 9, "1", {"000 00:00", 9}},  // the field is full
        {"000 00:00", 0, "0012345", {"001 23:45", 9}},
        {"123 45:67", 0, "9 8 7 6 5 4", {"987 65:47", 8}},
        {"000 00:0", 8, "4", {"000 00:04", 9}},
    };
    for (const Case& c : cases) {
        IntervalFieldState state{c.text, c.caret};
        for (const char* key = c.keys; *key; ++key) state = typeIntoInterval(state.text, state.caret, *key);
        EXPECT_EQ(state.text, c.expected.text) << c.text << " + " << c.keys;
        EXPECT_EQ(state.caret, c.expected.caret) << c.text << " + " << c.keys;
    }
}

TEST(IntervalField, CutAndDeleteTurnSelectedDigitsIntoZero)
{
    struct Case {
        int start;
        int length;
        Expected expected;
    };
    const Case cases[] = {
        {0, 9, {"000 00:00", 0}},  // all of it (Ctrl+A, Ctrl+X)
        {1, 1, {"103 45:67", 1}},
        {2, 3, {"120 05:67", 2}},  // across the blank
        {5, 3, {"123 40:07", 5}},  // across the colon
        {3, 1, {"123 45:67", 3}},  // only a separator
        {9, 0, {"123 45:67", 9}},
        {7, 20, {"123 45:00", 7}},  // a selection past the end is cut at the end
        {-2, 3, {"023 45:67", 0}},
    };
    for (const Case& c : cases) {
        const IntervalFieldState state = eraseFromInterval("123 45:67", c.start, c.length);
        EXPECT_EQ(state.text, c.expected.text) << c.start << "+" << c.length;
        EXPECT_EQ(state.caret, c.expected.caret) << c.start << "+" << c.length;
        EXPECT_TRUE(hasIntervalForm(state.text)) << state.text;
    }
}

TEST(IntervalField, PasteTypesTheDigitsOfThePastedText)
{
    struct Case {
        int caret;
        const char* pasted;
        Expected expected;
    };
    const Case cases[] = {
        {0, "001 02:03", {"001 02:03", 9}},
        {0, "0011", {"001 10:00", 5}},  // what once meant one day is typed in place
        {4, "12", {"000 12:00", 7}},
        {3, "5", {"000 00:00", 4}},  // pasted onto the blank as if typed there
        {0, "", {"000 00:00", 0}},
        {0, "abc: -", {"000 00:00", 0}},
        {7, "123456", {"000 00:12", 9}},  // the field is full after two digits
        {0, "9\xd9\xa1" "8", {"980 00:00", 2}},  // non-ASCII digits are left out
    };
    for (const Case& c : cases) {
        const IntervalFieldState state = pasteIntoInterval("000 00:00", c.caret, c.pasted);
        EXPECT_EQ(state.text, c.expected.text) << c.pasted;
        EXPECT_EQ(state.caret, c.expected.caret) << c.pasted;
        EXPECT_TRUE(hasIntervalForm(state.text)) << state.text;
    }
}

}  // namespace
}  // namespace tremcvt
