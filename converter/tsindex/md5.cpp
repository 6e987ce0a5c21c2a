#include "converter/tsindex/md5.h"

#include <algorithm>
#include <cstring>

namespace tremcvt {
namespace {

std::uint32_t rotate(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The four round functions.
enum Round { F, G, H, I };

template <Round R>
inline std::uint32_t step(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t word,
                          int shift, std::uint32_t sine)
{
    std::uint32_t f;
    if constexpr (R == F)
        f = (b & c) | (~b & d);
    else if constexpr (R == G)
        f = (d & b) | (~d & c);
    else if constexpr (R == H)
        f = b ^ c ^ d;
    else
        f = c ^ (b | ~d);
    return b + rotate(a + f + word + sine, shift);
}

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

// The 64 steps of RFC 1321 written out, so that every shift and constant
// is fixed where it is used.
void Md5::block(const std::uint8_t* bytes)
{
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = static_cast<std::uint32_t>(bytes[i * 4]) | static_cast<std::uint32_t>(bytes[i * 4 + 1]) << 8 |
               static_cast<std::uint32_t>(bytes[i * 4 + 2]) << 16 | static_cast<std::uint32_t>(bytes[i * 4 + 3]) << 24;
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    a = step<F>(a, b, c, d, m[0], 7, 0xd76aa478);
    d = step<F>(d, a, b, c, m[1], 12, 0xe8c7b756);
    c = step<F>(c, d, a, b, m[2], 17, 0x242070db);
    b = step<F>(b, c, d, a, m[3], 22, 0xc1bdceee);
    a = step<F>(a, b, c, d, m[4], 7, 0xf57c0faf);
    d = step<F>(d, a, b, c, m[5], 12, 0x4787c62a);
    c = step<F>(c, d, a, b, m[6], 17, 0xa8304613);
    b = step<F>(b, c, d, a, m[7], 22, 0xfd469501);
    a = step<F>(a, b, c, d, m[8], 7, 0x698098d8);
    d = step<F>(d, a, b, c, m[9], 12, 0x8b44f7af);
    c = step<F>(c, d, a, b, m[10], 17, 0xffff5bb1);
    b = step<F>(b, c, d, a, m[11], 22, 0x895cd7be);
    a = step<F>(a, b, c, d, m[12], 7, 0x6b901122);
    d = step<F>(d, a, b, c, m[13], 12, 0xfd987193);
    c = step<F>(c, d, a, b, m[14], 17, 0xa679438e);
    b = step<F>(b, c, d, a, m[15], 22, 0x49b40821);
    a = step<G>(a, b, c, d, m[1], 5, 0xf61e2562);
    d = step<G>(d, a, b, c, m[6], 9, 0xc040b340);
    c = step<G>(c, d, a, b, m[11], 14, 0x265e5a51);
    b = step<G>(b, c, d, a, m[0], 20, 0xe9b6c7aa);
    a = step<G>(a, b, c, d, m[5], 5, 0xd62f105d);
    d = step<G>(d, a, b, c, m[10], 9, 0x02441453);
    c = step<G>(c, d, a, b, m[15], 14, 0xd8a1e681);
    b = step<G>(b, c, d, a, m[4], 20, 0xe7d3fbc8);
    a = step<G>(a, b, c, d, m[9], 5, 0x21e1cde6);
    d = step<G>(d, a, b, c, m[14], 9, 0xc33707d6);
    c = step<G>(c, d, a, b, m[3], 14, 0xf4d50d87);
    b = step<G>(b, c, d, a, m[8], 20, 0x455a14ed);
    a = step<G>(a, b, c, d, m[13], 5, 0xa9e3e905);
    d = step<G>(d, a, b, c, m[2], 9, 0xfcefa3f8);
    c = step<G>(c, d, a, b, m[7], 14, 0x676f02d9);
    b = step<G>(b, c, d, a, m[12], 20, 0x8d2a4c8a);
    a = step<H>(a, b, c, d, m[5], 4, 0xfffa3942);
    d = step<H>(d, a, b, c, m[8], 11, 0x8771f681);
    c = step<H>(c, d, a, b, m[11], 16, 0x6d9d6122);
    b = step<H>(b, c, d, a, m[14], 23, 0xfde5380c);
    a = step<H>(a, b, c, d, m[1], 4, 0xa4beea44);
    d = step<H>(d, a, b, c, m[4], 11, 0x4bdecfa9);
    c = step<H>(c, d, a, b, m[7], 16, 0xf6bb4b60);
    b = step<H>(b, c, d, a, m[10], 23, 0xbebfbc70);
    a = step<H>(a, b, c, d, m[13], 4, 0x289b7ec6);
    d = step<H>(d, a, b, c, m[0], 11, 0xeaa127fa);
    c = step<H>(c, d, a, b, m[3], 16, 0xd4ef3085);
    b = step<H>(b, c, d, a, m[6], 23, 0x04881d05);
    a = step<H>(a, b, c, d, m[9], 4, 0xd9d4d039);
    d = step<H>(d, a, b, c, m[12], 11, 0xe6db99e5);
    c = step<H>(c, d, a, b, m[15], 16, 0x1fa27cf8);
    b = step<H>(b, c, d, a, m[2], 23, 0xc4ac5665);
    a = step<I>(a, b, c, d, m[0], 6, 0xf4292244);
    d = step<I>(d, a, b, c, m[7], 10, 0x432aff97);
    c = step<I>(c, d, a, b, m[14], 15, 0xab9423a7);
    b = step<I>(b, c, d, a, m[5], 21, 0xfc93a039);
    a = step<I>(a, b, c, d, m[12], 6, 0x655b59c3);
    d = step<I>(d, a, b, c, m[3], 10, 0x8f0ccc92);
    c = step<I>(c, d, a, b, m[10], 15, 0xffeff47d);
    b = step<I>(b, c, d, a, m[1], 21, 0x85845dd1);
    a = step<I>(a, b, c, d, m[8], 6, 0x6fa87e4f);
    d = step<I>(d, a, b, c, m[15], 10, 0xfe2ce6e0);
    c = step<I>(c, d, a, b, m[6], 15, 0xa3014314);
    b = step<I>(b, c, d, a, m[13], 21, 0x4e0811a1);
    a = step<I>(a, b, c, d, m[4], 6, 0xf7537e82);
    d = step<I>(d, a, b, c, m[11], 10, 0xbd3af235);
    c = step<I>(c, d, a, b, m[2], 15, 0x2ad7d2bb);
    b = step<I>(b, c, d, a, m[9], 21, 0xeb86d391);
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
