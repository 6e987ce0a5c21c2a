#include "converter/archive/station_end.h"

#include "converter/archive/statement_text.h"

namespace tremcvt {

CataloguedEnd latestCataloguedEnd(ArchiveDatabase& db, std::string_view station)
{
    const FilelistNames& names = db.schemaNames().filelist;
    StatementText text;
    text.format("select max(%s+%s) from %s where %s='%s'", names.tbegin.c_str(), names.tqty.c_str(),
                names.table.c_str(), names.sta.c_str(), sqlText(station).c_str());
    odbc::DoubleColumn end;
    const QueryEnd ended = db.query(
        text, [&](odbc::Statement& statement) { statement.bind(1, end); }, [] { return false; });
    if (ended != QueryEnd::kStopped) return CataloguedEnd{kResultQueryFailed, std::nullopt};
    if (end.isNull()) return CataloguedEnd{};
    return CataloguedEnd{kResultOk, end.value};
}

}  // namespace tremcvt
