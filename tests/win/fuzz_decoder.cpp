// libFuzzer target: arbitrary bytes as one second block's body, and as a
// whole WIN file read block by block. Any read past a body, any overflow or
// undefined behaviour is reported by the sanitizers.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "converter/win/channel_table.h"
#include "converter/win/win_decoder.h"
#include "converter/win/win_reader.h"

namespace {

// An in-memory file, reopened by the reader through its /proc path, so that
// each run costs no disk traffic.
int scratchFd()
{
    static const int fd = ::memfd_create("fuzz_decoder", 0);
    return fd;
}

// Finishes the table and checks that its segments cover every kept sample
// once, in time order and without overlap.
void checkTable(tremcvt::ChannelTable& table)
{
    tremcvt::finishChannels(table);
    for (const auto& trace : table) {
        if (trace.endTime < trace.startTime + 1.0) std::abort();
        if (trace.sampleCount() < 0) std::abort();
        if (trace.segments.empty() || trace.segments.front().startTime != trace.startTime ||
            trace.segments.back().endTime() != trace.endTime)
            std::abort();
        std::size_t next = 0;
        double end = trace.startTime;
        for (const auto& segment : trace.segments) {
            if (segment.firstSample != next || segment.startTime < end || segment.seconds < 1 ||
                segment.sampleCount != static_cast<std::size_t>(segment.sps) * segment.seconds)
                std::abort();
            next += segment.sampleCount;
            end = segment.endTime();
        }
        if (next != trace.samples.size()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        // An exactly sized copy, so the address sanitizer sees the body's end.
        std::vector<std::uint8_t> body(data, data + size);
        tremcvt::ChannelTable table;
        tremcvt::decodeSecondBlock(body.data(), body.size(), table);
        checkTable(table);
    }
    {
        const int fd = scratchFd();
        if (fd < 0 || ::ftruncate(fd, 0) != 0) return 0;
        if (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        tremcvt::WinFileReader reader;
        if (!reader.open(path)) return 0;
        tremcvt::ChannelTable table;
        std::vector<std::uint8_t> body;
        std::size_t total = 0;
        for (;;) {
            const tremcvt::WinReadStatus status = reader.next(body);
            total += body.size() + 4;
            if (body.size() > size) std::abort();  // more than the file holds
            std::vector<std::uint8_t> exact(body);
            tremcvt::decodeSecondBlock(exact.data(), exact.size(), table);
            if (status != tremcvt::WinReadStatus::Block) break;
        }
        if (total > size + 8) std::abort();
        checkTable(table);
    }
    return 0;
}
