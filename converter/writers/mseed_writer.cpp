// Storing channels into SDS day files with libmseed. libmseed packs and
// parses records in memory only: every file-system call goes through the
// writers' OutputFile and the platform layer, so each passes a fault point.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <span>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include <libmseed.h>

#include "common/paths.h"
#include "common/platform.h"
#include "converter/writers/mseed_writer.h"
#include "converter/writers/output_file.h"

namespace tremcvt {
namespace {

using detail::OutputFile;

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
constexpr int kRecordLength = static_cast<int>(kMseedRecordLength);
constexpr int kBigEndian = 1;
constexpr int kMaxSequenceNumber = 999999;
// Steim-2 holds differences of at most 30 bits.
constexpr std::int64_t kSteim2Limit = std::int64_t{1} << 29;
constexpr std::size_t kMaxLibraryMessages = 1024;

static_assert(HPTMODULUS == kMicrosecondsPerSecond, "libmseed times are taken as microseconds");

// Bytes of a day file. A day file grows to tens of megabytes and is read and
// written whole when a store rebuilds it: growing the buffer leaves the new
// bytes uninitialised, since the file or the packer overwrites them at once.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>) { ::new (static_cast<void*>(place)) U; }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) { ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...); }
};
using Bytes = std::vector<char, UninitialisedAllocator<char>>;

// Room for the records of count new samples: 32-bit integers, the largest
// encoding, take 512 bytes for every 114 samples.
std::size_t recordRoomFor(std::size_t count) { return (count / 100 + 2) * kMseedRecordLength; }

// ---- libmseed's messages ----------------------------------------------------
// libmseed reports through a log function; nothing below the driver prints,
// so its messages are kept and handed on as the reason of a failure.
std::string& libraryMessages()
{
    static thread_local std::string messages;
    return messages;
}

void keepLibraryMessage(char* message) noexcept
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
        // Out of memory while keeping a message: the failure is reported
        // without it.
    }
}

// libmseed's value for "no byte order or encoding forced".
constexpr int kNotForced = -1;

// Sets up libmseed for one store: its messages are kept, and records are
// packed in the byte order asked for and read as their headers say, whatever
// the environment variables that libmseed also honours would force.
void prepareLibrary()
{
    libraryMessages().clear();
    ms_loginit(keepLibraryMessage, nullptr, keepLibraryMessage, nullptr);
    MS_PACKHEADERBYTEORDER(kNotForced);
    MS_PACKDATABYTEORDER(kNotForced);
    MS_UNPACKHEADERBYTEORDER(kNotForced);
    MS_UNPACKDATABYTEORDER(kNotForced);
    MS_UNPACKENCODINGFORMAT(kNotForced);
}

std::string libraryFailure(const std::string& what)
{
    const std::string& messages = libraryMessages();
    return messages.empty() ? what : what + " (libmseed: " + messages + ")";
}

// ---- libmseed records as owned objects --------------------------------------
struct RecordDeleter {
    void operator()(MSRecord* record) const noexcept { msr_free(&record); }
};
using RecordPointer = std::unique_ptr<MSRecord, RecordDeleter>;

// A record packed from samples that belong to the caller: msr_free would free
// them, so they are handed back before the record goes.
class PackingRecord {
public:
    PackingRecord() : record_(msr_init(nullptr)) {}
    ~PackingRecord()
    {
        if (record_) record_->datasamples = nullptr;
    }
    PackingRecord(const PackingRecord&) = delete;
    PackingRecord& operator=(const PackingRecord&) = delete;

    MSRecord* get() const { return record_.get(); }

private:
    RecordPointer record_;
};

struct StreamCodes {
    std::string network;
    std::string station;
    std::string channel;
};

struct RecordSink {
    Bytes* out;
    bool failed = false;
};

void appendRecord(char* record, int length, void* sinkData) noexcept
{
    auto* sink = static_cast<RecordSink*>(sinkData);
    if (sink->failed || length <= 0) return;
    try {
        sink->out->insert(sink->out->end(), record, record + length);
    } catch (...) {
        sink->failed = true;
    }
}

bool steim2CanHold(const std::int32_t* samples, std::size_t count)
{
    for (std::size_t i = 1; i < count; ++i) {
        const std::int64_t difference = std::int64_t{samples[i]} - std::int64_t{samples[i - 1]};
        if (difference < -kSteim2Limit || difference >= kSteim2Limit) return false;
    }
    return true;
}

struct Outcome {
    int code = kResultOk;
    std::string reason;

    bool ok() const { return code == kResultOk; }
};

Outcome failed(int code, std::string reason) { return {code, std::move(reason)}; }

// Packs the samples into 512-byte records appended to out, the first starting
// at start. Each call starts afresh (no compression history from earlier
// data), so the records of one stretch of samples depend on those samples
// only. Steim-2 where it can hold every difference; otherwise, still exact,
// 32-bit integers.
Outcome packRecords(const StreamCodes& codes, std::int64_t start, double rate, const std::int32_t* samples,
                    std::size_t count, Bytes& out)
{
    if (count == 0) return {};
    PackingRecord packing;
    MSRecord* record = packing.get();
    if (record == nullptr) return failed(kResultPathOrMemoryFailed, "out of memory while packing records");
    std::snprintf(record->network, sizeof record->network, "%s", codes.network.c_str());
    std::snprintf(record->station, sizeof record->station, "%s", codes.station.c_str());
    record->location[0] = '\0';
    std::snprintf(record->channel, sizeof record->channel, "%s", codes.channel.c_str());
    record->dataquality = 'D';
    record->starttime = start;
    record->samprate = rate;
    record->datasamples = const_cast<std::int32_t*>(samples);
    record->numsamples = static_cast<std::int64_t>(count);
    record->sampletype = 'i';
    record->encoding = steim2CanHold(samples, count) ? DE_STEIM2 : DE_INT32;
    record->reclen = kRecordLength;
    record->byteorder = kBigEndian;
    record->sequence_number = 1;

    RecordSink sink{&out};
    std::int64_t packed = 0;
    const int records = msr_pack(record, appendRecord, &sink, &packed, 1, 0);
    if (sink.failed) return failed(kResultPathOrMemoryFailed, "out of memory while packing records");
    if (records < 0 || packed != static_cast<std::int64_t>(count))
        return failed(kResultFileOpenFailed, libraryFailure("the samples cannot be packed into records"));
    return {};
}

// ---- the records of a day file ------------------------------------------------
struct StoredRecord {
    std::size_t offset = 0;
    std::size_t length = 0;
    std::int64_t start = 0;  // first sample
    std::int64_t last = 0;   // last sample
    std::int64_t sampleCount = 0;
    double rate = 0.0;
    int sequenceNumber = 0;
};

std::int64_t offsetOfSample(std::int64_t index, double rate)
{
    return std::llround(static_cast<double>(index) * static_cast<double>(kMicrosecondsPerSecond) / rate);
}

bool parseRecord(Bytes& bytes, std::size_t offset, int lengthHint, StoredRecord& out)
{
    const std::size_t available = std::min<std::size_t>(bytes.size() - offset, INT_MAX);
    MSRecord* parsed = nullptr;
    const int status = msr_parse(bytes.data() + offset, static_cast<int>(available), &parsed, lengthHint, 0, 0);
    const RecordPointer record(parsed);
    if (status != MS_NOERROR || !record || record->reclen <= 0 ||
        static_cast<std::size_t>(record->reclen) > available)
        return false;
    out.offset = offset;
    out.length = static_cast<std::size_t>(record->reclen);
    out.start = record->starttime;
    out.sampleCount = record->samplecnt;
    out.rate = record->samprate;
    out.sequenceNumber = record->sequence_number;
    out.last = out.start;
    if (out.rate > 0.0 && out.sampleCount > 0) out.last = out.start + offsetOfSample(out.sampleCount - 1, out.rate);
    return true;
}

// The integer samples of one stored record; false when it holds none that can
// be repacked (text, floating-point or undecodable data).
bool decodeSamples(const Bytes& bytes, const StoredRecord& stored, std::vector<std::int32_t>& samples)
{
    // Decoding may swap the record's bytes in place: it works on a copy.
    Bytes copy(bytes.begin() + static_cast<std::ptrdiff_t>(stored.offset),
                           bytes.begin() + static_cast<std::ptrdiff_t>(stored.offset + stored.length));
    MSRecord* parsed = nullptr;
    const int status = msr_parse(copy.data(), static_cast<int>(copy.size()), &parsed, static_cast<int>(copy.size()), 1, 0);
    const RecordPointer record(parsed);
    if (status != MS_NOERROR || !record || record->sampletype != 'i' || record->datasamples == nullptr ||
        record->numsamples != stored.sampleCount)
        return false;
    const auto* values = static_cast<const std::int32_t*>(record->datasamples);
    samples.assign(values, values + record->numsamples);
    return true;
}

void setSequenceNumber(char* record, int number)
{
    char text[8];
    std::snprintf(text, sizeof text, "%06d", number);
    std::memcpy(record, text, 6);
}

int nextSequenceNumber(int number) { return number >= kMaxSequenceNumber || number < 1 ? 1 : number + 1; }

// ---- building the new day file ---------------------------------------------------
struct NewData {
    const StreamCodes* codes;
    std::int64_t start;
    int sps;
    const std::int32_t* samples;
    std::size_t count;

    std::int64_t last() const { return start + offsetOfSample(static_cast<std::int64_t>(count) - 1, sps); }
    // Samples closer than this to one another are the same instant.
    std::int64_t halfInterval() const { return kMicrosecondsPerSecond / (2 * sps); }
};

// The new records packed after the bytes in file, numbered on from
// lastSequenceNumber.
Outcome append(Bytes& file, int lastSequenceNumber, const NewData& data)
{
    const std::size_t firstNew = file.size();
    const Outcome packed = packRecords(*data.codes, data.start, data.sps, data.samples, data.count, file);
    if (!packed.ok()) return packed;
    int number = lastSequenceNumber;
    for (std::size_t at = firstNew; at < file.size(); at += kMseedRecordLength) {
        number = nextSequenceNumber(number);
        setSequenceNumber(file.data() + at, number);
    }
    return {};
}

// A run of whole records for the new file: one stored record kept as it is,
// or records packed here.
struct Piece {
    std::int64_t start = 0;
    const char* bytes = nullptr;
    std::size_t length = 0;
    std::size_t recordLength = 0;
};

// The new data in place of every stored sample less than half a sample
// interval from its span (a sample of a neighbouring segment at another rate
// exactly that far away stays), records in time order, numbered from 1.
Outcome rebuilt(const Bytes& old, const std::vector<StoredRecord>& records, const NewData& data, Bytes& out)
{
    const std::int64_t low = data.start - data.halfInterval();
    const std::int64_t high = data.last() + data.halfInterval();
    std::deque<Bytes> packedRuns;
    std::vector<Piece> pieces;
    const auto addPacked = [&](std::int64_t start, double rate, const std::int32_t* samples,
                               std::size_t count) -> Outcome {
        if (count == 0) return {};
        packedRuns.emplace_back();
        const Outcome packed = packRecords(*data.codes, start, rate, samples, count, packedRuns.back());
        if (packed.ok())
            pieces.push_back({start, packedRuns.back().data(), packedRuns.back().size(), kMseedRecordLength});
        return packed;
    };

    for (const StoredRecord& record : records) {
        const bool waveform = record.rate > 0.0 && record.sampleCount > 0;
        if (!waveform || record.last <= low || record.start >= high) {
            pieces.push_back({record.start, old.data() + record.offset, record.length, record.length});
            continue;
        }
        if (record.start > low && record.last < high) continue;  // wholly replaced
        // Partly covered: what lies outside the new span is packed anew.
        std::vector<std::int32_t> samples;
        if (!decodeSamples(old, record, samples))
            return failed(kResultFileOpenFailed, libraryFailure("a record partly covered by the new data at byte " +
                                                         std::to_string(record.offset) +
                                                         " holds no integer samples to keep"));
        std::size_t before = 0;
        while (before < samples.size() && record.start + offsetOfSample(static_cast<std::int64_t>(before), record.rate) <= low)
            ++before;
        std::size_t after = before;
        while (after < samples.size() && record.start + offsetOfSample(static_cast<std::int64_t>(after), record.rate) < high)
            ++after;
        Outcome kept = addPacked(record.start, record.rate, samples.data(), before);
        if (!kept.ok()) return kept;
        kept = addPacked(record.start + offsetOfSample(static_cast<std::int64_t>(after), record.rate), record.rate,
                         samples.data() + after, samples.size() - after);
        if (!kept.ok()) return kept;
    }
    const Outcome added = addPacked(data.start, data.sps, data.samples, data.count);
    if (!added.ok()) return added;

    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.start < b.start; });
    std::size_t total = 0;
    for (const Piece& piece : pieces) total += piece.length;
    out.clear();
    out.reserve(total);
    int number = 0;
    for (const Piece& piece : pieces) {
        for (std::size_t at = 0; at < piece.length; at += piece.recordLength) {
            const std::size_t begin = out.size();
            out.insert(out.end(), piece.bytes + at, piece.bytes + at + piece.recordLength);
            number = nextSequenceNumber(number);
            setSequenceNumber(out.data() + begin, number);
        }
    }
    return {};
}

// ---- the files -------------------------------------------------------------------
// Reads the whole day file from the open file.
Outcome readWhole(OutputFile& file, std::int64_t size, Bytes& bytes)
{
    bytes.resize(static_cast<std::size_t>(size));
    if (size > 0 && !file.readAllAt(bytes.data(), bytes.size(), 0)) return failed(kResultFileOpenFailed, file.failure());
    return {};
}

// Every whole record of the file, in file order, and where they end. An
// append cut off by a crash leaves at most a torn tail after the last whole
// record: bytes from which no record can be read, with no record after them
// at any record boundary. Such a tail is left out (wholeEnd before the end
// of the file); any other part that is not a record fails with the reason.
bool parseWholeRecords(Bytes& bytes, const std::string& path, std::vector<StoredRecord>& records,
                       std::size_t& wholeEnd, std::string& reason)
{
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        StoredRecord record;
        if (!parseRecord(bytes, offset, 0, record)) break;
        records.push_back(record);
        offset += record.length;
    }
    wholeEnd = offset;
    if (offset == bytes.size()) return true;
    bool torn = offset > 0;
    for (std::size_t later = offset + kMseedRecordLength; torn && later < bytes.size(); later += kMseedRecordLength) {
        StoredRecord record;
        if (parseRecord(bytes, later, 0, record)) torn = false;
    }
    if (torn) return true;
    reason = libraryFailure(path + ": not a miniSEED day file (no record can be read at byte " +
                            std::to_string(offset) + ")");
    return false;
}

// Writes the new day file beside the old one and renames it over that one.
Outcome replaceDayFile(const std::string& directory, const std::string& name, const Bytes& bytes)
{
    const std::string path = joinPath(directory, name);
    // A fixed name: a temporary file that an interrupted store left behind is
    // taken over by the next store of the same day. The leading dot keeps it
    // out of the day-file patterns that SDS readers look for.
    const std::string temporary = joinPath(directory, "." + name + ".tmp");
    OutputFile file(temporary, OutputFile::Mode::CreateTruncate);
    if (!file.isOpen()) return failed(kResultFileOpenFailed, file.failure());
    const bool written = file.writeAll(bytes.data(), bytes.size());
    std::string reason = file.failure();
    const bool closed = file.close();
    if (!written || !closed) {
        if (reason.empty()) reason = file.failure();
        removeFile(temporary);
        return failed(kResultFileOpenFailed, reason);
    }
    const FileCallResult renamed = renameFile(temporary, path);
    if (!renamed) {
        removeFile(temporary);
        return failed(kResultFileOpenFailed, renamed.reason);
    }
    return {};
}

// Appends the new records in place at the end of the file's whole records
// (at), cutting off a torn tail first (when the file is longer than at). A
// write that fails is cut back, so that the file ends with whole records
// again; a crash during the write leaves a torn tail, which the next store
// cuts off.
Outcome appendInPlace(OutputFile& file, std::int64_t size, std::int64_t at, int lastSequenceNumber,
                      const NewData& data)
{
    Bytes records;
    records.reserve(recordRoomFor(data.count));
    Outcome outcome = append(records, lastSequenceNumber, data);
    if (!outcome.ok()) return outcome;
    if (size > at && !file.truncate(at)) return failed(kResultFileOpenFailed, file.failure());
    if (!file.writeAllAt(records.data(), records.size(), at)) {
        const std::string reason = file.failure();
        file.truncate(at);
        return failed(kResultFileOpenFailed, reason);
    }
    if (!file.close()) return failed(kResultFileOpenFailed, file.failure());
    return {};
}

// Makes the year, network, station and channel directories of a day file.
// The root itself is never made: a missing one fails the first of them.
Outcome makeChannelDirectories(const std::string& channelDirectory)
{
    constexpr int kLevelsBelowRoot = 4;
    std::filesystem::path levels[kLevelsBelowRoot];
    std::filesystem::path dir{channelDirectory};
    for (int i = kLevelsBelowRoot - 1; i >= 0; --i, dir = dir.parent_path()) levels[i] = dir;
    for (const std::filesystem::path& level : levels) {
        const FileCallResult made = makeDirectory(level.string());
        if (!made) return failed(kResultFileOpenFailed, made.reason);
    }
    return {};
}

Outcome storeDay(const std::string& directory, const std::string& name, const NewData& data)
{
    const std::string path = joinPath(directory, name);
    OutputFile file(path, OutputFile::Mode::ExistingUpdate);
    if (!file.isOpen() && file.error() != ENOENT) return failed(kResultFileOpenFailed, file.failure());
    const std::int64_t size = file.isOpen() ? file.size() : 0;
    if (size < 0) return failed(kResultFileOpenFailed, file.failure());
    if (size == 0) {
        // A new day file (or an empty one) is written whole and renamed into
        // place, so that readers never see it half written.
        file.close();
        Bytes bytes;
        const Outcome packed = packRecords(*data.codes, data.start, data.sps, data.samples, data.count, bytes);
        if (!packed.ok()) return packed;
        return replaceDayFile(directory, name, bytes);
    }

    // The last record is the latest one in a file that this writer keeps:
    // only it is read when the file ends with a whole record of this length.
    StoredRecord last;
    bool haveLast = false;
    if (size % kRecordLength == 0) {
        Bytes tail(kMseedRecordLength);
        if (!file.readAllAt(tail.data(), tail.size(), size - kRecordLength))
            return failed(kResultFileOpenFailed, file.failure());
        haveLast = parseRecord(tail, 0, kRecordLength, last) && last.length == kMseedRecordLength;
    }
    if (haveLast && data.start - last.last >= data.halfInterval())
        return appendInPlace(file, size, size, last.sequenceNumber, data);

    // A torn tail, records of other lengths, or data that overlaps or comes
    // before the file's end: the whole file is read.
    Bytes bytes;
    Outcome outcome = readWhole(file, size, bytes);
    if (!outcome.ok()) return outcome;
    std::vector<StoredRecord> records;
    std::size_t wholeEnd = 0;
    std::string reason;
    if (!parseWholeRecords(bytes, path, records, wholeEnd, reason)) return failed(kResultFileOpenFailed, reason);
    bytes.resize(wholeEnd);
    last = records.back();
    if (data.start - last.last >= data.halfInterval())
        return appendInPlace(file, size, static_cast<std::int64_t>(wholeEnd), last.sequenceNumber, data);
    // Nothing was written through this descriptor: a failure to close it
    // changes nothing on disk.
    file.close();
    Bytes next;
    outcome = rebuilt(bytes, records, data, next);
    if (!outcome.ok()) return outcome;
    return replaceDayFile(directory, name, next);
}

std::int32_t integerSample(float value)
{
    if (std::isnan(value)) return 0;
    if (value >= 2147483648.0f) return INT32_MAX;
    if (value <= -2147483648.0f) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

}  // namespace

bool mseedOutputAvailable() { return true; }

OutputResult storeMseedSegment(const ChannelTrace& trace, const TraceSegment& segment, std::string_view root,
                               std::string_view network)
{
    OutputResult result;
    std::string dayFilePath;
    // The failure line names the day file a failure concerns, else the root.
    auto failure = [&](ResultCode code, std::string reason) {
        result.code = code;
        result.reason = std::move(reason);
        result.line = "miniSEED write error (" + trace.station.str() + "::" + trace.component.str() +
                      "::" + (dayFilePath.empty() ? std::string(root) : dayFilePath) + ")\n";
        result.unstoredChannels = 1;
        return result;
    };
    try {
        if (segment.sampleCount == 0) return result;
        const std::span<const float> values =
            std::span<const float>(trace.samples).subspan(segment.firstSample, segment.sampleCount);
        const StreamCodes codes{std::string(network), trace.station.str(), trace.component.str()};
        if (checkMseedCodes(codes.network, codes.station, codes.channel) != MseedCodeCheck::kValid)
            return failure(kResultFileOpenFailed, "the codes " + codes.network + "." + codes.station + "." +
                                                     codes.channel + " cannot stand in a miniSEED record");
        const std::vector<SdsDayPiece> days = splitAtUtcMidnights(segment.startTime, segment.sps, values.size());
        if (days.empty())
            return failure(kResultFileOpenFailed,
                          "a rate of " + std::to_string(segment.sps) +
                              " samples per second or this start time cannot be written as miniSEED");
        std::vector<std::int32_t> samples(values.size());
        std::transform(values.begin(), values.end(), samples.begin(), integerSample);

        prepareLibrary();
        for (const SdsDayPiece& day : days) {
            const std::string directory =
                sdsChannelDirectory(root, codes.network, codes.station, codes.channel, day.year);
            const std::string name = sdsDayFileName(codes.network, codes.station, codes.channel, day.year, day.dayOfYear);
            dayFilePath = joinPath(directory, name);
            Outcome outcome = makeChannelDirectories(directory);
            if (outcome.ok())
                outcome = storeDay(directory, name,
                                   {&codes, day.startMicroseconds, segment.sps, samples.data() + day.firstSample,
                                    day.sampleCount});
            if (!outcome.ok()) return failure(outcome.code, outcome.reason);
        }
        return result;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return failure(kResultPathOrMemoryFailed, "out of memory while storing miniSEED records");
}

OutputResult storeMseedChannel(const ChannelTrace& trace, std::string_view root, std::string_view network,
                               int utcOffsetSeconds)
{
    // Each segment at its own start and rate; the first failure ends the
    // channel's store.
    for (TraceSegment segment : segmentsOf(trace)) {
        segment.startTime -= utcOffsetSeconds;
        OutputResult stored = storeMseedSegment(trace, segment, root, network);
        if (stored.code != kResultOk) return stored;
    }
    return {};
}

}  // namespace tremcvt
