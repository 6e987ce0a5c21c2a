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

#else
TEST(PathsTest, AbsolutePathsStartWithASeparatorOrADriveLetter)
{
    struct Case { const char* path; bool absolute; };
    const Case cases[] = {
        {"\\x", true}, {"/x", true}, {"D:\\data", true}, {"e:/x", true}, {"c:relative", true}, {"x:", true},
        {"x\\y", false}, {"", false}, {"KAM\\07", false}, {"KAM:07", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(isAbsolutePath(c.path), c.absolute);
    }
}

TEST(PathsTest, SeparatorsBecomeBackslashesAndCatalogueFormUsesForwardSlashes)
{
    std::string path = "d:/data\\KAM/07\\a.KAM";
    toNativeSeparators(path);
    EXPECT_EQ(path, "d:\\data\\KAM\\07\\a.KAM");
    toForwardSlashes(path);
    EXPECT_EQ(path, "d:/data/KAM/07/a.KAM");
    EXPECT_EQ(joinPath("d:\\data", "KAM"), "d:\\data\\KAM");
    EXPECT_EQ(joinPath("d:\\data\\", "KAM"), "d:\\data\\KAM");
}

TEST(PathsTest, ArchiveRelativePathStripsTheDataDirectoryWithItsDrive)
{
    struct Case { const char* path; const char* dataDir; const char* expected; };
    const Case cases[] = {
        {"d:\\data\\KAM\\07\\a.KAM", "D:\\Data", "KAM\\07\\a.KAM"},
        {"d:/data/KAM/07/a.KAM", "D:/Data", "KAM\\07\\a.KAM"},
        {"D:\\Data\\KAM\\07\\a.KAM", "d:\\data\\", "KAM\\07\\a.KAM"},
        {"d:\\data", "d:\\data", ""},
        {"\\\\server\\data\\x", "\\\\server\\data", "\\\\server\\data\\x"},  // UNC paths stay whole
        {"E:\\Data\\x", "D:\\Data", "E:\\Data\\x"},  // another drive
        {"d:\\database\\x", "d:\\data", "d:\\database\\x"},  // a sibling is not below the directory
        {"KAM/07/a.KAM", "", "KAM\\07\\a.KAM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(archiveRelativePath(c.path, c.dataDir), c.expected);
    }
}

TEST(PathsTest, AbsoluteArchivePathKeepsPathsWithADriveLetter)
{
    struct Case { const char* path; const char* dataDir; const char* expected; };
    const Case cases[] = {
        {"KAM/07/a.KAM", "D:\\Data", "D:\\Data\\KAM\\07\\a.KAM"},
        {"KAM\\07\\a.KAM", "d:/data/", "d:\\data\\KAM\\07\\a.KAM"},
        {"E:\\x", "D:\\Data", "E:\\x"},
        {"e:/x", "D:\\Data", "e:\\x"},
        {"/x", "D:\\Data", "\\x"},
        {"d:/data/KAM/a.KAM", "D:\\Data", "d:\\data\\KAM\\a.KAM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(absoluteArchivePath(c.path, c.dataDir), c.expected);
    }
}
#endif

}  // namespace
