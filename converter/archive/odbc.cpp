#include "converter/archive/odbc.h"

#include <cstring>
#include <utility>

#include "common/fault_injection.h"

namespace tremcvt::odbc {

std::string collectDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    std::string text;
    if (handle == SQL_NULL_HANDLE) return text;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[6] = {};
        SQLINTEGER nativeError = 0;
        SQLCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &nativeError, message,
                                           static_cast<SQLSMALLINT>(sizeof message), &length);
        if (!succeeded(rc)) break;
        if (!text.empty()) text += '\n';
        text += reinterpret_cast<const char*>(state);
        text += ": ";
        text += reinterpret_cast<const char*>(message);
    }
    return text;
}

namespace detail {

struct Link {
    SQLHENV environment = SQL_NULL_HENV;
    SQLHDBC connection = SQL_NULL_HDBC;
    bool connected = false;

    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ~Link()
    {
        if (connection != SQL_NULL_HDBC) {
            if (connected) SQLDisconnect(connection);
            SQLFreeHandle(SQL_HANDLE_DBC, connection);
        }
        if (environment != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, environment);
    }
};

}  // namespace detail

// Connection

Connection::~Connection() { close(); }

bool Connection::open(const char* dataSource, const char* userName, const char* password)
{
    close();
    // Released by its destructor on every failed step below.
    auto link = std::make_shared<detail::Link>();
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &link->environment);
    if (!succeeded(rc)) {
        // The driver manager may hand back a handle; it goes with the link.
        diagnostics_ = "environment handle could not be allocated";
        return false;
    }
    rc = SQLSetEnvAttr(link->environment, SQL_ATTR_ODBC_VERSION,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), SQL_IS_INTEGER);
    if (!succeeded(rc)) {
        diagnostics_ = collectDiagnostics(SQL_HANDLE_ENV, link->environment);
        return false;
    }
    rc = SQLAllocHandle(SQL_HANDLE_DBC, link->environment, &link->connection);
    if (!succeeded(rc)) {
        diagnostics_ = collectDiagnostics(SQL_HANDLE_ENV, link->environment);
        return false;
    }
    // The ODBC prototypes take writable pointers but do not write through them.
    rc = SQLConnect(link->connection, reinterpret_cast<SQLCHAR*>(const_cast<char*>(dataSource)), SQL_NTS,
                    reinterpret_cast<SQLCHAR*>(const_cast<char*>(userName)), SQL_NTS,
                    reinterpret_cast<SQLCHAR*>(const_cast<char*>(password)), SQL_NTS);
    if (!succeeded(rc)) {
        diagnostics_ = collectDiagnostics(SQL_HANDLE_DBC, link->connection);
        return false;
    }
    link->connected = true;
    diagnostics_.clear();
    link_ = std::move(link);
    return true;
}

void Connection::close() { link_.reset(); }

bool Connection::connected() const { return link_ != nullptr && link_->connected; }

Statement Connection::statement() { return Statement(link_); }

std::string Connection::productName() const
{
    if (!connected()) return std::string();
    SQLCHAR name[64] = {};
    SQLSMALLINT length = 0;
    if (!succeeded(SQLGetInfo(link_->connection, SQL_DBMS_NAME, name, static_cast<SQLSMALLINT>(sizeof name),
                              &length)))
        return std::string();
    return std::string(reinterpret_cast<const char*>(name));
}

bool Connection::waitForLockedDatabase(int milliseconds)
{
    if (productName() != "SQLite") return false;
    // Sent directly, not through Statement::execute: a connection setting,
    // not a catalogue statement, so it passes no fault point.
    SQLHSTMT handle = SQL_NULL_HSTMT;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, link_->connection, &handle))) {
        diagnostics_ = collectDiagnostics(SQL_HANDLE_DBC, link_->connection);
        return false;
    }
    const std::string text = "PRAGMA busy_timeout=" + std::to_string(milliseconds);
    const SQLRETURN rc = SQLExecDirect(handle, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
    if (!succeeded(rc)) diagnostics_ = collectDiagnostics(SQL_HANDLE_STMT, handle);
    SQLFreeStmt(handle, SQL_CLOSE);
    SQLFreeHandle(SQL_HANDLE_STMT, handle);
    return succeeded(rc);
}

// Statement

Statement::Statement(std::shared_ptr<detail::Link> link) : link_(std::move(link))
{
    if (link_ == nullptr || link_->connection == SQL_NULL_HDBC) {
        diagnostics_ = "no connection";
        return;
    }
    allocationResult_ = SQLAllocHandle(SQL_HANDLE_STMT, link_->connection, &handle_);
    if (!succeeded(allocationResult_)) {
        diagnostics_ = collectDiagnostics(SQL_HANDLE_DBC, link_->connection);
        if (diagnostics_.empty()) diagnostics_ = "statement handle could not be allocated";
        if (handle_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
        handle_ = SQL_NULL_HSTMT;
    }
}

Statement::Statement(Statement&& other) noexcept
    : link_(std::move(other.link_)),
      handle_(std::exchange(other.handle_, SQLHSTMT{SQL_NULL_HSTMT})),
      allocationResult_(other.allocationResult_),
      bindings_(std::move(other.bindings_)),
      diagnostics_(std::move(other.diagnostics_)),
      executed_(other.executed_)
{
}

Statement::~Statement()
{
    if (handle_ == SQL_NULL_HSTMT) return;
    SQLFreeStmt(handle_, SQL_CLOSE);
    SQLFreeHandle(SQL_HANDLE_STMT, handle_);
    handle_ = SQL_NULL_HSTMT;
}

SQLRETURN Statement::noteResult(SQLRETURN rc)
{
    if (!succeeded(rc) && rc != SQL_NO_DATA) {
        diagnostics_ = collectDiagnostics(SQL_HANDLE_STMT, handle_);
        if (diagnostics_.empty()) diagnostics_ = "statement failed without diagnostics";
    }
    return rc;
}

SQLRETURN Statement::execute(const char* text)
{
    if (!allocated()) return SQL_ERROR;
    executed_ = true;
    if (faultPoint(FaultSite::Execute) == FaultAction::Fail) {
        diagnostics_ = "HY000: fault injected before the statement was sent";
        return SQL_ERROR;
    }
    return noteResult(SQLExecDirect(handle_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)), SQL_NTS));
}

SQLRETURN Statement::tables(const char* tableType)
{
    if (!allocated()) return SQL_ERROR;
    executed_ = false;
    return noteResult(SQLTables(handle_, nullptr, 0, nullptr, 0, nullptr, 0,
                                reinterpret_cast<SQLCHAR*>(const_cast<char*>(tableType)), SQL_NTS));
}

SQLRETURN Statement::columns(const char* tableName, const char* columnName)
{
    if (!allocated()) return SQL_ERROR;
    executed_ = false;
    return noteResult(SQLColumns(handle_, nullptr, 0, nullptr, 0,
                                 reinterpret_cast<SQLCHAR*>(const_cast<char*>(tableName)), SQL_NTS,
                                 reinterpret_cast<SQLCHAR*>(const_cast<char*>(columnName)),
                                 columnName != nullptr ? SQL_NTS : 0));
}

void Statement::bind(SQLUSMALLINT column, IntegerColumn& target)
{
    bindBuffer(column, SQL_C_SLONG, &target.value, sizeof target.value, &target.indicator);
}

void Statement::bind(SQLUSMALLINT column, DoubleColumn& target)
{
    bindBuffer(column, SQL_C_DOUBLE, &target.value, sizeof target.value, &target.indicator);
}

void Statement::bindBuffer(SQLUSMALLINT column, SQLSMALLINT type, void* buffer, std::size_t size,
                           SQLLEN* indicator)
{
    if (!allocated()) return;
    std::memset(buffer, 0, size);
    *indicator = 0;
    noteResult(SQLBindCol(handle_, column, type, buffer, static_cast<SQLLEN>(size), indicator));
    bindings_.push_back(Binding{buffer, size, indicator});
}

SQLRETURN Statement::fetch()
{
    if (!allocated()) return SQL_ERROR;
    for (const Binding& binding : bindings_) {
        std::memset(binding.buffer, 0, binding.size);
        *binding.indicator = 0;
    }
    if (executed_ && faultPoint(FaultSite::Fetch) == FaultAction::Fail) {
        diagnostics_ = "HY000: fault injected before the row was fetched";
        return SQL_ERROR;
    }
    return noteResult(SQLFetch(handle_));
}

void Statement::closeCursor()
{
    if (allocated()) SQLFreeStmt(handle_, SQL_CLOSE);
}

void Statement::unbind()
{
    if (!allocated()) return;
    SQLFreeStmt(handle_, SQL_UNBIND);
    bindings_.clear();
}

}  // namespace tremcvt::odbc
