// The one place where tremcvt_check reads the archive database: the whole
// FILELIST catalogue in one query, over the converter's connection.
#pragma once

#include <string>
#include <vector>

#include "common/result_codes.h"
#include "converter/check/check_model.h"
#include "converter/driver/settings.h"

namespace tremcvt::check {

enum class CatalogueReadStatus {
    kRead,
    kNoConnection,  // the data source could not be connected
    kQueryFailed,   // connected, but the rows could not be read
};

struct CatalogueReadResult {
    CatalogueReadStatus status = CatalogueReadStatus::kRead;
    std::vector<CatalogueRow> rows;
    std::string reason;  // the driver's diagnostics of a failure
};

// Connects with the converter's settings (data source, user, password, data
// directory, USE_TEND) and reads every FILELIST row.
CatalogueReadResult readCatalogue(const ConverterSettings& settings);

}  // namespace tremcvt::check
