#include "converter/check/catalogue_writer.h"

#include <cmath>
#include <cstdio>

#include "converter/archive/statement_text.h"

namespace tremcvt::check {

CatalogueWriter::CatalogueWriter(const ConverterSettings& settings) : db_(archiveSettings(settings)) {}

bool CatalogueWriter::connect() { return db_.connect(); }

std::string CatalogueWriter::rowCondition(const CatalogueRow& row) const
{
    const FilelistNames& n = db_.schemaNames().filelist;
    char begin[64];
    std::snprintf(begin, sizeof begin, "%0.4f", row.begin);
    return std::string(n.sta.view()) + "='" + sqlText(row.station) + "' and " + std::string(n.ch.view()) + "='" +
           sqlText(row.channel) + "' and " + locationCondition(n.lcode.view(), row.locationCode) + " and " +
           std::string(n.tbegin.view()) + "=" + begin + " and " + std::string(n.cpath.view()) + "='" +
           sqlText(row.path) + "'";
}

ResultCode CatalogueWriter::cutBack(const CatalogueRow& row, std::int64_t samples)
{
    const FilelistNames& n = db_.schemaNames().filelist;
    const double length = cataloguedLength(samples, row.rate);
    // TEND is set whether or not inserts write it, as the store does when
    // it extends a row.
    StatementText text;
    text.format("update %s set %s=%0.2f,%s=%0.4f where %s", n.table.c_str(), n.tqty.c_str(), length, n.tend.c_str(),
                row.begin + length, rowCondition(row).c_str());
    return db_.execute(text, kResultUpdateFailed, kResultNoRowUpdated);
}

ResultCode CatalogueWriter::remove(const CatalogueRow& row)
{
    StatementText text;
    text.format("delete from %s where %s", db_.schemaNames().filelist.table.c_str(), rowCondition(row).c_str());
    return db_.execute(text, kResultDeleteFailed, kResultOk);
}

double cataloguedLength(std::int64_t samples, double rate)
{
    if (rate <= 0.0) return 0.0;
    return std::round(static_cast<double>(samples) / rate * 100.0) / 100.0;
}

std::int64_t representableSamples(std::int64_t samples, double rate)
{
    while (samples > 0 && std::llround(cataloguedLength(samples, rate) * rate) != samples) --samples;
    return samples;
}

}  // namespace tremcvt::check
