#include "common/fault_injection.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

}  // namespace tremcvt
