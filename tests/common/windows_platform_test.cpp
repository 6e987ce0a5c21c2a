// The Windows side of the platform layer, against the system's own answers.
#include "common/platform.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "common/paths.h"

#include "tests/support/fresh_directory.h"

namespace fs = std::filesystem;
using namespace tremcvt;

namespace {

using test::freshDirectory;

std::string lowerCase(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

TEST(WindowsPlatformTest, DirectoriesComeFromTheSystem)
{
    EXPECT_STREQ(defaultDataDirectory(), "d:\\data");

    // trz.ini lives in the Windows directory, whatever TREMCVT_SYSCONFDIR says.
    const char* windowsDirectory = std::getenv("windir");
    ASSERT_NE(windowsDirectory, nullptr);
    ASSERT_EQ(_putenv_s("TREMCVT_SYSCONFDIR", "C:\\elsewhere"), 0);
    EXPECT_EQ(lowerCase(systemConfigDirectory()), lowerCase(windowsDirectory));
    ASSERT_EQ(_putenv_s("TREMCVT_SYSCONFDIR", ""), 0);

    const fs::path dir = freshDirectory("tremcvt-cwd-");
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    const std::string here = currentDirectory();
    fs::current_path(previous);
    EXPECT_TRUE(isAbsolutePath(here)) << here;
    EXPECT_TRUE(fs::equivalent(here, dir)) << here;
    fs::remove_all(dir);
}

TEST(WindowsPlatformTest, FreeSpaceIsAskedOfTheDriveRoot)
{
    const fs::path drive = fs::temp_directory_path().root_path();  // "C:\" under most setups
    const std::string root = drive.string();
    ASSERT_EQ(root.size(), 3u) << root;
    const std::uint64_t system = fs::space(drive).available;
    // Other programs write meanwhile: the figures agree within a margin.
    const auto near = [system](std::uint64_t figure) {
        const std::uint64_t margin = std::uint64_t{256} << 20;
        return figure + margin >= system && figure <= system + margin;
    };

    const std::string cases[] = {
        root,
        root + "some\\dir\\that\\does\\not\\exist",
        root + "name with blanks\\and?wildcards*",
        root.substr(0, 2) + "/forward/slashes",
    };
    for (const std::string& path : cases) {
        SCOPED_TRACE(path);
        const std::optional<std::uint64_t> figure = freeSpace(path);
        ASSERT_TRUE(figure.has_value());
        EXPECT_TRUE(near(*figure)) << *figure << " vs " << system;
    }

    // A network path, an unknown drive and a relative path: no answer.
    for (const char* path : {"\\\\server\\share\\data", "Q:\\data", "data\\KAM"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(freeSpace(path).has_value());
    }
}

}  // namespace
