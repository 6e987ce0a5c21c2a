#include "converter/archive/schema_names.h"

#include <cstring>

#include "converter/archive/odbc.h"

namespace tremcvt {
namespace {

struct BuiltInTable {
    const char* name;
    std::initializer_list<const char*> columns;
};

// The archive schema in verification order; columns in field order.
const BuiltInTable kBuiltIn[SchemaNameTable::kTableCount] = {
    {"FILELIST",
     {"NINDEX", "STA", "TBEGIN", "TQTY", "SPS", "GAIN", "CPATH", "COMMENT", "DATATYPE", "CH", "CREATER", "LDDATE",
      "FOFF", "CALIB", "CALPER", "LCODE", "TEND"}},
    {"SITECHAN",
     {"NINDEX", "STA", "CHAN", "NGROUP", "CHANINDEX", "EDEPTH", "LAT", "LON", "SPS", "HANG", "VANG", "DESCR",
      "CALIBFILE", "LDDATE", "LCODE"}},
    {"SITE", {"NINDEX", "STA", "NGROUPS", "ELEV", "LAT", "LON", "DESCR", "LDDATE", "DNORTH", "DEAST", "REFSTA"}},
    {"ORIGIN",
     {"EVENTID", "LAT", "LON", "EDEPTH", "ORIGINTIME", "RMS", "DH", "DZ", "COMMENT", "LDDATE", "ORID", "MB", "MBUNC",
      "MS", "MSUNC"}},
    {"NETWORKS", {"NINDEX", "NETNAME", "NETTYPE", "NETLIST", "LDDATE"}},
    {"LASTID", {"KEYNAME", "KEYVALUE", "LDDATE"}},
    {"ID_SENS", {"ID_SENS", "SENS_UNITS", "CALIB_UNITS"}},
    {"ID_FREQ", {"ID_FREQ", "FREQ_UNITS"}},
    {"GEOGRAPHIC_REGION", {"COD2", "REGION", "NAME", "COMMENT"}},
    {"EVENTLIST", {"NINDEX", "STA", "TBEGIN", "EVENT_TIME", "LDDATE"}},
    {"EARTHQUAKE",
     {"N", "NINYEAR", "REGION", "DATE_IDC", "DS", "LAT", "LON", "DEPTH", "MS", "MPV", "I0", "COM", "FEEL", "RTIME",
      "NSTA", "NMB", "NMS", "NCSEM"}},
    {"CONTREG", {"LAT1", "LON1", "LAT2", "LON2", "NAME", "EPN"}},
    {"CALIBRATION",
     {"NETWORK", "LOCATION", "STA", "CHAN", "STARTDATE", "ENDDATE", "SENS", "ID_SENS", "FREQ", "ID_FREQ", "SAC",
      "FAP", "LDDATE"}},
    {"ARRIVAL",
     {"NINDEX", "FLAG", "EVENTID", "NUMB", "STA", "CHAN", "IPHASE", "ITIME", "DELTIM", "AZIMUTH", "SLOW", "EMA",
      "RECT", "FM", "IM_EM", "PER", "RESIDUALS", "AMPL", "LDDATE", "WGT", "ARID", "MS", "MB", "AMPTIME", "DIST",
      "CODA", "REGCLASS", "MCODA", "MPSP", "MPLP", "CHANTYPE", "REMARK", "AFILTYPE", "PFILTYPE", "MWA"}},
};

constexpr std::size_t kFilelistTable = 0;
constexpr std::size_t kNameBufferSize = 64;  // catalogue names are read into 64 bytes

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// A catalogue name copied with letters a to z turned into A to Z; nothing
// else changes.
void copyUpperCaseAscii(const char* name, char* upper, std::size_t size)
{
    std::memcpy(upper, name, size);
    upper[size - 1] = '\0';
    for (char* c = upper; *c != '\0'; ++c) *c = upperAscii(*c);
}

bool equalsIgnoringAsciiCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (upperAscii(*a) != upperAscii(*b)) return false;
    return *a == *b;
}

// Copies a catalogue name into a field. A catalogue name replaces a field
// only when it equals the field ignoring case, so it always fits; the length
// check keeps that true whatever happens.
void store(char* field, std::size_t capacity, const char* name)
{
    const std::size_t length = std::strlen(name);
    if (length >= capacity) return;
    std::memcpy(field, name, length + 1);
}

}  // namespace

SchemaNameTable::SchemaNameTable() { reset(); }

SchemaNameTable::Slots SchemaNameTable::slots(std::size_t table)
{
    Slots result;
    auto add = [&result](auto& field) {
        result.items[result.count++] = Slot{field.data(), field.kCapacity};
    };
    auto addOther = [&add](auto& other) {
        add(other.table);
        for (auto& column : other.columns) add(column);
    };
    switch (table) {
    case 0: {
        FilelistNames& f = filelist;
        for (SchemaName* field : {&f.table, &f.nindex, &f.sta, &f.tbegin, &f.tqty, &f.sps, &f.gain, &f.cpath,
                                  &f.comment, &f.datatype, &f.ch, &f.creater, &f.lddate, &f.foff, &f.calib,
                                  &f.calper, &f.lcode, &f.tend})
            add(*field);
        break;
    }
    case 1: {
        SitechanNames& s = sitechan;
        for (SchemaName* field : {&s.table, &s.nindex, &s.sta, &s.chan, &s.ngroup, &s.chanindex, &s.edepth,
                                  &s.lat, &s.lon, &s.sps, &s.hang, &s.vang, &s.descr, &s.calibfile, &s.lddate,
                                  &s.lcode})
            add(*field);
        break;
    }
    case 2: addOther(site); break;
    case 3: addOther(origin); break;
    case 4: addOther(networks); break;
    case 5: addOther(lastid); break;
    case 6: addOther(idSens); break;
    case 7: addOther(idFreq); break;
    case 8: addOther(geographicRegion); break;
    case 9: addOther(eventlist); break;
    case 10: addOther(earthquake); break;
    case 11: addOther(contreg); break;
    case 12: addOther(calibration); break;
    case 13: addOther(arrival); break;
    default: break;
    }
    return result;
}

void SchemaNameTable::reset()
{
    for (std::size_t table = 0; table < kTableCount; ++table) {
        const Slots fields = slots(table);
        store(fields.items[0].text, fields.items[0].capacity, kBuiltIn[table].name);
        std::size_t index = 1;
        for (const char* column : kBuiltIn[table].columns) {
            if (index >= fields.count) break;
            store(fields.items[index].text, fields.items[index].capacity, column);
            ++index;
        }
    }
}

std::string_view SchemaNameTable::tableName(std::size_t table) const
{
    if (table >= kTableCount) return {};
    return slots(table).items[0].text;
}

std::size_t SchemaNameTable::columnCount(std::size_t table) const
{
    return table < kTableCount ? kBuiltIn[table].columns.size() : 0;
}

std::string_view SchemaNameTable::columnName(std::size_t table, std::size_t column) const
{
    if (column >= columnCount(table)) return {};
    return slots(table).items[column + 1].text;
}

std::string_view SchemaNameTable::builtInTableName(std::size_t table)
{
    return table < kTableCount ? kBuiltIn[table].name : std::string_view();
}

std::string_view SchemaNameTable::builtInColumnName(std::size_t table, std::size_t column)
{
    if (table >= kTableCount || column >= kBuiltIn[table].columns.size()) return {};
    return kBuiltIn[table].columns.begin()[column];
}

void SchemaNameTable::verifySchema(odbc::Connection& connection)
{
    reset();
    {
        odbc::Statement statement = connection.statement();
        if (statement.allocationResult() == SQL_ERROR || !statement.allocated()) return;
        if (statement.tables("'TABLE'") == SQL_ERROR) return;
        odbc::TextColumn<kNameBufferSize> name;
        statement.bind(3, name);
        for (;;) {
            const SQLRETURN rc = statement.fetch();
            if (!odbc::succeeded(rc)) break;
            if (name.isNull()) continue;
            char upper[kNameBufferSize];
            copyUpperCaseAscii(name.value, upper, sizeof upper);
            // The first table whose current name equals takes the name as
            // the catalogue writes it; a field that already holds lower-case
            // letters no longer equals, so the first such hit stands.
            for (std::size_t table = 0; table < kTableCount; ++table) {
                const Slot field = slots(table).items[0];
                if (std::strcmp(upper, field.text) == 0) {
                    store(field.text, field.capacity, name.value);
                    break;
                }
            }
        }
        statement.closeCursor();
    }
    for (std::size_t table = 0; table < kTableCount; ++table) resolveColumns(connection, table);
}

void SchemaNameTable::resolveColumns(odbc::Connection& connection, std::size_t table)
{
    if (table >= kTableCount) return;
    odbc::Statement statement = connection.statement();
    if (statement.allocationResult() == SQL_ERROR || !statement.allocated()) return;
    const Slots fields = slots(table);
    if (statement.columns(fields.items[0].text) == SQL_ERROR) return;
    odbc::TextColumn<kNameBufferSize> name;
    statement.bind(4, name);
    const char* const tendField = filelist.tend.data();
    for (;;) {
        const SQLRETURN rc = statement.fetch();
        if (!odbc::succeeded(rc)) break;
        if (name.isNull()) continue;
        char upper[kNameBufferSize];
        copyUpperCaseAscii(name.value, upper, sizeof upper);
        for (std::size_t index = 1; index < fields.count; ++index) {
            const Slot field = fields.items[index];
            // TEND is compared ignoring case on both sides, so every matching
            // catalogue row replaces it and the last one stands.
            const bool equal = (table == kFilelistTable && field.text == tendField)
                                   ? equalsIgnoringAsciiCase(name.value, field.text)
                                   : std::strcmp(upper, field.text) == 0;
            if (equal) {
                store(field.text, field.capacity, name.value);
                break;
            }
        }
    }
    statement.closeCursor();
}

}  // namespace tremcvt
