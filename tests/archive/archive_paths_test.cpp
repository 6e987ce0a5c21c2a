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
    ArchiveSettings settings;
    settings.dataDir = "/srv/Data";
    ArchiveDatabase database(settings);
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

    settings.dataDir = "D:\\Data";
    database.configure(settings);
    std::string text = "d:/data/KAM/07/a.KAM";
    database.toArchiveRelative(text);
    EXPECT_EQ(text, native("KAM/07/a.KAM"));
}

TEST(ArchivePathsTest, AbsolutePathPutsRelativePathsBelowTheDataDirectory)
{
    ArchiveSettings settings;
    settings.dataDir = "/srv/Data";
    const ArchiveDatabase database(settings);
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"KAM/07/a.KAM", "/srv/Data/KAM/07/a.KAM"},
        {"KAM\\07\\a.KAM", "/srv/Data/KAM/07/a.KAM"},
        {"/x", "/x"},
        {"/srv/data/KAM/a.KAM", "/srv/data/KAM/a.KAM"},  // already below it, ignoring case
    };
    for (const auto& c : cases) EXPECT_EQ(database.absolutePath(c.path), native(c.expected)) << c.path;

    // The catalogue form of an absolute archive path, and back again.
    const std::string catalogued = database.cataloguePath("/srv/Data/KAM/07/05032009-070809-BHZ.KAM");
    EXPECT_EQ(catalogued, "KAM/07/05032009-070809-BHZ.KAM");
    EXPECT_EQ(database.absolutePath(catalogued), native("/srv/Data/KAM/07/05032009-070809-BHZ.KAM"));
}

}  // namespace
}  // namespace tremcvt
