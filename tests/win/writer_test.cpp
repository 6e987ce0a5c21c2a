// The WIN writer's choice of difference width, which a decoding round trip
// cannot see.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "tools/winwriter/win_writer.h"

namespace tremcvt {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(WinWriter, ChoosesTheSmallestWidthThatHoldsEveryDifference)
{
    const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    struct Case {
        std::vector<std::int32_t> samples;
        int code;
    };
    const std::vector<Case> cases = {
        {{}, 0},           {{123456789}, 0},    {{0, 7, -1}, 0},        {{0, 8}, 1},
        {{0, -8}, 0},      {{0, -9}, 1},        {{0, 127, -1}, 1},      {{0, 128}, 2},
        {{0, -32768}, 2},  {{0, 32768}, 3},     {{0, -8388608}, 3},     {{0, 8388608}, 4},
        {{kMax, -kMax - 1}, 0},  // +1 in wrap-around arithmetic
        {{-kMax - 1, kMax}, 0},
        {{0, kMax}, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(smallestSizeCode(c.samples), c.code) << ::testing::PrintToString(c.samples);
    }
}

}  // namespace
}  // namespace tremcvt
