// The names of the fourteen tables of the archive schema and of their
// columns. Every statement prints its table and column names from here.
// The table starts with the built-in upper-case names; verifySchema brings
// each one to the letter case in which the data source's catalogue lists it
// ("filelist", "Tbegin", ...), so statements work on data sources whose
// names are case-sensitive.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "common/fixed_text.h"

namespace tremcvt {

namespace odbc {
class Connection;
}

// One name field: at most 15 characters.
using SchemaName = FixedText<16>;

// A table that no statement of the converter uses: resolved all the same.
template <std::size_t TableCapacity, std::size_t ColumnCount>
struct OtherTableNames {
    FixedText<TableCapacity> table;
    std::array<SchemaName, ColumnCount> columns;
};

struct FilelistNames {
    SchemaName table;
    SchemaName nindex, sta, tbegin, tqty, sps, gain, cpath, comment, datatype, ch, creater, lddate, foff, calib,
        calper, lcode, tend;
};

struct SitechanNames {
    SchemaName table;
    SchemaName nindex, sta, chan, ngroup, chanindex, edepth, lat, lon, sps, hang, vang, descr, calibfile, lddate,
        lcode;
};

class SchemaNameTable {
public:
    static constexpr std::size_t kTableCount = 14;

    SchemaNameTable();

    // Every name back to its built-in upper-case form.
    void reset();

    // Resets the names, then resolves the table names from SQLTables (type
    // 'TABLE') and the column names of each table from SQLColumns. Failures
    // leave the affected names in their built-in form; nothing is reported.
    void verifySchema(odbc::Connection& connection);
    // Resolves the column names of table number `table` (0 to 13, in the
    // order of the schema: FILELIST, SITECHAN, SITE, ...).
    void resolveColumns(odbc::Connection& connection, std::size_t table);

    // Generic read access in schema order (used by tests and diagnostics).
    std::string_view tableName(std::size_t table) const;
    std::size_t columnCount(std::size_t table) const;
    std::string_view columnName(std::size_t table, std::size_t column) const;
    static std::string_view builtInTableName(std::size_t table);
    static std::string_view builtInColumnName(std::size_t table, std::size_t column);

    // The two tables that the converter's statements use.
    FilelistNames filelist;
    SitechanNames sitechan;

    OtherTableNames<16, 11> site;
    OtherTableNames<16, 15> origin;
    OtherTableNames<16, 5> networks;
    OtherTableNames<16, 3> lastid;
    OtherTableNames<16, 3> idSens;
    OtherTableNames<16, 2> idFreq;
    OtherTableNames<32, 4> geographicRegion;
    OtherTableNames<16, 5> eventlist;
    OtherTableNames<16, 18> earthquake;
    OtherTableNames<16, 6> contreg;
    OtherTableNames<16, 13> calibration;
    OtherTableNames<16, 35> arrival;

private:
    // A writable view of one name field.
    struct Slot {
        char* text;
        std::size_t capacity;
    };
    static constexpr std::size_t kMaxSlots = 36;
    struct Slots {
        std::array<Slot, kMaxSlots> items{};
        std::size_t count = 0;  // the table name, then its columns
    };

    Slots slots(std::size_t table);
    Slots slots(std::size_t table) const { return const_cast<SchemaNameTable*>(this)->slots(table); }
};

}  // namespace tremcvt
