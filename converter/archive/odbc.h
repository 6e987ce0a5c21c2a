// A thin RAII layer over the ODBC 3 driver manager: environment, connection
// and statement handles, each released exactly once on every path, and the
// driver's diagnostics gathered as "STATE: message" lines right after the
// call that failed (a later call would replace them).
//
// A Connection owns its environment and connection handles; a Statement is
// made only by its Connection and shares those handles, so it can never
// outlive them.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tremcvt::odbc {

// SQL_SUCCESS or SQL_SUCCESS_WITH_INFO.
inline bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Every diagnostic record of the handle, one "STATE: message" per line.
std::string collectDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

namespace detail {
// The environment and connection handles of one data source. Shared by the
// Connection and every Statement made on it, and released (connection
// before environment) when the last of them goes.
struct Link;
}  // namespace detail

class Statement;

// One connection to a data source. It owns its environment handle as well:
// open() allocates both and connects, close() disconnects and releases them.
class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // SQLAllocHandle(SQL_HANDLE_ENV), SQLSetEnvAttr(SQL_ATTR_ODBC_VERSION,
    // SQL_OV_ODBC3), SQLAllocHandle(SQL_HANDLE_DBC) and SQLConnect with
    // zero-terminated texts, in this order. A connection held before is
    // closed first. When a step fails, what was allocated is released
    // (connection before environment), diagnostics() tells why and the
    // answer is false.
    bool open(const char* dataSource, const char* userName, const char* password);
    // SQLDisconnect, then both handles released; safe to repeat.
    void close();

    bool connected() const;
    const std::string& diagnostics() const { return diagnostics_; }

    // The data source's product name (SQLGetInfo SQL_DBMS_NAME), such as
    // "SQLite" or "PostgreSQL"; empty when it cannot be asked.
    std::string productName() const;
    // On an SQLite data source: statements wait up to milliseconds for a
    // database that another connection has locked (PRAGMA busy_timeout)
    // instead of failing at once. False on any other product, or when the
    // setting is refused (diagnostics() tells why).
    bool waitForLockedDatabase(int milliseconds);

    // A statement handle on this connection (check allocated()). It keeps
    // the connection's handles alive while it lives, so it can never be
    // left on a released connection.
    Statement statement();

private:
    std::shared_ptr<detail::Link> link_;
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

// A statement handle, made only by Connection::statement() and kept as a
// local of one operation. Moving it hands the handle over; it cannot be
// copied.
class Statement {
public:
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&&) = delete;

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
    friend class Connection;
    // Allocates the statement handle at once on the link (none without one).
    explicit Statement(std::shared_ptr<detail::Link> link);

    struct Binding {
        void* buffer;
        std::size_t size;
        SQLLEN* indicator;
    };

    void bindBuffer(SQLUSMALLINT column, SQLSMALLINT type, void* buffer, std::size_t size, SQLLEN* indicator);
    SQLRETURN noteResult(SQLRETURN rc);

    std::shared_ptr<detail::Link> link_;  // released after handle_
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
    SQLRETURN allocationResult_ = SQL_ERROR;
    std::vector<Binding> bindings_;
    std::string diagnostics_;
    bool executed_ = false;  // the open result comes from execute()
};

}  // namespace tremcvt::odbc
