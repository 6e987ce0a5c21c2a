// Reading a WIN file block by block: a 4-byte big-endian length that counts
// itself, then the body. The reader never allocates more than the file holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tremcvt {

enum class WinReadStatus {
    Block,      // body holds one complete block body
    End,        // the file ended at a block boundary
    Truncated,  // the file ended inside a block, or a length below 4: body holds what was there
};

class WinFileReader {
public:
    WinFileReader() = default;
    WinFileReader(const WinFileReader&) = delete;
    WinFileReader& operator=(const WinFileReader&) = delete;
    ~WinFileReader();

    // Opens the file read-only in binary mode.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return file_ != nullptr; }

    // Size of the open file in bytes, 0 when it is not a regular file.
    std::uint64_t fileSize() const { return fileSize_; }

    // Reads the next block's body. After End or Truncated there is no more.
    WinReadStatus next(std::vector<std::uint8_t>& body);

private:
    std::FILE* file_ = nullptr;
    std::uint64_t fileSize_ = 0;
    bool finished_ = false;
};

}  // namespace tremcvt
