// One converter start: its argument list and where the program is found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/paths.h"
#include "launcher/core/converter_run.h"
#include "tests/support/fresh_directory.h"

namespace tremcvt {
namespace {

TEST(ConverterCommand, ArgumentsFollowTheOutputChoice)
{
    struct Case {
        std::optional<std::string> css;
        std::optional<std::string> data;
        std::vector<std::string> arguments;
    };
    const std::string path = "/srv/win data/10030302.00";
    const Case cases[] = {
        {std::nullopt, std::nullopt, {"KAM", path}},
        {"/out/a.wfdisc", std::nullopt, {"KAM", path, "css=/out/a.wfdisc"}},
        {std::nullopt, "/arch", {"KAM", path, "data=/arch"}},
        {"", "/arch", {"KAM", path, "css=", "data=/arch"}},  // CSS chosen, no path ever picked
    };
    for (const Case& c : cases) EXPECT_EQ(buildConverterCommand("KAM", path, c.css, c.data).arguments, c.arguments);
    // The text shown to people reads like the command line.
    EXPECT_EQ(buildConverterCommand("KAM", path, "/o", "/a").displayText,
              std::string(kConverterProgramName) + " KAM " + path + " css=/o data=/a");
}

class ConverterLookup : public ::testing::Test {
protected:
    void SetUp() override { root_ = test::freshDirectory("tremcvt-locate-"); }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string makeProgram(const std::string& directory, bool runnable)
    {
        const std::filesystem::path dir = root_ / directory;
        std::filesystem::create_directories(dir);
        const std::filesystem::path program = dir / kConverterProgramName;
        std::ofstream(program) << "#!/bin/sh\n";
        using std::filesystem::perms;
        std::filesystem::permissions(program, runnable ? perms::owner_all : perms::owner_read | perms::owner_write);
        return program.string();
    }
    std::string dir(const std::string& name) const { return (root_ / name).string(); }

    std::filesystem::path root_;
};

TEST_F(ConverterLookup, BesideTheLauncherFirstThenOnTheSearchPath)
{
    const std::string beside = makeProgram("bin", true);
    const std::string onPath = makeProgram("path dir", true);
    const std::vector<std::string> searchPath = {dir("empty"), dir("path dir")};
    EXPECT_EQ(locateConverter(dir("bin"), searchPath).program, beside);
    EXPECT_EQ(locateConverter(dir("elsewhere"), searchPath).program, onPath);
#ifndef _WIN32
    makeProgram("bin", false);  // not runnable: the search path decides
    EXPECT_EQ(locateConverter(dir("bin"), searchPath).program, onPath);
#endif

    std::filesystem::remove(onPath);
    std::filesystem::remove(beside);
    const ConverterLocation none = locateConverter(dir("bin"), searchPath);
    EXPECT_EQ(none.program, "");
    EXPECT_NE(none.searched.find(joinPath(dir("bin"), kConverterProgramName)), std::string::npos) << none.searched;
    EXPECT_NE(none.searched.find(dir("path dir")), std::string::npos) << none.searched;
    EXPECT_NE(locateConverter(dir("bin")).searched.find("PATH"), std::string::npos);
}

}  // namespace
}  // namespace tremcvt
