// A thin RAII layer over the ODBC 3 driver manager: environment, connection
// and statement handles, each released exactly once on every path, and the
// driver's diagnostics gathered as "STATE: message" lines right after the
// call that failed (a later call would replace them).
//
// A Statement refers to its Connection and must not outlive it; the archive
// operations keep statements as locals of one operation.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tremcvt::odbc {

// SQL_SUCCESS or SQL_SUCCESS_WITH_INFO.
inline bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Every diagnostic record of the handle, one "STATE: message" per line.
std::string collectDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

class Environment {
public:
    Environment() = default;
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    // SQLAllocHandle(SQL_HANDLE_ENV); any handle held before is released.
    SQLRETURN allocate();
    // SQLSetEnvAttr(SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3).
    SQLRETURN requestOdbc3();
    void release();

    bool valid() const { return handle_ != SQL_NULL_HENV; }
    SQLHENV handle() const { return handle_; }
    const std::string& diagnostics() const { return diagnostics_; }

private:
    SQLHENV handle_ = SQL_NULL_HENV;
    std::string diagnostics_;
};

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // SQLAllocHandle(SQL_HANDLE_DBC) on the environment.
    SQLRETURN allocate(const Environment& environment);
    // SQLConnect with zero-terminated texts.
    SQLRETURN connect(const char* dataSource, const char* userName, const char* password);
    // SQLDisconnect when connected, then SQLFreeHandle; safe to repeat.
    void release();

    bool valid() const { return handle_ != SQL_NULL_HDBC; }
    bool connected() const { return connected_; }
    SQLHDBC handle() const { return handle_; }
    const std::string& diagnostics() const { return diagnostics_; }

private:
    SQLHDBC handle_ = SQL_NULL_HDBC;
    bool connected_ = false;
    std::string diagnostics_;
};

// A bound result column: the value and its length/indicator. NULL is told by
// the indicator, never by the value (drivers differ in what they leave there).
struct IntegerColumn {
    SQLINTEGER value = 0;
    SQLLEN indicator = 0;
    bool isNull() const { return indicator == SQL_NULL_DATA; }
};

struct DoubleColumn {
    SQLDOUBLE value = 0.0;
    SQLLEN indicator = 0;
    bool isNull() const { return indicator == SQL_NULL_DATA; }
};

template <std::size_t Capacity>
struct TextColumn {
    char value[Capacity] = {};
    SQLLEN indicator = 0;
    bool isNull() const { return indicator == SQL_NULL_DATA; }
    std::string_view view() const { return isNull() ? std::string_view() : std::string_view(value); }
};

class Statement {
public:
    // Allocates the statement handle at once; check allocated().
    explicit Statement(Connection& connection);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool allocated() const { return handle_ != SQL_NULL_HSTMT; }
    // The result of SQLAllocHandle (SQL_ERROR without a connection handle).
    SQLRETURN allocationResult() const { return allocationResult_; }
    SQLHSTMT handle() const { return handle_; }

    // SQLExecDirect with SQL_NTS. SQL_NO_DATA (an UPDATE or DELETE that
    // matched no row) is passed on as it is.
    SQLRETURN execute(const char* text);
    // SQLTables for every table of the given type list (e.g. "'TABLE'").
    SQLRETURN tables(const char* tableType);
    // SQLColumns of a table, for every column or for one named column.
    SQLRETURN columns(const char* tableName, const char* columnName = nullptr);

    void bind(SQLUSMALLINT column, IntegerColumn& target);
    void bind(SQLUSMALLINT column, DoubleColumn& target);
    template <std::size_t Capacity>
    void bind(SQLUSMALLINT column, TextColumn<Capacity>& target)
    {
        bindBuffer(column, SQL_C_CHAR, target.value, Capacity, &target.indicator);
    }

    // Zeroes every bound buffer and indicator, then SQLFetch. Rows of an
    // executed statement pass a fault point; the catalogue functions' rows
    // (the schema as the driver lists it) do not.
    SQLRETURN fetch();
    // SQLFreeStmt(SQL_CLOSE): closes an open cursor and is harmless without
    // one, so a handle can be reused for the next statement on any driver.
    void closeCursor();
    // Unbinds every column (SQLFreeStmt(SQL_UNBIND)).
    void unbind();

    const std::string& diagnostics() const { return diagnostics_; }

private:
    struct Binding {
        void* buffer;
        std::size_t size;
        SQLLEN* indicator;
    };

    void bindBuffer(SQLUSMALLINT column, SQLSMALLINT type, void* buffer, std::size_t size, SQLLEN* indicator);
    SQLRETURN noteResult(SQLRETURN rc);

    SQLHSTMT handle_ = SQL_NULL_HSTMT;
    SQLRETURN allocationResult_ = SQL_ERROR;
    std::vector<Binding> bindings_;
    std::string diagnostics_;
    bool executed_ = false;  // the open result comes from execute()
};

}  // namespace tremcvt::odbc
