// Low-level output files for the writers: one owned descriptor, complete
// writes, and the few positioning calls the writers need. Internal to the
// writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tremcvt::detail {

class OutputFile {
public:
    enum class Mode {
        CreateTruncate,  // create or truncate, owner read and write
        ExistingOnly,    // open an existing file for writing, never create
        ExistingUpdate,  // open an existing file for reading and writing
        ReadOnly,        // open an existing file for reading only
    };

    OutputFile() = default;
    // Every call on the file passes a fault point (common/fault_injection.h).
    OutputFile(const std::string& path, Mode mode);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    // Size of the open file in bytes, -1 when it cannot be read.
    std::int64_t size();

    // Writes all bytes at the current position / at offset. False when the
    // system wrote fewer bytes than asked (a full disk) or failed.
    bool writeAll(const void* data, std::size_t length);
    bool writeAllAt(const void* data, std::size_t length, std::int64_t offset);
    bool readAllAt(void* data, std::size_t length, std::int64_t offset);

    // Samples as little-endian float32 at the current position / at offset.
    bool writeSamples(const float* samples, std::size_t count);
    bool writeSamplesAt(const float* samples, std::size_t count, std::int64_t offset);

    bool seekToEnd();
    bool truncate(std::int64_t length);
    // Makes what was written durable on the disk (fsync; FlushFileBuffers
    // through _commit on Windows).
    bool sync();

    // Closes the file; false when the system reports an error on closing
    // (delayed write errors surface here).
    bool close();

    // What the last failed call was, for the operator: "<path>: <call>:
    // <system message>". Empty while nothing failed.
    const std::string& failure() const { return failure_; }
    // The system's error number of the last failed call, 0 while nothing
    // failed (ENOENT after an open tells a missing file from other failures).
    int error() const { return error_; }

private:
    // The current position of the descriptor (for the power-cut journal).
    std::int64_t position() const;
    // Keeps errno of a failed call in failure_; always returns false.
    bool fail(const char* call);

    int fd_ = -1;
    std::string path_;
    std::string failure_;
    int error_ = 0;
};

// Sample bytes as stored on disk: little-endian float32.
bool hostIsLittleEndian();

}  // namespace tremcvt::detail
