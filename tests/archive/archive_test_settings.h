// The archive settings of a test database, as the converter's driver hands
// them to the archive database.
#pragma once

#include <string>
#include <utility>

#include "common/platform.h"
#include "converter/archive/archive_settings.h"
#include "tests/support/test_support.h"

namespace tremcvt::test {

inline ArchiveSettings archiveSettingsFor(const ArchiveTestDatabase& database,
                                          std::string dataDir = defaultDataDirectory(), bool useTend = true)
{
    return ArchiveSettings{database.dataSource(), database.userName(), database.password(), std::move(dataDir),
                           useTend};
}

}  // namespace tremcvt::test
