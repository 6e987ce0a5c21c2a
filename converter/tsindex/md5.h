// MD5 (RFC 1321) of a byte stream, in hexadecimal: the hash the tsindex
// table keeps of each section's records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tremcvt {

class Md5 {
public:
    Md5();
    void append(const void* data, std::size_t length);
    // The 32 lower-case hexadecimal digits of the digest; ends the hash.
    std::string finishHex();

private:
    void block(const std::uint8_t* bytes);

    std::uint32_t state_[4];
    std::uint64_t length_ = 0;
    std::uint8_t buffer_[64] = {};
    std::size_t buffered_ = 0;
};

}  // namespace tremcvt
