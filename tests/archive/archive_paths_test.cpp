#include <gtest/gtest.h>

#include <string>

#include "common/paths.h"
#include "converter/archive/archive_database.h"

namespace tremcvt {
namespace {

// Paths are written with "/" here; on Windows every "/" of an expectation
// reads as "\".
std::string native(std::string text)
{
    ArchiveDatabase::toBackslashes(text);
    return text;
}

TEST(ArchivePathsTest, CatalogueFormUsesForwardSlashesAndNativeFormTheNativeSeparator)
{
    std::string text = "KAM\\07\\a.KAM";
    ArchiveDatabase::toForwardSlashes(text);
    EXPECT_EQ(text, "KAM/07/a.KAM");

    text = "KAM/07\\a.KAM";
    ArchiveDatabase::toBackslashes(text);
    EXPECT_EQ(text, std::string("KAM") + kNativeSeparator + "07" + kNativeSeparator + "a.KAM");
}

TEST(ArchivePathsTest, ArchiveRelativeStripsTheDataDirectoryIgnoringCase)
{
    ArchiveDatabase database;
    ASSERT_EQ(database.setParameter("data", "/srv/Data"), kResultOk);
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"/srv/Data/KAM/07/a.KAM", "KAM/07/a.KAM"},
        {"/SRV/data\\KAM\\07\\a.KAM", "KAM/07/a.KAM"},
        {"/srv/Data/", ""},
        {"/srv/Database/x", "/srv/Database/x"},  // not below the data directory
        {"/other/Data/x", "/other/Data/x"},
        {"KAM/07/a.KAM", "KAM/07/a.KAM"},
    };
    for (const auto& c : cases) {
        std::string text = c.path;
        database.toArchiveRelative(text);
        EXPECT_EQ(text, native(c.expected)) << c.path;
    }

    ASSERT_EQ(database.setParameter("data", "D:\\Data"), kResultOk);
    std::string text = "d:/data/KAM/07/a.KAM";
    database.toArchiveRelative(text);
    EXPECT_EQ(text, native("KAM/07/a.KAM"));
}

TEST(ArchivePathsTest, AbsoluteCurrentPathPutsRelativePathsBelowTheDataDirectory)
{
    ArchiveDatabase database;
    ASSERT_EQ(database.setParameter("data", "/srv/Data"), kResultOk);
    const struct {
        const char* currentPath;
        const char* expected;
    } cases[] = {
        {"KAM/07/a.KAM", "/srv/Data/KAM/07/a.KAM"},
        {"KAM\\07\\a.KAM", "/srv/Data/KAM/07/a.KAM"},
        {"/x", "/x"},
        {"/srv/data/KAM/a.KAM", "/srv/data/KAM/a.KAM"},  // already below it, ignoring case
    };
    for (const auto& c : cases) {
        database.currentPath = c.currentPath;
        EXPECT_EQ(database.absoluteCurrentPath(), native(c.expected)) << c.currentPath;
    }

    // The catalogue form of an absolute archive path, and back again.
    database.currentPath = "/srv/Data/KAM/07/05032009-070809-BHZ.KAM";
    const std::string catalogued = database.catalogueCurrentPath();
    EXPECT_EQ(catalogued, "KAM/07/05032009-070809-BHZ.KAM");
    database.currentPath = catalogued;
    EXPECT_EQ(database.absoluteCurrentPath(), native("/srv/Data/KAM/07/05032009-070809-BHZ.KAM"));
}

}  // namespace
}  // namespace tremcvt
