// tremcvt_check repair: makes the catalogue and the files agree where that
// needs no invented data. Stray samples beyond a row are cut, a header that
// differs from its row is rewritten from it, a row that promises more
// samples than its file holds is cut back to the whole samples on disk (its
// file's header with it) and the lost span printed, a row whose file is gone
// is deleted and its span printed, and leftover temporary files of SDS
// stores are removed. Orphans, overlaps and the rest are listed, never
// changed. Each file change comes before its row's statement, so a repair
// cut short is finished by the next.
#pragma once

#include <cstdio>
#include <string>

#include "converter/check/check_command_line.h"
#include "converter/driver/settings.h"

namespace tremcvt::check {

// Repairs the TRZ archive of the settings over the selection; prints one
// line per change and per finding left, then a summary. kCheckConsistent
// when nothing is left, kCheckInconsistent when something is,
// kCheckNoConnection without the database.
int repairTrzArchive(const CheckOptions& options, const ConverterSettings& settings, std::FILE* out,
                     std::FILE* err);

// Removes the leftover temporary files of the SDS tree options.sds.
int repairSdsTree(const CheckOptions& options, std::FILE* out, std::FILE* err);

}  // namespace tremcvt::check
