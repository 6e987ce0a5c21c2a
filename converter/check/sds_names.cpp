// SDS names and the checks on parsed records: built with or without libmseed.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/calendar/calendar.h"
#include "converter/check/sds_check.h"

namespace tremcvt::check {

double SdsRecord::last() const
{
    return rate > 0.0 && sampleCount > 0 ? begin + static_cast<double>(sampleCount - 1) / rate : begin;
}

double SdsRecord::end() const { return rate > 0.0 ? begin + static_cast<double>(sampleCount) / rate : begin; }

bool parseSdsDayName(std::string_view name, SdsDayName& out)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = name.find('.', start);
        parts.push_back(name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (parts.size() != 7 || parts[0].empty() || parts[1].empty() || parts[3].empty() || parts[4] != "D" ||
        parts[5].size() != 4 || parts[6].size() != 3)
        return false;
    const auto digits = [](std::string_view text, int& value) {
        value = 0;
        for (const char c : text) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        return true;
    };
    if (!digits(parts[5], out.year) || !digits(parts[6], out.dayOfYear) || out.year < 1970 || out.dayOfYear < 1 ||
        out.dayOfYear > (isLeapYear(out.year) ? 366 : 365))
        return false;
    out.network.assign(parts[0]);
    out.station.assign(parts[1]);
    out.location.assign(parts[2]);
    out.channel.assign(parts[3]);
    out.dayBegin = secondsFromCivil(out.year, 1, 1, 0, 0, 0.0f) + (out.dayOfYear - 1) * 86400.0;
    return true;
}

bool isSdsLeftover(std::string_view name)
{
    constexpr std::string_view kSuffix = ".tmp";
    if (name.size() <= 1 + kSuffix.size() || name.front() != '.' ||
        name.substr(name.size() - kSuffix.size()) != kSuffix)
        return false;
    SdsDayName day;
    return parseSdsDayName(name.substr(1, name.size() - 1 - kSuffix.size()), day);
}

std::vector<Finding> checkSdsRecords(const std::string& file, const SdsDayName& name,
                                     const std::vector<SdsRecord>& records)
{
    std::vector<Finding> findings;
    const double dayEnd = name.dayBegin + 86400.0;
    const SdsRecord* reach = nullptr;  // the record that ends latest so far
    const SdsRecord* previous = nullptr;
    for (const SdsRecord& r : records) {
        const std::string at = "record at byte " + std::to_string(r.offset);
        if (r.network != name.network || r.station != name.station || r.location != name.location ||
            r.channel != name.channel) {
            findings.push_back({"record", file,
                                at + " is " + r.network + "." + r.station + "." + r.location + "." + r.channel +
                                    ", not the file's channel"});
        }
        if (r.sampleCount > 0 && (r.begin < name.dayBegin - 0.0005 || r.begin >= dayEnd)) {
            findings.push_back({"record", file, at + " starts " + utcText(r.begin, 6) + ", outside the file's day"});
        }
        if (previous != nullptr && r.begin < previous->begin) {
            findings.push_back({"order", file,
                                at + " starts " + utcText(r.begin, 6) + ", before the record before it (" +
                                    utcText(previous->begin, 6) + ")"});
        } else if (reach != nullptr && r.sampleCount > 0 && r.rate > 0.0 && r.begin < reach->last() + 0.5 / r.rate) {
            findings.push_back({"overlap", file,
                                at + " starts " + utcText(r.begin, 6) + ", before the record at byte " +
                                    std::to_string(reach->offset) + " ends (its last sample " +
                                    utcText(reach->last(), 6) + ")"});
        }
        previous = &r;
        if (r.sampleCount > 0 && (reach == nullptr || r.last() > reach->last())) reach = &r;
    }
    return findings;
}

}  // namespace tremcvt::check
