#include "common/fault_injection.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace tremcvt {
namespace {

struct FaultPlan {
    bool active = false;        // any of the variables is set
    unsigned long long at = 0;  // 0: no point is hit
    bool crash = false;
    bool powerCut = false;  // a crash that first undoes what was not synced
    bool onward = false;  // every point from `at` on fails
    unsigned sites = ~0u; // bit per FaultSite that counts
    int traceFd = -1;
};

constexpr FaultSite kAllSites[] = {FaultSite::Open,     FaultSite::Stat,  FaultSite::Read,
                                   FaultSite::Write,    FaultSite::Truncate, FaultSite::Close,
                                   FaultSite::MakeDirectory, FaultSite::Remove, FaultSite::Rename,
                                   FaultSite::Sync,     FaultSite::Execute, FaultSite::Fetch};

unsigned siteBit(FaultSite site) { return 1u << static_cast<unsigned>(site); }

unsigned readSites(const char* list)
{
    unsigned bits = 0;
    std::string rest(list);
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(',', start);
        if (end == std::string::npos) end = rest.size();
        const std::string name = rest.substr(start, end - start);
        for (const FaultSite site : kAllSites)
            if (name == faultSiteName(site)) bits |= siteBit(site);
        start = end + 1;
    }
    return bits;
}

// Points reached so far; conversions on several threads share the count.
std::atomic<unsigned long long> reachedPoints{0};

FaultPlan readPlan()
{
    FaultPlan plan;
    const char* at = std::getenv("TREMCVT_FAULT_AT");
    const char* action = std::getenv("TREMCVT_FAULT_ACTION");
    const char* trace = std::getenv("TREMCVT_FAULT_TRACE");
    if (at != nullptr && *at != '\0') plan.at = std::strtoull(at, nullptr, 10);
    plan.crash = action != nullptr && std::strcmp(action, "crash") == 0;
    plan.powerCut = plan.at > 0 && action != nullptr && std::strcmp(action, "power-cut") == 0;
    plan.crash = plan.crash || plan.powerCut;
    plan.onward = action != nullptr && std::strcmp(action, "fail-onward") == 0;
    const char* sites = std::getenv("TREMCVT_FAULT_SITES");
    if (sites != nullptr && *sites != '\0') plan.sites = readSites(sites);
    if (trace != nullptr && *trace != '\0') {
#ifdef _WIN32
        plan.traceFd = ::_open(trace, _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        plan.traceFd = ::open(trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
#endif
    }
    plan.active = plan.at > 0 || plan.traceFd >= 0;
    return plan;
}

const FaultPlan& plan()
{
    static const FaultPlan thePlan = readPlan();
    return thePlan;
}

void trace(const FaultPlan& p, unsigned long long number, FaultSite site)
{
    if (p.traceFd < 0) return;
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%llu %s\n", number, faultSiteName(site));
    if (length <= 0) return;
    // One write per line with O_APPEND: the line is whole even when the
    // process is killed right after it.
#ifdef _WIN32
    const int written = ::_write(p.traceFd, line, static_cast<unsigned>(length));
#else
    const ssize_t written = ::write(p.traceFd, line, static_cast<std::size_t>(length));
#endif
    (void)written;
}

namespace fs = std::filesystem;

// One change that a power cut would take back, recorded before it was made.
struct JournalEntry {
    enum class Kind {
        Data,           // bytes from offset on, and the file's size
        Create,         // a new name
        MakeDirectory,  // a new directory
        Remove,         // a removed file, with its content
        Rename,         // from renamed to path, over a file whose content is kept
    };
    Kind kind = Kind::Data;
    unsigned long long file = 0;      // the file's identity (not for MakeDirectory)
    std::string path;
    std::string from;                 // Rename
    std::string directory;            // whose sync makes an entry change durable
    std::string fromDirectory;        // Rename: the other directory, synced too
    bool directorySynced = false;
    bool fromDirectorySynced = false;
    std::int64_t offset = 0;
    std::string bytes;                // Data: the former bytes; Remove, Rename: a whole file
    std::int64_t size = 0;            // Data: the former size
    unsigned long long replaced = 0;  // Rename: identity of the file it replaced, 0 for none
    bool live = true;                 // not yet made durable by a sync
};

// The journal: records in the order of the calls, and which file each name
// stands for now (a renamed file keeps its identity under its new name, so
// that its sync also covers what it was given under the old one).
struct Journal {
    std::mutex lock;
    std::vector<JournalEntry> entries;
    std::map<std::string, unsigned long long> identities;
    unsigned long long nextIdentity = 1;

    unsigned long long identity(const std::string& key)
    {
        const auto found = identities.find(key);
        if (found != identities.end()) return found->second;
        return identities[key] = nextIdentity++;
    }
};

Journal& journal()
{
    static Journal theJournal;
    return theJournal;
}

// One spelling per file: absolute and without "." or ".." steps.
std::string journalKey(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(fs::path(path), error);
    fs::path key = (error ? fs::path(path) : absolute).lexically_normal();
    // A directory named with a separator at its end is the same directory.
    if (!key.has_filename() && key.has_parent_path()) key = key.parent_path();
    return key.string();
}

std::string parentKey(const std::string& key) { return fs::path(key).parent_path().string(); }

bool fileExists(const std::string& key)
{
    std::error_code error;
    return fs::is_regular_file(key, error);
}

std::int64_t fileSize(const std::string& key)
{
    std::error_code error;
    const std::uintmax_t size = fs::file_size(key, error);
    return error ? 0 : static_cast<std::int64_t>(size);
}

// length bytes of the file from offset, fewer where it ends.
std::string readRange(const std::string& key, std::int64_t offset, std::int64_t length)
{
    std::string bytes;
    if (length <= 0) return bytes;
    std::ifstream in(key, std::ios::binary);
    if (!in) return bytes;
    in.seekg(offset);
    bytes.resize(static_cast<std::size_t>(length));
    in.read(bytes.data(), length);
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

std::string readWhole(const std::string& key) { return readRange(key, 0, fileSize(key)); }

void writeWhole(const std::string& key, const std::string& bytes)
{
    std::ofstream out(key, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void restoreRange(const std::string& key, std::int64_t offset, const std::string& bytes, std::int64_t size)
{
    if (!fileExists(key)) return;
    {
        std::fstream io(key, std::ios::binary | std::ios::in | std::ios::out);
        if (!io) return;
        io.seekp(offset);
        io.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::error_code error;
    fs::resize_file(key, static_cast<std::uintmax_t>(size), error);
}

void recordData(Journal& j, const std::string& key, std::int64_t offset, std::int64_t length)
{
    JournalEntry entry;
    entry.kind = JournalEntry::Kind::Data;
    entry.file = j.identity(key);
    entry.path = key;
    entry.size = fileSize(key);
    entry.offset = offset;
    entry.bytes = readRange(key, offset, std::min(length, entry.size - offset));
    j.entries.push_back(std::move(entry));
}

// Takes back every change that no sync made durable, the latest first:
// the disk as the power cut leaves it.
void undoUnsyncedChanges()
{
    Journal& j = journal();
    std::lock_guard<std::mutex> guard(j.lock);
    std::map<unsigned long long, std::string> where;
    for (const auto& [key, file] : j.identities) where[file] = key;
    std::error_code error;
    for (auto entry = j.entries.rbegin(); entry != j.entries.rend(); ++entry) {
        if (!entry->live) continue;
        switch (entry->kind) {
        case JournalEntry::Kind::Data: {
            const auto at = where.find(entry->file);
            if (at != where.end()) restoreRange(at->second, entry->offset, entry->bytes, entry->size);
            break;
        }
        case JournalEntry::Kind::Create:
            fs::remove(entry->path, error);
            where.erase(entry->file);
            break;
        case JournalEntry::Kind::MakeDirectory: fs::remove_all(entry->path, error); break;
        case JournalEntry::Kind::Remove:
            writeWhole(entry->path, entry->bytes);
            where[entry->file] = entry->path;
            break;
        case JournalEntry::Kind::Rename:
            fs::rename(entry->path, entry->from, error);
            where[entry->file] = entry->from;
            if (entry->replaced != 0) {
                writeWhole(entry->path, entry->bytes);
                where[entry->replaced] = entry->path;
            }
            break;
        }
    }
}

}  // namespace

const char* faultSiteName(FaultSite site)
{
    switch (site) {
    case FaultSite::Open: return "open";
    case FaultSite::Stat: return "stat";
    case FaultSite::Read: return "read";
    case FaultSite::Write: return "write";
    case FaultSite::Truncate: return "truncate";
    case FaultSite::Close: return "close";
    case FaultSite::MakeDirectory: return "mkdir";
    case FaultSite::Remove: return "remove";
    case FaultSite::Rename: return "rename";
    case FaultSite::Sync: return "sync";
    case FaultSite::Execute: return "execute";
    case FaultSite::Fetch: return "fetch";
    }
    return "unknown";
}

FaultAction faultPoint(FaultSite site)
{
    const FaultPlan& p = plan();
    if (!p.active || (p.sites & siteBit(site)) == 0) return FaultAction::Proceed;
    const unsigned long long number = ++reachedPoints;
    trace(p, number, site);
    if (p.at == 0 || number < p.at || (number > p.at && !p.onward)) return FaultAction::Proceed;
    if (!p.crash) {
        errno = EIO;
        return FaultAction::Fail;
    }
    if (p.powerCut) {
        undoUnsyncedChanges();
        crashAtFaultPoint();
    }
    if (site == FaultSite::Write) return FaultAction::TearWrite;
    crashAtFaultPoint();
}

void crashAtFaultPoint()
{
#ifdef _WIN32
    ::TerminateProcess(::GetCurrentProcess(), 137);
#else
    ::raise(SIGKILL);
#endif
    std::_Exit(137);
}

bool powerCutPlanned() { return plan().powerCut; }

void journalFileWrite(const std::string& path, std::int64_t offset, std::uint64_t length)
{
    if (!powerCutPlanned()) return;
    Journal& j = journal();
    std::lock_guard<std::mutex> guard(j.lock);
    recordData(j, journalKey(path), offset, static_cast<std::int64_t>(length));
}

void journalFileTruncate(const std::string& path, std::int64_t length)
{
    if (!powerCutPlanned()) return;
    Journal& j = journal();
    std::lock_guard<std::mutex> guard(j.lock);
    const std::string key = journalKey(path);
    const std::int64_t size = fileSize(key);
    recordData(j, key, std::min(length, size), size - std::min(length, size));
}

void journalFileCreate(const std::string& path)
{
    if (!powerCutPlanned()) return;
    Journal& j = journal();
    std::lock_guard<std::mutex> guard(j.lock);
    const std::string key = journalKey(path);
    if (fileExists(key)) {
        recordData(j, key, 0, fileSize(key));
        return;
    }
    JournalEntry entry;
    entry.kind = JournalEntry::Kind::Create;
    j.identities.erase(key);
    entry.file = j.identity(key);
    entry.path = key;
    entry.directory = parentKey(key);
    j.entries.push_back(std::move(entry));
}

void journalMakeDirectory(const std::string& path)
{
    if (!powerCutPlanned()) return;
    Journal& j = journal();
    std::lock_guard<std::mutex> guard(j.lock);
    const std::string key = journalKey(path);
    std::error_code error;
    if (fs::exists(key, error)) return;
    JournalEntry entry;
    entry.kind = JournalEntry::Kind::MakeDirectory;
    entry.path = key;
    entry.directory = parentKey(key);
    j.entries.push_back(std::move(entry));
}

void journalRemove(const std::string& path)
{
    if (!powerCutPlanned()) return;
    Journal& j = journal();
    std::lock_guard<std::mutex> guard(j.lock);
    const std::string key = journalKey(path);
    if (!fileExists(key)) return;
    JournalEntry entry;
    entry.kind = JournalEntry::Kind::Remove;
    entry.file = j.identity(key);
    entry.path = key;
    entry.directory = parentKey(key);
    entry.bytes = readWhole(key);
    j.identities.erase(key);
    j.entries.push_back(std::move(entry));
}

void journalRename(const std::string& from, const std::string& to)
{
    if (!powerCutPlanned()) return;
    Journal& j = journal();
    std::lock_guard<std::mutex> guard(j.lock);
    const std::string fromKey = journalKey(from);
    const std::string key = journalKey(to);
    if (!fileExists(fromKey)) return;
    JournalEntry entry;
    entry.kind = JournalEntry::Kind::Rename;
    entry.file = j.identity(fromKey);
    entry.path = key;
    entry.from = fromKey;
    entry.directory = parentKey(key);
    entry.fromDirectory = parentKey(fromKey);
    if (fileExists(key)) {
        entry.replaced = j.identity(key);
        entry.bytes = readWhole(key);
    }
    j.identities.erase(fromKey);
    j.identities[key] = entry.file;
    j.entries.push_back(std::move(entry));
}

void journalFileSynced(const std::string& path)
{
    if (!powerCutPlanned()) return;
    Journal& j = journal();
    std::lock_guard<std::mutex> guard(j.lock);
    const unsigned long long file = j.identity(journalKey(path));
    for (JournalEntry& entry : j.entries)
        if (entry.kind == JournalEntry::Kind::Data && entry.file == file) entry.live = false;
}

void journalDirectorySynced(const std::string& path)
{
    if (!powerCutPlanned()) return;
    Journal& j = journal();
    std::lock_guard<std::mutex> guard(j.lock);
    const std::string key = journalKey(path);
    for (JournalEntry& entry : j.entries) {
        if (entry.kind == JournalEntry::Kind::Data) continue;
        if (entry.directory == key) entry.directorySynced = true;
        if (entry.fromDirectory == key) entry.fromDirectorySynced = true;
        entry.live = !entry.directorySynced ||
                     (entry.kind == JournalEntry::Kind::Rename && entry.fromDirectory != entry.directory &&
                      !entry.fromDirectorySynced);
    }
}

}  // namespace tremcvt
