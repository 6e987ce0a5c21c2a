#include "converter/tsindex/tsindex_scan.h"

#include <libmseed.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>
#include <sys/stat.h>

#include "converter/tsindex/md5.h"

namespace tremcvt {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
// A time index mark every hour of data, as mseedindex's default.
constexpr std::int64_t kIndexInterval = 3600 * kNanosecondsPerSecond;
constexpr std::size_t kMaxLibraryMessages = 1024;

std::string& libraryMessages()
{
    static std::string messages;
    return messages;
}

void keepMessage(char* message) noexcept
{
    if (message == nullptr) return;
    try {
        std::string& kept = libraryMessages();
        if (kept.size() >= kMaxLibraryMessages) return;
        std::string text(message);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (!kept.empty()) kept += "; ";
        kept += text;
    } catch (...) {
    }
}

// The reader's file state and record, released on every path.
struct RecordReader {
    MSFileParam* file = nullptr;
    MSRecord* record = nullptr;
    ~RecordReader() { ms_readmsr_r(&file, &record, nullptr, 0, nullptr, nullptr, 0, 0, 0); }
};

// A section's coverage as libmseed joins it.
struct SpanListFree {
    void operator()(MSTraceList* list) const noexcept { mstl_free(&list, 0); }
};
using SpanList = std::unique_ptr<MSTraceList, SpanListFree>;

int versionOfQuality(char quality)
{
    switch (quality) {
    case 'R': return 1;
    case 'D': return 2;
    case 'Q': return 3;
    case 'M': return 4;
    default: return 0;
    }
}

// The time of the record's last sample, rounded to the nanosecond.
std::int64_t lastSampleTime(std::int64_t start, std::int64_t sampleCount, double rate)
{
    if (sampleCount <= 1 || rate == 0.0) return start;
    const double offset = static_cast<double>(sampleCount - 1);
    const double span = rate > 0.0 ? offset / rate * kNanosecondsPerSecond : offset * -rate * kNanosecondsPerSecond;
    return start + static_cast<std::int64_t>(span + 0.5);
}

bool rateTolerable(double a, double b) { return std::fabs(1.0 - a / b) < 0.0001; }

std::string trimmed(const char* code) { return std::string(code, ::strnlen(code, 11)); }

}  // namespace

TsindexScan scanMseedFile(const std::string& path)
{
    TsindexScan scan;
    auto fail = [&](std::string reason) {
        scan.code = kResultFileOpenFailed;
        scan.reason = path + ": " + std::move(reason);
        scan.sections.clear();
        return scan;
    };
    try {
        std::error_code error;
        const std::filesystem::path resolved = std::filesystem::canonical(path, error);
        if (error) {
            if (error == std::errc::no_such_file_or_directory) {
                scan.filename = std::filesystem::absolute(path).lexically_normal().string();
                return scan;
            }
            return fail("realpath: " + error.message());
        }
        scan.filename = resolved.string();
        struct stat fileStatus {};
        if (::stat(scan.filename.c_str(), &fileStatus) != 0) return fail(std::string("stat: ") + std::strerror(errno));
        scan.fileModTime = static_cast<std::int64_t>(fileStatus.st_mtime);

        libraryMessages().clear();
        ms_loginit(keepMessage, nullptr, keepMessage, nullptr);
        RecordReader reader;
        std::vector<SpanList> spanLists;
        TsindexSection* section = nullptr;
        std::int64_t nextOffset = 0;
        std::int64_t nextMark = 0;
        bool havePrevious = false;
        std::int64_t previousStart = 0;
        Md5 digest;
        off_t position = 0;
        int readStatus = MS_NOERROR;
        auto closeSection = [&] {
            if (section != nullptr) section->hash = digest.finishHex();
        };
        const char* name = scan.filename.c_str();
        while ((readStatus = ms_readmsr_r(&reader.file, &reader.record, name, -1, &position, nullptr, 0, 0, 0)) ==
               MS_NOERROR) {
            MSRecord* record = reader.record;
            const std::int64_t offset = static_cast<std::int64_t>(position);
            const std::int64_t start = static_cast<std::int64_t>(record->starttime) * 1000;
            const std::int64_t end = lastSampleTime(start, record->samplecnt, record->samprate);
            const int version = versionOfQuality(record->dataquality);
            const std::string network = trimmed(record->network), station = trimmed(record->station),
                              location = trimmed(record->location), channel = trimmed(record->channel);
            const bool continues = section != nullptr && section->network == network && section->station == station &&
                                   section->location == location && section->channel == channel &&
                                   section->version == version && offset == nextOffset;
            if (continues) {
                section->bytes = offset + record->reclen - section->byteOffset;
                if (start < section->earliest) section->earliest = start;
                if (end > section->latest) section->latest = end;
                if (!section->rateMismatch && !rateTolerable(section->nominalRate, record->samprate))
                    section->rateMismatch = true;
                if (havePrevious && start <= previousStart) section->timeOrdered = false;
                if (end > nextMark) {
                    section->timeIndex.push_back({start, offset});
                    while (nextMark < end) nextMark += kIndexInterval;
                }
            } else {
                closeSection();
                digest = Md5();
                TsindexSection fresh;
                fresh.network = network;
                fresh.station = station;
                fresh.location = location;
                fresh.channel = channel;
                fresh.version = version;
                fresh.earliest = start;
                fresh.latest = end;
                fresh.nominalRate = record->samprate;
                fresh.byteOffset = offset;
                fresh.bytes = record->reclen;
                fresh.timeIndex.push_back({start, offset});
                scan.sections.push_back(std::move(fresh));
                section = &scan.sections.back();
                spanLists.emplace_back(mstl_init(nullptr));
                if (!spanLists.back()) throw std::bad_alloc();
                nextMark = start + kIndexInterval;
                while (nextMark < end) nextMark += kIndexInterval;
            }
            if (record->samprate != 0.0 &&
                mstl_addmsr(spanLists.back().get(), record, 1, 1, -1.0, -1.0) == nullptr)
                throw std::bad_alloc();
            digest.append(record->record, static_cast<std::size_t>(record->reclen));
            nextOffset = offset + record->reclen;
            previousStart = start;
            havePrevious = true;
        }
        closeSection();
        if (readStatus != MS_ENDOFFILE) {
            const std::string& messages = libraryMessages();
            return fail(std::string("not readable as miniSEED: ") + ms_errorstr(readStatus) +
                        (messages.empty() ? "" : " (libmseed: " + messages + ")"));
        }
        for (std::size_t i = 0; i < scan.sections.size(); ++i)
            for (MSTraceID* id = spanLists[i]->traces; id != nullptr; id = id->next)
                for (MSTraceSeg* seg = id->first; seg != nullptr; seg = seg->next)
                    scan.sections[i].spans.push_back({static_cast<std::int64_t>(seg->starttime) * 1000,
                                                      static_cast<std::int64_t>(seg->endtime) * 1000,
                                                      seg->samprate});
        return scan;
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    } catch (const std::filesystem::filesystem_error& error) {
        return fail(error.what());
    }
}

}  // namespace tremcvt
