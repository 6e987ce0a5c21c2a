// Reading SDS day files back with libmseed's own reader, as any miniSEED
// tool would: the continuous segments of samples, and the records with the
// header fields the writer is to set.
#pragma once

#include <libmseed.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mseed_test {

struct Segment {
    std::int64_t start = 0;  // microseconds since 1970
    double rate = 0.0;
    std::vector<std::int32_t> samples;
};

struct RecordHeader {
    int sequenceNumber = 0;
    int length = 0;
    char quality = 0;
    int encoding = 0;
    int byteOrder = -1;
    std::int64_t start = 0;
    std::int64_t sampleCount = 0;
    std::string network, station, location, channel;
};

struct ReadBack {
    bool ok = false;       // the file was read without an error
    std::string problem;   // what went wrong when not
    std::vector<Segment> segments;
    std::vector<RecordHeader> records;
};

inline ReadBack readDayFile(const std::string& path)
{
    ReadBack result;
    // Segments: records joined where they continue one another within half a
    // sample interval (libmseed's default tolerance), integer samples decoded.
    MSTraceList* list = nullptr;
    int status = ms_readtracelist(&list, path.c_str(), 0, -1.0, -1.0, 1, 1, 1, 0);
    struct ListOwner {
        MSTraceList*& list;
        ~ListOwner() { mstl_free(&list, 0); }
    } listOwner{list};
    if (status != MS_NOERROR || list == nullptr) {
        result.problem = "ms_readtracelist: " + std::string(ms_errorstr(status));
        return result;
    }
    for (MSTraceID* id = list->traces; id != nullptr; id = id->next) {
        for (MSTraceSeg* seg = id->first; seg != nullptr; seg = seg->next) {
            Segment segment;
            segment.start = seg->starttime;
            segment.rate = seg->samprate;
            if (seg->sampletype != 'i') {
                result.problem = "samples are not integers";
                return result;
            }
            const auto* values = static_cast<const std::int32_t*>(seg->datasamples);
            segment.samples.assign(values, values + seg->numsamples);
            result.segments.push_back(std::move(segment));
        }
    }

    MSFileParam* file = nullptr;
    MSRecord* record = nullptr;
    while ((status = ms_readmsr_r(&file, &record, path.c_str(), 0, nullptr, nullptr, 1, 0, 0)) == MS_NOERROR) {
        RecordHeader header;
        header.sequenceNumber = record->sequence_number;
        header.length = record->reclen;
        header.quality = record->dataquality;
        header.encoding = record->encoding;
        header.byteOrder = record->byteorder;
        header.start = record->starttime;
        header.sampleCount = record->samplecnt;
        header.network = record->network;
        header.station = record->station;
        header.location = record->location;
        header.channel = record->channel;
        result.records.push_back(header);
    }
    ms_readmsr_r(&file, &record, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    if (status != MS_ENDOFFILE) {
        result.problem = "ms_readmsr_r: " + std::string(ms_errorstr(status));
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace mseed_test
