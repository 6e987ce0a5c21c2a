// The TRZ archive output of a run: every segment of every channel into TRZ
// archive files catalogued in FILELIST, each segment on its own. An earlier
// conversion of the same data is replaced in place where it lies wholly
// within one archive file; otherwise the file an earlier conversion of this
// start wrote is removed and the segment is archived afresh.
#pragma once

#include "converter/archive/archive_database.h"
#include "converter/writers/channel_output.h"

namespace tremcvt {

// The location code with which every channel is checked and catalogued.
inline constexpr const char* kLocationCode = "??";
// The name under which the converter catalogues the files it writes.
inline constexpr const char* kCreatorName = "tremcvt";

// Failure lines, without a line feed, so that the next message continues
// them: "Delete error (STA::CMP::<archive path>)" when the replacement or the
// removal fails (a warning: the store goes on), "DB write error (STA::CMP::
// <archive path>)" when the channel is not archived; "Invalid file name
// (STA::CMP)\n" when its codes or start cannot form an archive file name.
// Reasons are the database's diagnostics, or why the name was refused.
class ArchiveOutput final : public ChannelOutput {
public:
    // The database stays connected, and outlives this object.
    explicit ArchiveOutput(ArchiveDatabase& database) : database_(database) {}

    OutputKind kind() const override { return OutputKind::kArchive; }
    OutputResults store(const ChannelTrace& trace) override;
    OutputResults finish() override { return {}; }

private:
    // One segment through the catalogue, its failures added to results.
    void storeSegment(const ChannelTrace& trace, const TraceSegment& segment, OutputResults& results);

    ArchiveDatabase& database_;
};

}  // namespace tremcvt
