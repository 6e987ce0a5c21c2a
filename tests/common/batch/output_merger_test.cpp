// Merging converter reports: the first whole, later ones from the end of the
// first one's check block on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/batch/output_merger.h"

namespace tremcvt {
namespace {

TEST(OutputMerger, LaterReportsFromTheHeaderOffset)
{
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::vector<std::string> outputs;
        std::string merged;
    };
    const std::string header = "Checking\n====\n";  // offset 13, just after the last "="
    const Case cases[] = {
        {"later outputs from the header offset",
         {header + "one\n", "CHECKING\n====\ntwo\n", "Checking more\n====\nthree\n"},
         header + "one\n" + "\ntwo\n" + "\n====\nthree\n"},
        {"first output without '=' shows later ones whole", {"plain\n", "second\n", "x=y\n"}, "plain\nsecond\nx=y\n"},
        {"a later output shorter than the offset adds nothing",
         {header, "short", std::string(13, 'x') + "tail"},
         header + "tail"},
        {"an output exactly as long as the offset adds nothing visible", {header, std::string(13, 'x')}, header},
        {"an output ends at its first zero byte", {"a=b\0hidden="s, "123\0zzz"s}, "a=b3"},
        {"empty first output", {"", "all\n"}, "all\n"},
    };
    for (const Case& c : cases) {
        OutputMerger merger;
        std::string results;
        for (const std::string& output : c.outputs) merger.merge(output, results);
        EXPECT_EQ(results, c.merged) << c.name;
        EXPECT_FALSE(merger.firstOutputPending()) << c.name;
    }
}

}  // namespace
}  // namespace tremcvt
