#include "common/paths.h"

#include <gtest/gtest.h>

#include <string>

using namespace tremcvt;

namespace {

#ifndef _WIN32
TEST(PathsTest, AbsolutePathsStartWithASeparator)
{
    EXPECT_TRUE(isAbsolutePath("/x"));
    EXPECT_TRUE(isAbsolutePath("\\x"));
    EXPECT_FALSE(isAbsolutePath("x/y"));
    EXPECT_FALSE(isAbsolutePath(""));
    EXPECT_FALSE(isAbsolutePath("E:/x"));  // a drive letter means nothing here
}

TEST(PathsTest, ArchiveRelativePathStripsTheDataDirectory)
{
    struct Case { const char* path; const char* dataDir; const char* expected; };
    const Case cases[] = {
        {"d:/data/KAM/07/a.KAM", "D:/Data", "KAM/07/a.KAM"},
        {"d:\\data\\KAM\\07\\a.KAM", "D:\\Data", "KAM/07/a.KAM"},
        {"/srv/trz/KAM/07/a.KAM", "/srv/trz/", "KAM/07/a.KAM"},
        {"/srv/trz", "/srv/trz", ""},
        {"//server/x", "D:/Data", "//server/x"},
        {"E:/Data/x", "D:/Data", "E:/Data/x"},
        {"d:/database/x", "d:/data", "d:/database/x"},  // a sibling is not below the directory
        {"KAM\\07\\a.KAM", "", "KAM/07/a.KAM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(archiveRelativePath(c.path, c.dataDir), c.expected);
    }
}

TEST(PathsTest, AbsoluteArchivePathPutsRelativePathsBelowTheDataDirectory)
{
    struct Case { const char* path; const char* dataDir; const char* expected; };
    const Case cases[] = {
        {"KAM/07/a.KAM", "D:/Data", "D:/Data/KAM/07/a.KAM"},
        {"KAM\\07\\a.KAM", "/srv/trz/", "/srv/trz/KAM/07/a.KAM"},
        {"/x", "D:/Data", "/x"},
        {"\\x", "D:/Data", "/x"},
        {"d:/data/KAM/a.KAM", "D:/Data", "d:/data/KAM/a.KAM"},
        {"E:/x", "/srv/trz", "/srv/trz/E:/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(absoluteArchivePath(c.path, c.dataDir), c.expected);
    }
}

#endif

}  // namespace
