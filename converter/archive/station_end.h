// The latest time a station's catalogue rows account for: where a follower
// of the station's WIN files takes up the conversion again.
#pragma once

#include <optional>
#include <string_view>

#include "common/result_codes.h"
#include "converter/archive/archive_database.h"

namespace tremcvt {

struct CataloguedEnd {
    ResultCode code = kResultOk;  // kResultOk or kResultQueryFailed
    std::optional<double> end;    // max(TBEGIN+TQTY) of the station's rows; nothing without rows
};

// Over every FILELIST row of the station (as the catalogue writes it,
// upper-cased), whatever its channel or creator.
CataloguedEnd latestCataloguedEnd(ArchiveDatabase& db, std::string_view station);

}  // namespace tremcvt
