// Fault points: every file-system call of the archive writers and every
// catalogue statement passes one, so that the crash-point tests can make any
// single call fail, or end the process right before it as a kill or a power
// cut would, and then check that the next run repairs what was left.
//
// The points are driven by the environment of the process:
//   TREMCVT_FAULT_AT=N         the N-th point reached (counted from 1) is hit
//   TREMCVT_FAULT_ACTION=fail  the call at that point fails as if the system
//                              had refused it (the default)
//   TREMCVT_FAULT_ACTION=crash the process ends at once, without running any
//                              clean-up; a write at that point is torn first
//                              (half of its bytes reach the file)
//   TREMCVT_FAULT_ACTION=power-cut
//                              the process ends as with crash, and before
//                              it does, every file write since that file's
//                              last sync and every file creation, removal or
//                              rename since its directory's last sync is
//                              undone: what a power cut leaves on the disk
//   TREMCVT_FAULT_ACTION=fail-onward
//                              that call and every later one fail, as when
//                              the database server or the disk goes away
//   TREMCVT_FAULT_SITES=LIST   only points of these kinds count (names as
//                              faultSiteName gives them, comma-separated)
//   TREMCVT_FAULT_TRACE=FILE   every point reached appends its number and
//                              kind to FILE (how the tests count the points)
// Without these variables a fault point costs one test of a flag.
#pragma once

#include <cstdint>
#include <string>

namespace tremcvt {

enum class FaultSite {
    Open,
    Stat,
    Read,
    Write,
    Truncate,
    Close,
    MakeDirectory,
    Remove,
    Rename,
    Sync,
    Execute,
    Fetch,
};

enum class FaultAction {
    Proceed,   // make the call as usual
    Fail,      // report the call as failed without making it
    TearWrite, // write part of the bytes, then call crashAtFaultPoint()
};

// The name of a site as the trace writes it ("write", "execute", ...).
const char* faultSiteName(FaultSite site);

// Counts the point and says what the call there is to do. A crash at a
// site other than a write ends the process inside this call.
FaultAction faultPoint(FaultSite site);

// Ends the process at once, as a kill does: no destructors, no buffered
// output, no exit handlers.
[[noreturn]] void crashAtFaultPoint();

// The undo journal of a planned power cut. The file calls of the writers
// and of the platform layer report here before they change anything; the
// journal keeps records only while a power cut is planned, and costs one
// test of a flag otherwise. Paths are taken as the calls name them.
bool powerCutPlanned();
// Before bytes are written at offset: the bytes there and the file's size.
void journalFileWrite(const std::string& path, std::int64_t offset, std::uint64_t length);
// Before the file is cut (or grown) to length.
void journalFileTruncate(const std::string& path, std::int64_t length);
// Before a file is opened with creation and truncation: a new name, or the
// content an existing file loses.
void journalFileCreate(const std::string& path);
// Before a directory is made, a file removed or renamed over another.
void journalMakeDirectory(const std::string& path);
void journalRemove(const std::string& path);
void journalRename(const std::string& from, const std::string& to);
// After a successful sync: the file's content, or the directory's entries,
// survive a power cut from now on.
void journalFileSynced(const std::string& path);
void journalDirectorySynced(const std::string& path);

}  // namespace tremcvt
