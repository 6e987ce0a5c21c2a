// Framing of WIN files into second blocks, on whole, truncated and corrupt files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "converter/win/win_reader.h"

namespace tremcvt {
namespace {

using Bytes = std::vector<std::uint8_t>;

class WinFileReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/win_reader_test.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string file(const Bytes& bytes)
    {
        const std::string path = dir_ + "/f" + std::to_string(count_++) + ".win";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }

    struct Read {
        WinReadStatus status;
        Bytes body;
    };

    std::vector<Read> readAll(const std::string& path)
    {
        WinFileReader reader;
        EXPECT_TRUE(reader.open(path));
        std::vector<Read> out;
        Bytes body;
        for (int guard = 0; guard < 100; ++guard) {
            const WinReadStatus status = reader.next(body);
            out.push_back({status, body});
            if (status != WinReadStatus::Block) break;
        }
        // Once finished, the reader stays finished.
        EXPECT_EQ(reader.next(body), WinReadStatus::End);
        EXPECT_TRUE(body.empty());
        return out;
    }

    std::string dir_;
    int count_ = 0;
};

Bytes block(const Bytes& body)
{
    const std::size_t length = body.size() + 4;
    Bytes out = {std::uint8_t(length >> 24), std::uint8_t(length >> 16), std::uint8_t(length >> 8),
                 std::uint8_t(length)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(WinFileReaderTest, CutsAFileIntoBlocksAndStopsAtDamage)
{
    const Bytes a = {1, 2, 3, 4, 5, 6, 7};
    const Bytes b = {9, 8};
    using S = WinReadStatus;
    struct Case {
        const char* name;
        Bytes file;
        std::vector<Read> expected;
    };
    const std::vector<Case> cases = {
        {"empty file", {}, {{S::End, {}}}},
        {"whole blocks", join({block(a), block(b), block({})}),
         {{S::Block, a}, {S::Block, b}, {S::Block, {}}, {S::End, {}}}},
        {"ends inside a length field", join({block(a), {0x00, 0x00}}), {{S::Block, a}, {S::Truncated, {}}}},
        {"length below 4", join({block(a), {0, 0, 0, 3}, block(b)}), {{S::Block, a}, {S::Truncated, {}}}},
        {"length 0", join({{0, 0, 0, 0}, block(b)}), {{S::Truncated, {}}}},
        {"ends inside a body", join({block(a), {0, 0, 0, 20, 1, 2, 3}}),
         {{S::Block, a}, {S::Truncated, {1, 2, 3}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Read> got = readAll(file(c.file));
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].status, c.expected[i].status) << i;
            EXPECT_EQ(got[i].body, c.expected[i].body) << i;
        }
    }
}

TEST_F(WinFileReaderTest, DoesNotAllocateFromAnUntrustedLength)
{
    Bytes bytes = {0xFF, 0xFF, 0xFF, 0xF0};
    bytes.resize(bytes.size() + 1000, 0x5A);
    const std::string path = file(bytes);
    WinFileReader reader;
    ASSERT_TRUE(reader.open(path));
    EXPECT_EQ(reader.fileSize(), bytes.size());
    Bytes body;
    EXPECT_EQ(reader.next(body), WinReadStatus::Truncated);
    EXPECT_EQ(body.size(), 1000u);
    EXPECT_LE(body.capacity(), std::size_t{4} << 20);
}

TEST_F(WinFileReaderTest, ReportsAFileThatCannotBeOpened)
{
    WinFileReader reader;
    EXPECT_FALSE(reader.open(dir_ + "/missing.win"));
    EXPECT_FALSE(reader.isOpen());
    Bytes body = {1};
    EXPECT_EQ(reader.next(body), WinReadStatus::End);
    EXPECT_TRUE(body.empty());
}

}  // namespace
}  // namespace tremcvt
