// The converter's one table of result codes. The archive database, the
// waveform writers and every output answer with these; the catalogue passes
// the writers' codes on unchanged. Exit codes of whole runs are in
// exit_codes.h.
#pragma once

#include <cstdint>

namespace tremcvt {

using ResultCode = std::int32_t;

inline constexpr ResultCode kResultOk = 0;
// Space was reclaimed, but at least one archive file could not be removed
// from disk.
inline constexpr ResultCode kResultSpaceWarning = 1;
// The connection test that opens an operation failed.
inline constexpr ResultCode kResultConnectionTestFailed = -100;
// No statement handle, or a query or its fetch failed (also a query whose
// text does not fit its buffer).
inline constexpr ResultCode kResultQueryFailed = -101;
// The insert of a catalogue row failed.
inline constexpr ResultCode kResultInsertFailed = -103;
// The update of a catalogue row failed.
inline constexpr ResultCode kResultUpdateFailed = -104;
// A delete statement, or a statement of the space management, failed.
inline constexpr ResultCode kResultDeleteFailed = -105;
// The update of a catalogue row matched no row.
inline constexpr ResultCode kResultNoRowUpdated = -106;
// An output file cannot be opened, created or completely written.
inline constexpr ResultCode kResultFileOpenFailed = -107;
// A path cannot be stored, or memory runs out while a file is written.
inline constexpr ResultCode kResultPathOrMemoryFailed = -108;
// The data to archive ends at or before its start.
inline constexpr ResultCode kResultEmptyInterval = -112;
// A setting the archive database does not know.
inline constexpr ResultCode kResultUnknownParameter = -113;
// No SITECHAN row for the channel.
inline constexpr ResultCode kResultAbsentFromSitechan = -115;
// The SITECHAN sampling rate differs from the channel's (or is not recorded).
inline constexpr ResultCode kResultSitechanRateDiffers = -116;

}  // namespace tremcvt
