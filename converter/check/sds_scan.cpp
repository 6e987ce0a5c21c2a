// Reading an SDS tree with libmseed: records are parsed in memory, one day
// file at a time.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <system_error>

#include <libmseed.h>

#include "converter/check/sds_check.h"

namespace tremcvt::check {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxMessages = 512;

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
        if (kept.size() >= kMaxMessages) return;
        std::string text(message);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (!kept.empty()) kept += "; ";
        kept += text;
    } catch (...) {
        // The finding is reported without the library's words.
    }
}

struct RecordDeleter {
    void operator()(MSRecord* record) const noexcept { msr_free(&record); }
};
using RecordPointer = std::unique_ptr<MSRecord, RecordDeleter>;

bool readWhole(const fs::path& path, std::vector<char>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error) return false;
    bytes.resize(static_cast<std::size_t>(size));
    return size == 0 || static_cast<bool>(in.read(bytes.data(), static_cast<std::streamsize>(size)));
}

std::string reasonWithLibrary(const std::string& what)
{
    const std::string& messages = libraryMessages();
    return messages.empty() ? what : what + " (libmseed: " + messages + ")";
}

// Parses every record of one day file; false after the first part that is no
// record (with its finding).
void parseDayFile(const std::string& file, std::vector<char>& bytes, bool readData, std::vector<SdsRecord>& records,
                  std::vector<Finding>& findings)
{
    // One record structure for the whole file: the library fills it anew
    // for each record instead of allocating one per record.
    MSRecord* parsed = nullptr;
    RecordPointer record;
    for (std::size_t offset = 0; offset < bytes.size();) {
        if (!libraryMessages().empty()) libraryMessages().clear();
        const std::size_t available = std::min<std::size_t>(bytes.size() - offset, 1u << 30);
        const int status =
            msr_parse(bytes.data() + offset, static_cast<int>(available), &parsed, 0, readData ? 1 : 0, 0);
        if (record.get() != parsed) {
            record.release();
            record.reset(parsed);
        }
        if (status != MS_NOERROR || !record || record->reclen <= 0 ||
            static_cast<std::size_t>(record->reclen) > available) {
            std::string what = status > 0 ? "the record at byte " + std::to_string(offset) + " is cut short (" +
                                                std::to_string(available) + " bytes left)"
                                          : "no miniSEED record can be read at byte " + std::to_string(offset);
            if (status < 0) what += ": " + std::string(ms_errorstr(status));
            findings.push_back({"record", file, reasonWithLibrary(what)});
            return;
        }
        if (readData && record->numsamples != record->samplecnt) {
            findings.push_back({"samples", file,
                                "the record at byte " + std::to_string(offset) + " decodes to " +
                                    std::to_string(record->numsamples) + " of its " +
                                    std::to_string(record->samplecnt) + " samples"});
        }
        SdsRecord r;
        r.offset = static_cast<std::int64_t>(offset);
        r.network = record->network;
        r.station = record->station;
        r.location = record->location;
        r.channel = record->channel;
        r.begin = static_cast<double>(record->starttime) / HPTMODULUS;
        r.rate = record->samprate;
        r.sampleCount = record->samplecnt;
        records.push_back(std::move(r));
        offset += static_cast<std::size_t>(record->reclen);
    }
}

}  // namespace

bool sdsCheckAvailable() { return true; }

SdsScan scanSdsTree(const std::string& root, const Selection& selection, bool readData)
{
    SdsScan scan;
    ms_loginit(keepMessage, nullptr, keepMessage, nullptr);
    const fs::path rootPath(root);
    std::error_code error;
    if (!fs::is_directory(rootPath, error)) {
        scan.findings.push_back({"missing", root, "the SDS directory does not exist"});
        return scan;
    }
    std::map<std::string, ChannelPieces> channels;
    std::vector<fs::path> dayFiles;
    fs::recursive_directory_iterator it(rootPath, error);
    for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
        if (it->symlink_status(error).type() != fs::file_type::regular) continue;
        const std::string name = it->path().filename().string();
        const std::string relative = it->path().lexically_relative(rootPath).generic_string();
        if (isSdsLeftover(name)) {
            SdsDayName day;
            parseSdsDayName(name.substr(1, name.size() - 5), day);
            if (selection.selectsStation(day.station) && selection.selectsChannel(day.channel))
                scan.findings.push_back({"leftover", relative,
                                         "temporary file of an interrupted store (" +
                                             std::to_string(it->file_size(error)) + " bytes)"});
            continue;
        }
        SdsDayName day;
        if (!parseSdsDayName(name, day)) continue;
        if (!selection.selectsStation(day.station) || !selection.selectsChannel(day.channel) ||
            !selection.selectsTime(day.dayBegin, day.dayBegin + 86400.0))
            continue;
        dayFiles.push_back(it->path());
    }
    if (error) scan.findings.push_back({"unreadable", root, "the SDS tree cannot be read whole: " + error.message()});
    std::sort(dayFiles.begin(), dayFiles.end());

    std::vector<char> bytes;
    // Kept from file to file, so that a year of day files fills one buffer
    // of records instead of growing a new one for each file.
    std::vector<SdsRecord> records;
    for (const fs::path& path : dayFiles) {
        const std::string relative = path.lexically_relative(rootPath).generic_string();
        SdsDayName day;
        parseSdsDayName(path.filename().string(), day);
        ++scan.dayFiles;
        if (!readWhole(path, bytes)) {
            scan.findings.push_back({"unreadable", relative, "the day file cannot be read"});
            continue;
        }
        records.clear();
        // Day files of this writer hold 512-byte records.
        records.reserve(bytes.size() / 512 + 1);
        parseDayFile(relative, bytes, readData, records, scan.findings);
        scan.records += static_cast<std::int64_t>(records.size());
        for (Finding& finding : checkSdsRecords(relative, day, records)) scan.findings.push_back(std::move(finding));
        const std::string key = day.network + "." + day.station + "." + day.location + "." + day.channel;
        ChannelPieces& pieces = channels[key];
        pieces.name = key;
        for (const SdsRecord& r : records) {
            if (!(r.rate > 0.0) || r.sampleCount <= 0) continue;
            pieces.rate = r.rate;
            // Records that follow each other join into one piece, so a year
            // of records stays a short list.
            if (!pieces.pieces.empty() && std::fabs(r.begin - pieces.pieces.back().end) <= 0.5 / r.rate) {
                pieces.pieces.back().end = std::max(pieces.pieces.back().end, r.end());
                continue;
            }
            pieces.pieces.push_back({r.begin, r.end()});
        }
    }
    for (auto& [key, pieces] : channels) scan.channels.push_back(std::move(pieces));
    return scan;
}

}  // namespace tremcvt::check
