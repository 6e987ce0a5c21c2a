#include "converter/check/trz_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "converter/writers/trz_writer.h"

namespace tremcvt::check {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMarkerName = ".tremcvt-archive-root";
constexpr std::int64_t kSampleBytes = 4;
constexpr std::size_t kReadChunk = 1 << 20;

struct HeaderKey {
    std::string_view prefix;
    std::string TrzHeaderFields::*field;
};

constexpr HeaderKey kHeaderKeys[] = {
    {"Data offset=", &TrzHeaderFields::dataOffset}, {"Start time=", &TrzHeaderFields::startTime},
    {"Start date=", &TrzHeaderFields::startDate},   {"Time duration=", &TrzHeaderFields::duration},
    {"Data type=", &TrzHeaderFields::dataType},     {"SpS=", &TrzHeaderFields::rate},
    {"Station=", &TrzHeaderFields::station},        {"Channel=", &TrzHeaderFields::channel},
};

std::string channelKey(const CatalogueRow& row)
{
    return row.station + "::" + row.channel + "::" + (row.locationCode.empty() ? "??" : row.locationCode);
}

std::string rowText(const CatalogueRow& row)
{
    char text[128];
    std::snprintf(text, sizeof text, "%s, %.2f s at %.2f sps", utcText(row.begin, 4).c_str(), row.length, row.rate);
    return text;
}

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

// Reads the header area and, when asked, checks the samples of the row.
void readFile(const fs::path& path, const CatalogueRow& row, bool readData, FileFacts& facts)
{
    FilePointer file(std::fopen(path.string().c_str(), "rb"));
    if (!file) {
        facts.state = FileFacts::State::kUnreadable;
        return;
    }
    const auto headerBytes =
        static_cast<std::size_t>(std::clamp<std::int64_t>(std::min<std::int64_t>(row.dataOffset, facts.size), 0,
                                                          static_cast<std::int64_t>(kTrzHeaderSize)));
    if (row.dataOffset == static_cast<std::int32_t>(kTrzHeaderSize) && headerBytes > 0) {
        facts.header.resize(headerBytes);
        if (std::fread(facts.header.data(), 1, headerBytes, file.get()) != headerBytes) {
            facts.state = FileFacts::State::kUnreadable;
            return;
        }
    }
    if (!readData || row.dataOffset < 0) return;
    const std::int64_t held = std::max<std::int64_t>(0, (facts.size - row.dataOffset) / kSampleBytes);
    const std::int64_t count = std::min(held, row.samples());
    if (std::fseek(file.get(), row.dataOffset, SEEK_SET) != 0) {
        facts.state = FileFacts::State::kUnreadable;
        return;
    }
    std::vector<unsigned char> chunk(kReadChunk);
    std::int64_t index = 0;
    while (index < count) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(count - index, static_cast<std::int64_t>(kReadChunk / kSampleBytes)));
        if (std::fread(chunk.data(), kSampleBytes, want, file.get()) != want) {
            facts.state = FileFacts::State::kUnreadable;
            return;
        }
        for (std::size_t i = 0; i < want; ++i) {
            const unsigned char* b = chunk.data() + i * kSampleBytes;
            const std::uint32_t bits = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                                       (static_cast<std::uint32_t>(b[2]) << 16) |
                                       (static_cast<std::uint32_t>(b[3]) << 24);
            // Exponent all ones: infinity or not a number.
            if ((bits & 0x7f800000u) == 0x7f800000u) {
                if (facts.firstBadSample < 0) facts.firstBadSample = index + static_cast<std::int64_t>(i);
                ++facts.badSamples;
            }
        }
        index += static_cast<std::int64_t>(want);
    }
    facts.samplesRead = true;
}

// The channel code of an archive file name "DDMMYYYY-HHMMSS-CCC.SSS"
// (leading blanks of the right-aligned code dropped); empty for other names.
std::string channelOfFileName(std::string_view name)
{
    const std::size_t dash = name.rfind('-');
    const std::size_t dot = name.rfind('.');
    if (dash == std::string_view::npos || dot == std::string_view::npos || dot < dash) return std::string();
    std::string_view code = name.substr(dash + 1, dot - dash - 1);
    while (!code.empty() && code.front() == ' ') code.remove_prefix(1);
    return std::string(code);
}

bool entrySelected(const ArchiveEntry& entry, const Selection& selection)
{
    const std::size_t slash = entry.path.find('/');
    const std::string_view station = std::string_view(entry.path).substr(0, slash);
    if (!selection.stations.empty() && (slash == std::string::npos || !selection.selectsStation(station)))
        return false;
    if (selection.channels.empty()) return true;
    const std::size_t last = entry.path.rfind('/');
    return selection.selectsChannel(channelOfFileName(std::string_view(entry.path).substr(last + 1)));
}

// Every entry below directory, by its path relative to root.
void walk(const fs::path& root, const fs::path& directory, std::vector<ArchiveEntry>& entries,
          std::vector<Finding>& findings)
{
    std::error_code error;
    if (!fs::exists(fs::symlink_status(directory, error))) return;
    fs::recursive_directory_iterator it(directory, fs::directory_options::none, error);
    if (error) {
        findings.push_back({"unreadable", directory.string(), "directory cannot be read: " + error.message()});
        return;
    }
    for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
        if (error) {
            findings.push_back({"unreadable", it->path().string(), "directory cannot be read: " + error.message()});
            error.clear();
            continue;
        }
        const fs::file_type type = it->symlink_status(error).type();
        if (type == fs::file_type::directory) continue;
        ArchiveEntry entry;
        entry.path = it->path().lexically_relative(root).generic_string();
        entry.regular = type == fs::file_type::regular;
        if (entry.regular) entry.size = static_cast<std::int64_t>(it->file_size(error));
        entries.push_back(std::move(entry));
    }
}

Finding sharedPathFinding(const std::string& path, int rows)
{
    return {"shared", path, std::to_string(rows) + " catalogue rows name this file"};
}

// The rows of the selection, without copying them, in order of station,
// channel, location code and start.
std::vector<const CatalogueRow*> selectedRows(const std::vector<CatalogueRow>& rows, const Selection& selection)
{
    std::vector<const CatalogueRow*> selected;
    for (const CatalogueRow& row : rows)
        if (selection.selectsStation(row.station) && selection.selectsChannel(row.channel) &&
            selection.selectsTime(row.begin, std::max(row.sampleEnd(), row.begin + row.length)))
            selected.push_back(&row);
    std::sort(selected.begin(), selected.end(), [](const CatalogueRow* a, const CatalogueRow* b) {
        return std::tie(a->station, a->channel, a->locationCode, a->begin, a->path) <
               std::tie(b->station, b->channel, b->locationCode, b->begin, b->path);
    });
    return selected;
}

std::vector<Finding> overlappingRows(const std::vector<const CatalogueRow*>& rows)
{
    struct Keyed {
        std::string key;
        const CatalogueRow* row;
    };
    std::vector<Keyed> sorted;
    sorted.reserve(rows.size());
    for (const CatalogueRow* row : rows) sorted.push_back({channelKey(*row), row});
    std::stable_sort(sorted.begin(), sorted.end(), [](const Keyed& a, const Keyed& b) {
        return a.key != b.key ? a.key < b.key : a.row->begin < b.row->begin;
    });
    std::vector<Finding> findings;
    const CatalogueRow* reach = nullptr;  // the row of the channel that ends latest so far
    std::string reachKey;
    for (const Keyed& keyed : sorted) {
        const CatalogueRow* row = keyed.row;
        const std::string& key = keyed.key;
        if (reach != nullptr && key == reachKey) {
            const double tolerance = row->rate > 0.0 ? 0.5 / row->rate : 0.0;
            const double overlap = reach->sampleEnd() - row->begin;
            if (overlap > tolerance) {
                findings.push_back({"overlap", row->path,
                                    "its samples from " + utcText(row->begin) + " overlap " +
                                        durationText(std::min(overlap, row->sampleEnd() - row->begin)) + " of " +
                                        reach->path + " (" + channelKey(*row) + ", that file ends " +
                                        utcText(reach->sampleEnd()) + ")"});
            }
            if (row->sampleEnd() > reach->sampleEnd()) reach = row;
        } else {
            reach = row;
            reachKey = key;
        }
    }
    return findings;
}


}  // namespace

TrzHeaderFields parseTrzHeader(std::string_view area)
{
    const std::size_t zero = area.find('\0');
    std::string_view text = area.substr(0, zero);
    TrzHeaderFields fields;
    bool first = true;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            fields.signature = line == "[TRZ5.x]";
            first = false;
            continue;
        }
        for (const HeaderKey& key : kHeaderKeys) {
            if (line.substr(0, key.prefix.size()) == key.prefix) {
                fields.*key.field = std::string(line.substr(key.prefix.size()));
                break;
            }
        }
    }
    return fields;
}

ExpectedHeader expectedTrzHeader(const CatalogueRow& row)
{
    // The writer's own header for the row, read back: one layout in one place.
    const TrzHeader header = formatTrzHeader(row.begin, row.length, row.rate, row.station, row.channel);
    ExpectedHeader expected;
    expected.fields = parseTrzHeader(header.text());
    if (row.end) expected.alternativeDuration = formatTrzDuration(*row.end - row.begin);
    return expected;
}

std::string headerDifferences(const TrzHeaderFields& found, const ExpectedHeader& expected)
{
    std::string out;
    const auto note = [&out](const char* field, const std::string& header, const std::string& row) {
        if (!out.empty()) out += "; ";
        out += std::string(field) + ": header '" + header + "', row '" + row + "'";
    };
    if (!found.signature) {
        note("signature", "(none)", "[TRZ5.x]");
        return out;
    }
    const TrzHeaderFields& e = expected.fields;
    if (found.dataOffset != e.dataOffset) note("data offset", found.dataOffset, e.dataOffset);
    if (found.startDate != e.startDate) note("start date", found.startDate, e.startDate);
    if (found.startTime != e.startTime) note("start time", found.startTime, e.startTime);
    if (found.duration != e.duration &&
        (expected.alternativeDuration.empty() || found.duration != expected.alternativeDuration))
        note("duration", found.duration, e.duration);
    if (found.rate != e.rate) note("rate", found.rate, e.rate);
    if (found.station != e.station) note("station", found.station, e.station);
    if (found.channel != e.channel) note("channel", found.channel, e.channel);
    return out;
}

bool pathBelowRoot(std::string_view cataloguePath)
{
    if (cataloguePath.empty() || cataloguePath.front() == '/' || cataloguePath.front() == '\\') return false;
    if (cataloguePath.size() > 1 && cataloguePath[1] == ':') return false;
    std::size_t start = 0;
    while (start <= cataloguePath.size()) {
        std::size_t end = cataloguePath.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = cataloguePath.size();
        const std::string_view part = cataloguePath.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

std::vector<Finding> compareRowWithFile(const CatalogueRow& row, const FileFacts& facts)
{
    std::vector<Finding> findings;
    const std::string& file = row.path;
    const auto rowDescription = [&row] { return "row " + channelKey(row) + " " + rowText(row); };
    switch (facts.state) {
    case FileFacts::State::kMissing:
        findings.push_back({"missing", file, "no such file (" + rowDescription() + ")"});
        return findings;
    case FileFacts::State::kNotRegular:
        findings.push_back({"not-regular", file, "not a regular file (" + rowDescription() + ")"});
        return findings;
    case FileFacts::State::kUnreadable:
        findings.push_back({"unreadable", file, "the file cannot be read (" + rowDescription() + ")"});
        return findings;
    case FileFacts::State::kRegular:
        break;
    }
    const std::int64_t expected = row.expectedSize();
    if (facts.size < expected) {
        const std::int64_t held = std::max<std::int64_t>(0, (facts.size - row.dataOffset) / kSampleBytes);
        const double lostFrom = row.rate > 0.0 ? row.begin + static_cast<double>(held) / row.rate : row.begin;
        findings.push_back({"short", file,
                            std::to_string(facts.size) + " bytes, the row promises " + std::to_string(expected) +
                                ": the file holds " + std::to_string(held) + " samples, its row " +
                                std::to_string(row.samples()) + " (missing " + utcText(lostFrom) + " to " +
                                utcText(row.sampleEnd()) + ")"});
    } else if (facts.size > expected) {
        findings.push_back({"tail", file,
                            std::to_string(facts.size - expected) + " bytes beyond the " +
                                std::to_string(row.samples()) + " samples of its row (" + std::to_string(facts.size) +
                                " bytes, the row promises " + std::to_string(expected) + ")"});
    }
    if (row.dataOffset == static_cast<std::int32_t>(kTrzHeaderSize)) {
        if (facts.header.size() < kTrzHeaderSize) {
            if (facts.size >= expected)
                findings.push_back({"header", file, "the header area is incomplete"});
        } else {
            const std::string differences = headerDifferences(parseTrzHeader(facts.header), expectedTrzHeader(row));
            if (!differences.empty()) findings.push_back({"header", file, differences});
        }
    }
    if (facts.samplesRead && facts.badSamples > 0) {
        const double at =
            row.rate > 0.0 ? row.begin + static_cast<double>(facts.firstBadSample) / row.rate : row.begin;
        findings.push_back({"samples", file,
                            std::to_string(facts.badSamples) + " samples are not finite numbers, the first sample " +
                                std::to_string(facts.firstBadSample) + " at " + utcText(at)});
    }
    return findings;
}

std::vector<const CatalogueRow*> selectRows(const std::vector<CatalogueRow>& rows, const Selection& selection)
{
    return selectedRows(rows, selection);
}

std::vector<Finding> findOverlappingRows(const std::vector<CatalogueRow>& rows)
{
    std::vector<const CatalogueRow*> pointers;
    pointers.reserve(rows.size());
    for (const CatalogueRow& row : rows) pointers.push_back(&row);
    return overlappingRows(pointers);
}

std::vector<Finding> findSharedPaths(const std::vector<CatalogueRow>& rows)
{
    std::map<std::string, int> count;
    for (const CatalogueRow& row : rows) ++count[row.path];
    std::vector<Finding> findings;
    for (const auto& [path, rowsWithPath] : count)
        if (rowsWithPath > 1) findings.push_back(sharedPathFinding(path, rowsWithPath));
    return findings;
}

std::vector<Finding> findOrphans(const std::vector<ArchiveEntry>& entries, const std::vector<CatalogueRow>& allRows)
{
    // Views of the rows' paths; only paths with "\\" separators are copied.
    std::deque<std::string> converted;
    std::unordered_set<std::string_view> catalogued;
    catalogued.reserve(allRows.size() * 2);
    for (const CatalogueRow& row : allRows) {
        if (row.path.find('\\') == std::string::npos) {
            catalogued.insert(row.path);
            continue;
        }
        std::string& path = converted.emplace_back(row.path);
        std::replace(path.begin(), path.end(), '\\', '/');
        catalogued.insert(path);
    }
    std::vector<const ArchiveEntry*> orphans;
    for (const ArchiveEntry& entry : entries)
        if (entry.path != kMarkerName && catalogued.find(entry.path) == catalogued.end()) orphans.push_back(&entry);
    std::sort(orphans.begin(), orphans.end(),
              [](const ArchiveEntry* a, const ArchiveEntry* b) { return a->path < b->path; });
    std::vector<Finding> findings;
    for (const ArchiveEntry* entry : orphans)
        findings.push_back({"orphan", entry->path,
                            entry->regular ? "no catalogue row names this file (" + std::to_string(entry->size) +
                                                 " bytes)"
                                           : "no catalogue row names this entry (not a regular file)"});
    return findings;
}

std::vector<Finding> verifyTrzArchive(const std::vector<CatalogueRow>& allRows, const std::string& root,
                                      const Selection& selection, bool readData, VerifyTotals& totals)
{
    std::vector<Finding> findings;
    const fs::path rootPath(root);
    std::error_code error;
    if (!fs::is_directory(rootPath, error)) {
        findings.push_back({"missing", root,
                            "the archive directory does not exist (" + std::to_string(allRows.size()) +
                                " catalogue rows)"});
        return findings;
    }

    // One walk of the directories that hold the selected files.
    std::vector<ArchiveEntry> entries;
    if (selection.stations.empty()) {
        walk(rootPath, rootPath, entries, findings);
    } else {
        for (const std::string& station : selection.stations) walk(rootPath, rootPath / station, entries, findings);
    }
    totals.filesSeen = static_cast<std::int64_t>(entries.size());
    std::unordered_map<std::string_view, const ArchiveEntry*> byPath;
    byPath.reserve(entries.size() * 2);
    for (const ArchiveEntry& entry : entries) byPath.emplace(entry.path, &entry);

    const std::vector<const CatalogueRow*> rows = selectedRows(allRows, selection);
    totals.rows = static_cast<std::int64_t>(rows.size());
    std::map<std::string_view, int> rowsWithPath;
    for (const CatalogueRow* selected : rows) {
        const CatalogueRow& row = *selected;
        ++rowsWithPath[row.path];
        if (!pathBelowRoot(row.path)) {
            findings.push_back({"outside", row.path.empty() ? "(no path)" : row.path,
                                "the catalogue path does not lie below the archive root (row " + channelKey(row) +
                                    " " + rowText(row) + ")"});
            continue;
        }
        std::string generic = row.path;
        std::replace(generic.begin(), generic.end(), '\\', '/');
        FileFacts facts;
        const auto found = byPath.find(generic);
        if (found != byPath.end()) {
            facts.state = found->second->regular ? FileFacts::State::kRegular : FileFacts::State::kNotRegular;
            facts.size = found->second->size;
        } else {
            // Not below the walked directories (or not there at all).
            const fs::path full = rootPath / fs::path(generic);
            const fs::file_status status = fs::symlink_status(full, error);
            if (status.type() == fs::file_type::regular) {
                facts.state = FileFacts::State::kRegular;
                facts.size = static_cast<std::int64_t>(fs::file_size(full, error));
            } else if (fs::exists(status)) {
                facts.state = FileFacts::State::kNotRegular;
            }
        }
        if (facts.state == FileFacts::State::kRegular) {
            readFile(rootPath / fs::path(generic), row, readData, facts);
            if (facts.samplesRead) totals.samplesRead += std::min(row.samples(), (facts.size - row.dataOffset) / 4);
        }
        for (Finding& finding : compareRowWithFile(row, facts)) findings.push_back(std::move(finding));
    }
    for (Finding& finding : overlappingRows(rows)) findings.push_back(std::move(finding));
    for (const auto& [path, count] : rowsWithPath)
        if (count > 1) findings.push_back(sharedPathFinding(std::string(path), count));

    std::vector<ArchiveEntry> selectedEntries;
    for (const ArchiveEntry& entry : entries)
        if (entrySelected(entry, selection)) selectedEntries.push_back(entry);
    for (Finding& finding : findOrphans(selectedEntries, allRows)) findings.push_back(std::move(finding));
    return findings;
}

}  // namespace tremcvt::check
