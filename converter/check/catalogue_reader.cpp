#include "converter/check/catalogue_reader.h"

#include "converter/archive/archive_database.h"

namespace tremcvt::check {

CatalogueReadResult readCatalogue(const ConverterSettings& settings)
{
    CatalogueReadResult result;
    ArchiveDatabase db(archiveSettings(settings));
    if (!db.connect()) {
        result.status = CatalogueReadStatus::kNoConnection;
        result.reason = db.lastDiagnostics();
        return result;
    }
    const FilelistNames& n = db.schemaNames().filelist;
    // TEND only where the catalogue keeps it; the header then shows its
    // duration (TEND - TBEGIN).
    StatementText text;
    text.format("select %s,%s,%s,%s,%s,%s,%s,%s,%s,%s from %s", n.sta.c_str(), n.ch.c_str(), n.lcode.c_str(),
                n.creater.c_str(), n.cpath.c_str(), n.tbegin.c_str(), n.tqty.c_str(), n.sps.c_str(),
                n.foff.c_str(), db.useTend() ? n.tend.c_str() : n.tqty.c_str(), n.table.c_str());
    odbc::TextColumn<32> station;
    odbc::TextColumn<32> channel;
    odbc::TextColumn<16> location;
    odbc::TextColumn<64> creator;
    odbc::TextColumn<StatementText::kCapacity> path;
    odbc::DoubleColumn begin;
    odbc::DoubleColumn length;
    odbc::DoubleColumn rate;
    odbc::IntegerColumn offset;
    odbc::DoubleColumn end;
    const auto bind = [&](odbc::Statement& statement) {
        statement.bind(1, station);
        statement.bind(2, channel);
        statement.bind(3, location);
        statement.bind(4, creator);
        statement.bind(5, path);
        statement.bind(6, begin);
        statement.bind(7, length);
        statement.bind(8, rate);
        statement.bind(9, offset);
        statement.bind(10, end);
    };
    const auto readRow = [&] {
        CatalogueRow row;
        row.station.assign(station.view());
        row.channel.assign(channel.view());
        row.locationCode.assign(location.view());
        row.creator.assign(creator.view());
        row.path.assign(path.view());
        row.begin = begin.isNull() ? 0.0 : begin.value;
        row.length = length.isNull() ? 0.0 : length.value;
        row.rate = rate.isNull() ? 0.0 : rate.value;
        row.dataOffset = offset.isNull() ? 0 : offset.value;
        if (db.useTend() && !end.isNull()) row.end = end.value;
        result.rows.push_back(std::move(row));
        return true;
    };
    if (db.query(text, bind, readRow) != QueryEnd::kAllRowsRead) {
        result.status = CatalogueReadStatus::kQueryFailed;
        result.reason = db.lastDiagnostics();
        result.rows.clear();
    }
    return result;
}

}  // namespace tremcvt::check
