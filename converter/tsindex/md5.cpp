#include "converter/tsindex/md5.h"

#include <algorithm>
#include <cstring>

namespace tremcvt {
namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

std::uint32_t rotate(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

// The four rounds, each over all sixteen words with its own function and
// word order.
void Md5::block(const std::uint8_t* bytes)
{
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = static_cast<std::uint32_t>(bytes[i * 4]) | static_cast<std::uint32_t>(bytes[i * 4 + 1]) << 8 |
               static_cast<std::uint32_t>(bytes[i * 4 + 2]) << 16 | static_cast<std::uint32_t>(bytes[i * 4 + 3]) << 24;
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    const auto step = [&](std::uint32_t f, int i, int g) {
        const std::uint32_t next = d;
        d = c;
        c = b;
        b = b + rotate(a + f + kSine[i] + m[g], kShift[i]);
        a = next;
    };
    for (int i = 0; i < 16; ++i) step((b & c) | (~b & d), i, i);
    for (int i = 16; i < 32; ++i) step((d & b) | (~d & c), i, (5 * i + 1) & 15);
    for (int i = 32; i < 48; ++i) step(b ^ c ^ d, i, (3 * i + 5) & 15);
    for (int i = 48; i < 64; ++i) step(c ^ (b | ~d), i, (7 * i) & 15);
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::append(const void* data, std::size_t length)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    length_ += length;
    if (buffered_ == 0)
        for (; length >= sizeof buffer_; bytes += sizeof buffer_, length -= sizeof buffer_) block(bytes);
    while (length > 0) {
        const std::size_t take = std::min(length, sizeof buffer_ - buffered_);
        std::memcpy(buffer_ + buffered_, bytes, take);
        buffered_ += take;
        bytes += take;
        length -= take;
        if (buffered_ == sizeof buffer_) {
            block(buffer_);
            buffered_ = 0;
        }
    }
}

std::string Md5::finishHex()
{
    const std::uint64_t bits = length_ * 8;
    const std::uint8_t pad = 0x80;
    append(&pad, 1);
    const std::uint8_t zero = 0;
    while (buffered_ != 56) append(&zero, 1);
    std::uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    append(tail, 8);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint32_t word : state_)
        for (int i = 0; i < 4; ++i) {
            const auto byte = static_cast<std::uint8_t>(word >> (8 * i));
            hex += kDigits[byte >> 4];
            hex += kDigits[byte & 15];
        }
    return hex;
}

}  // namespace tremcvt
