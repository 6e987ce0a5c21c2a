// The one place where tremcvt_check changes the archive database: a
// repaired row cut back to the samples its file holds, or deleted when its
// file is gone. One statement each, committed on its own, so that no lock
// outlives a statement.
#pragma once

#include <string>

#include "common/result_codes.h"
#include "converter/archive/archive_database.h"
#include "converter/check/check_model.h"
#include "converter/driver/settings.h"

namespace tremcvt::check {

class CatalogueWriter {
public:
    explicit CatalogueWriter(const ConverterSettings& settings);

    // False when the data source cannot be connected (see diagnostics()).
    bool connect();

    // The row (found by STA, CH, LCODE, TBEGIN and CPATH as they print) made
    // to account for `samples` samples: TQTY and TEND. kResultOk, kResultUpdateFailed or kResultNoRowUpdated.
    ResultCode cutBack(const CatalogueRow& row, std::int64_t samples);
    // Deletes the row. kResultOk or kResultDeleteFailed.
    ResultCode remove(const CatalogueRow& row);

    const std::string& diagnostics() const { return db_.lastDiagnostics(); }

private:
    // "STA='..' and CH='..' and <LCODE> and TBEGIN=... and CPATH='..'".
    std::string rowCondition(const CatalogueRow& row) const;

    ArchiveDatabase db_;
};

// TQTY of a row of `samples` samples at `rate` as the catalogue keeps it
// (two decimals), and the largest count not above `samples` that this TQTY
// accounts for exactly again (round(TQTY * rate)).
double cataloguedLength(std::int64_t samples, double rate);
std::int64_t representableSamples(std::int64_t samples, double rate);

}  // namespace tremcvt::check
