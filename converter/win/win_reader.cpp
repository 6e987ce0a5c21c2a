#include "converter/win/win_reader.h"

#include <sys/stat.h>

#include <algorithm>

namespace tremcvt {
namespace {

constexpr std::size_t kLengthBytes = 4;
// A block's length field is untrusted: its body is read in pieces of at most
// this size, so a corrupt length costs no more memory than the file holds.
constexpr std::size_t kReadChunk = std::size_t{64} << 10;

}  // namespace

WinFileReader::~WinFileReader() { close(); }

bool WinFileReader::open(const std::string& path)
{
    close();
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) return false;
#ifdef _WIN32
    // The plain stat of the Windows C runtime has a 32-bit size.
    struct _stat64 info {};
    if (::_fstat64(_fileno(file_), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG) {
        fileSize_ = static_cast<std::uint64_t>(info.st_size);
    }
#else
    struct stat info {};
    if (::fstat(fileno(file_), &info) == 0) {
        // A directory opens for reading here but holds no blocks: it is no
        // WIN file, and taking it for an empty one would hide the mistake.
        if (S_ISDIR(info.st_mode)) {
            close();
            return false;
        }
        if (S_ISREG(info.st_mode)) fileSize_ = static_cast<std::uint64_t>(info.st_size);
    }
#endif
    return true;
}

void WinFileReader::close()
{
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    fileSize_ = 0;
    finished_ = false;
}

WinReadStatus WinFileReader::next(std::vector<std::uint8_t>& body)
{
    body.clear();
    if (file_ == nullptr || finished_) return WinReadStatus::End;

    std::uint8_t head[kLengthBytes];
    const std::size_t got = std::fread(head, 1, kLengthBytes, file_);
    if (got == 0) {
        finished_ = true;
        return WinReadStatus::End;
    }
    if (got < kLengthBytes) {
        finished_ = true;
        return WinReadStatus::Truncated;
    }
    const std::uint32_t length = (std::uint32_t{head[0]} << 24) | (std::uint32_t{head[1]} << 16) |
                                 (std::uint32_t{head[2]} << 8) | std::uint32_t{head[3]};
    if (length < kLengthBytes) {
        // Without a usable length the next block cannot be found.
        finished_ = true;
        return WinReadStatus::Truncated;
    }

    const std::size_t want = length - kLengthBytes;
    std::size_t have = 0;
    while (have < want) {
        const std::size_t step = std::min(want - have, kReadChunk);
        body.resize(have + step);
        const std::size_t read = std::fread(body.data() + have, 1, step, file_);
        have += read;
        if (read < step) {
            body.resize(have);
            finished_ = true;
            return WinReadStatus::Truncated;
        }
    }
    return WinReadStatus::Block;
}

}  // namespace tremcvt
