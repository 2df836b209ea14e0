// The provider on unixODBC: the one file that speaks ODBC.
//
// Results are read in blocks of rows into bound column arrays when the
// driver can position inside a block to read a long value whole
// (SQL_GD_BLOCK), otherwise one row at a time; a value longer than its
// bound buffer is read again whole with SQLGetData, so nothing is cut.
#include <sql.h>
#include <sqlext.h>

#include <dlfcn.h>
#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <mutex>

#include "Provider.h"

namespace platform::ado {

// ---- Environment ----------------------------------------------------------------

namespace {

// One ODBC environment for the process, made for the first user and freed
// with the last, so no handle outlives the connections.
struct Environment {
    std::mutex lock;
    SQLHENV handle = SQL_NULL_HENV;
    int users = 0;
};

Environment &Env() {
    static auto *environment = new Environment;
    return *environment;
}

// Drivers that read a data source's settings themselves (the SQLite driver)
// load the installer library for each read and unload it after, dropping its
// settings cache each time and leaving that cache's memory behind. Loading
// it once for the process keeps it, and its cache, alive.
void KeepInstallerLoaded() {
    static void *installer = dlopen("libodbcinst.so.2", RTLD_LAZY | RTLD_NODELETE);
    (void)installer;
}

SQLHENV AcquireEnvironment() {
    Environment &env = Env();
    std::lock_guard<std::mutex> guard(env.lock);
    if (!env.handle) {
        KeepInstallerLoaded();
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env.handle)))
            return SQL_NULL_HENV;
        SQLSetEnvAttr(env.handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                      0);
    }
    ++env.users;
    return env.handle;
}

void ReleaseEnvironment() {
    Environment &env = Env();
    std::lock_guard<std::mutex> guard(env.lock);
    if (--env.users == 0) {
        SQLFreeHandle(SQL_HANDLE_ENV, env.handle);
        env.handle = SQL_NULL_HENV;
    }
}

// The driver manager converts text between the wide calls and drivers that
// have only narrow ones (the SQLite driver) in the character set of the
// locale in force when the connection is made. The process keeps the "C"
// locale, whose ASCII would cut every other character; the connection is
// made under a UTF-8 locale of this thread, so such drivers get UTF-8.
class Utf8Locale {
public:
    Utf8Locale() {
        static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        m_previous = utf8 ? uselocale(utf8) : static_cast<locale_t>(0);
    }
    ~Utf8Locale() {
        if (m_previous)
            uselocale(m_previous);
    }
    Utf8Locale(const Utf8Locale &) = delete;
    Utf8Locale &operator=(const Utf8Locale &) = delete;

private:
    locale_t m_previous;
};

SQLWCHAR *W(const char16_t *text) {
    return reinterpret_cast<SQLWCHAR *>(const_cast<char16_t *>(text));
}

void ReadDiagnostics(SQLSMALLINT type, SQLHANDLE handle, Diagnostics &out) {
    for (SQLSMALLINT record = 1;; ++record) {
        char16_t state[6] = {};
        char16_t message[1024];
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, record, W(state), &native, W(message),
                                      static_cast<SQLSMALLINT>(std::size(message)), &length);
        if (!SQL_SUCCEEDED(rc))
            return;
        length = std::min<SQLSMALLINT>(length, static_cast<SQLSMALLINT>(std::size(message) - 1));
        out.push_back(Diagnostic{state, native, std::u16string(message, length)});
    }
}

} // namespace

// ---- Connection -------------------------------------------------------------------

struct LinkState {
    std::mutex lock;
    SQLHDBC dbc = SQL_NULL_HDBC;
    std::vector<StatementState *> statements;
};

struct StatementState {
    std::shared_ptr<LinkState> link;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLSMALLINT columns = 0;
    SQLLEN rowCount = -1;

    // Reads the shape of the result the statement stands on.
    void Describe() {
        columns = 0;
        rowCount = -1;
        SQLNumResultCols(stmt, &columns);
        SQLRowCount(stmt, &rowCount);
    }
};

ProviderConnection::ProviderConnection() : m_link(std::make_shared<LinkState>()) {}

ProviderConnection::~ProviderConnection() {
    Disconnect();
}

bool ProviderConnection::Connect(const std::u16string &connectionString, std::int32_t loginTimeout,
                                 Diagnostics &diagnostics) {
    Disconnect();
    SQLHENV env = AcquireEnvironment();
    if (!env) {
        diagnostics.push_back(Diagnostic{u"HY001", 0, u"[unixODBC]Memory allocation error"});
        return false;
    }
    Utf8Locale utf8;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (loginTimeout > 0)
        SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeout)), 0);
    char16_t completed[1024];
    SQLSMALLINT completedLength = 0;
    SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, W(connectionString.c_str()), SQL_NTS,
                                     W(completed), static_cast<SQLSMALLINT>(std::size(completed)),
                                     &completedLength, SQL_DRIVER_NOPROMPT);
    ReadDiagnostics(SQL_HANDLE_DBC, dbc, diagnostics);
    if (!SQL_SUCCEEDED(rc)) {
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        ReleaseEnvironment();
        return false;
    }
    std::lock_guard<std::mutex> guard(m_link->lock);
    m_link->dbc = dbc;
    return true;
}

void ProviderConnection::Disconnect() {
    std::lock_guard<std::mutex> guard(m_link->lock);
    if (!m_link->dbc)
        return;
    for (StatementState *statement : m_link->statements) {
        SQLFreeHandle(SQL_HANDLE_STMT, statement->stmt);
        statement->stmt = SQL_NULL_HSTMT;
    }
    m_link->statements.clear();
    SQLDisconnect(m_link->dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_link->dbc);
    m_link->dbc = SQL_NULL_HDBC;
    ReleaseEnvironment();
}

bool ProviderConnection::Connected() const {
    std::lock_guard<std::mutex> guard(m_link->lock);
    return m_link->dbc != SQL_NULL_HDBC;
}

bool ProviderConnection::Dead() const {
    std::lock_guard<std::mutex> guard(m_link->lock);
    if (!m_link->dbc)
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    SQLRETURN rc = SQLGetConnectAttrW(m_link->dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

std::unique_ptr<ProviderStatement> ProviderConnection::Execute(const std::u16string &text,
                                                               std::int32_t queryTimeout,
                                                               Diagnostics &diagnostics) {
    auto state = std::make_shared<StatementState>();
    state->link = m_link;
    {
        std::lock_guard<std::mutex> guard(m_link->lock);
        if (!m_link->dbc ||
            !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, m_link->dbc, &state->stmt))) {
            if (m_link->dbc)
                ReadDiagnostics(SQL_HANDLE_DBC, m_link->dbc, diagnostics);
            else
                diagnostics.push_back(Diagnostic{u"08003", 0, u"Connection not open"});
            return nullptr;
        }
        m_link->statements.push_back(state.get());
    }
    auto statement = std::make_unique<ProviderStatement>(state);
    if (queryTimeout > 0)
        SQLSetStmtAttrW(state->stmt, SQL_ATTR_QUERY_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(queryTimeout)), 0);
    SQLRETURN rc = SQLExecDirectW(state->stmt, W(text.c_str()), SQL_NTS);
    ReadDiagnostics(SQL_HANDLE_STMT, state->stmt, diagnostics);
    if (rc == SQL_NO_DATA) { // a searched change that matched no row
        state->rowCount = 0;
        return statement;
    }
    if (!SQL_SUCCEEDED(rc))
        return nullptr;
    state->Describe();
    return statement;
}

// ---- Statement --------------------------------------------------------------------

ProviderStatement::ProviderStatement(std::shared_ptr<StatementState> state)
    : m_state(std::move(state)) {}

ProviderStatement::~ProviderStatement() {
    LinkState &link = *m_state->link;
    std::lock_guard<std::mutex> guard(link.lock);
    if (m_state->stmt) {
        SQLFreeHandle(SQL_HANDLE_STMT, m_state->stmt);
        m_state->stmt = SQL_NULL_HSTMT;
    }
    auto &list = link.statements;
    list.erase(std::remove(list.begin(), list.end(), m_state.get()), list.end());
}

bool ProviderStatement::ReturnsRows() const {
    return m_state->columns > 0;
}

std::int64_t ProviderStatement::RowsAffected() const {
    return m_state->rowCount;
}

int ProviderStatement::NextResult(Diagnostics &diagnostics) {
    if (!m_state->stmt)
        return 0;
    SQLRETURN rc = SQLMoreResults(m_state->stmt);
    ReadDiagnostics(SQL_HANDLE_STMT, m_state->stmt, diagnostics);
    if (rc == SQL_NO_DATA)
        return 0;
    if (!SQL_SUCCEEDED(rc))
        return -1;
    m_state->Describe();
    return 1;
}

// ---- Reading results ------------------------------------------------------------

namespace {

// Integer columns of any declared size are read as 64-bit values: a driver
// may describe a column as 32-bit that holds more (SQLite's INTEGER is
// 64-bit whatever the declaration says), and a narrower read would cut it.
// Integer values that fit 32 bits keep the objects' 32-bit type.
enum class Kind { Integer, Int64, Double, Bit, Date, Time, Timestamp, Text, Decimal, Binary };

struct ColumnPlan {
    Kind kind;
    SQLSMALLINT cType;
    SQLLEN width;  // bytes of one bound element
    bool variable; // text, decimal digits or bytes: a value may not fit the buffer
    std::vector<char> buffer;
    std::vector<SQLLEN> indicators;
};

// How a column of an SQL type is read and what the objects call it.
void PlanColumn(SQLSMALLINT sqlType, SQLULEN size, ColumnPlan &plan, DataTypeEnum &type) {
    auto fixed = [&](Kind kind, SQLSMALLINT cType, SQLLEN width, DataTypeEnum ado) {
        plan = ColumnPlan{kind, cType, width, false, {}, {}};
        type = ado;
    };
    auto variable = [&](Kind kind, SQLSMALLINT cType, DataTypeEnum ado) {
        plan = ColumnPlan{kind, cType, 0, true, {}, {}};
        type = ado;
    };
    switch (sqlType) {
    case SQL_BIT:
        return fixed(Kind::Bit, SQL_C_BIT, sizeof(SQLCHAR), adBoolean);
    case SQL_TINYINT:
        return fixed(Kind::Integer, SQL_C_SBIGINT, sizeof(SQLBIGINT), adTinyInt);
    case SQL_SMALLINT:
        return fixed(Kind::Integer, SQL_C_SBIGINT, sizeof(SQLBIGINT), adSmallInt);
    case SQL_INTEGER:
        return fixed(Kind::Integer, SQL_C_SBIGINT, sizeof(SQLBIGINT), adInteger);
    case SQL_BIGINT:
        return fixed(Kind::Int64, SQL_C_SBIGINT, sizeof(SQLBIGINT), adBigInt);
    case SQL_REAL:
        return fixed(Kind::Double, SQL_C_DOUBLE, sizeof(SQLDOUBLE), adSingle);
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return fixed(Kind::Double, SQL_C_DOUBLE, sizeof(SQLDOUBLE), adDouble);
    case SQL_DATE:
    case SQL_TYPE_DATE:
        return fixed(Kind::Date, SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT), adDBDate);
    case SQL_TIME:
    case SQL_TYPE_TIME:
        return fixed(Kind::Time, SQL_C_TYPE_TIME, sizeof(SQL_TIME_STRUCT), adDBTime);
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP:
        return fixed(Kind::Timestamp, SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT),
                     adDBTimeStamp);
    case SQL_DECIMAL:
        return variable(Kind::Decimal, SQL_C_WCHAR, adDecimal);
    case SQL_NUMERIC:
        return variable(Kind::Decimal, SQL_C_WCHAR, adNumeric);
    case SQL_BINARY:
        return variable(Kind::Binary, SQL_C_BINARY, adBinary);
    case SQL_VARBINARY:
        return variable(Kind::Binary, SQL_C_BINARY, adVarBinary);
    case SQL_LONGVARBINARY:
        return variable(Kind::Binary, SQL_C_BINARY, adLongVarBinary);
    case SQL_CHAR:
        return variable(Kind::Text, SQL_C_WCHAR, adChar);
    case SQL_VARCHAR:
        return variable(Kind::Text, SQL_C_WCHAR, adVarChar);
    case SQL_LONGVARCHAR:
        return variable(Kind::Text, SQL_C_WCHAR, adLongVarChar);
    case SQL_WCHAR:
        return variable(Kind::Text, SQL_C_WCHAR, adWChar);
    case SQL_WLONGVARCHAR:
        return variable(Kind::Text, SQL_C_WCHAR, adLongVarWChar);
    case SQL_GUID:
        return variable(Kind::Text, SQL_C_WCHAR, adGUID);
    default:
        return variable(Kind::Text, SQL_C_WCHAR, adVarWChar);
    }
    (void)size;
}

// Whether a bound value came whole: text leaves room for its terminator.
bool Fits(const ColumnPlan &plan, SQLLEN indicator) {
    SQLLEN room = plan.cType == SQL_C_WCHAR ? plan.width - 2 : plan.width;
    return indicator != SQL_NO_TOTAL && indicator <= room;
}

// The bound width of a variable column: its declared size when small,
// else a buffer that long values overflow into SQLGetData.
SQLLEN VariableWidth(const ColumnPlan &plan, SQLULEN size, SQLLEN cap) {
    SQLLEN units = size > 0 && static_cast<SQLLEN>(size) <= cap ? static_cast<SQLLEN>(size) : cap;
    if (plan.kind == Kind::Decimal)
        units = std::max<SQLLEN>(units + 3, 48); // sign, point, exponent-free digits
    if (plan.cType == SQL_C_WCHAR)
        return (units + 1) * static_cast<SQLLEN>(sizeof(SQLWCHAR));
    return std::max<SQLLEN>(units, 1);
}

// Reads a value whole with SQLGetData: text in UTF-16 or bytes. False when
// the value is NULL.
bool ReadWhole(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, std::string &bytes) {
    const SQLLEN unit = cType == SQL_C_WCHAR ? static_cast<SQLLEN>(sizeof(SQLWCHAR)) : 0;
    char chunk[8192];
    bytes.clear();
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc = SQLGetData(stmt, column, cType, chunk, sizeof chunk, &indicator);
        if (rc == SQL_NO_DATA)
            return true;
        if (!SQL_SUCCEEDED(rc))
            return true;
        if (indicator == SQL_NULL_DATA)
            return false;
        SQLLEN room = static_cast<SQLLEN>(sizeof chunk) - unit;
        SQLLEN got = (indicator == SQL_NO_TOTAL || indicator > room) ? room : indicator;
        bytes.append(chunk, static_cast<size_t>(got));
        if (rc == SQL_SUCCESS)
            return true;
    }
}

class ResultReader {
public:
    ResultReader(SQLHDBC dbc, SQLHSTMT stmt, SQLSMALLINT columns)
        : m_dbc(dbc), m_stmt(stmt), m_columns(columns) {}
    bool Read(RowSink &rows, Diagnostics &diagnostics);

private:
    bool DescribeColumns(RowSink &rows);
    void ChooseMode();
    void Bind();
    void Unbind();
    void StoreRow(RowSink &rows, SQLULEN row);
    void StoreCell(RowSink &rows, ColumnPlan &plan, SQLUSMALLINT column, SQLULEN row);
    void StoreFixed(RowSink &rows, Kind kind, const char *cell);
    void StoreLong(RowSink &rows, ColumnPlan &plan, SQLUSMALLINT column, SQLULEN row);

    SQLHDBC m_dbc;
    SQLHSTMT m_stmt;
    SQLSMALLINT m_columns;
    std::vector<ColumnPlan> m_plans;
    std::vector<SQLULEN> m_sizes;
    SQLULEN m_block = 1;
    bool m_bound = true;
    std::string m_whole;
};

bool ResultReader::DescribeColumns(RowSink &rows) {
    std::vector<ColumnInfo> infos;
    m_plans.resize(m_columns);
    m_sizes.resize(m_columns);
    for (SQLUSMALLINT i = 0; i < m_columns; ++i) {
        char16_t name[256];
        SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
        if (!SQL_SUCCEEDED(SQLDescribeColW(m_stmt, i + 1, W(name), 256, &nameLength, &sqlType,
                                           &m_sizes[i], &digits, &nullable)))
            return false;
        DataTypeEnum type = adEmpty;
        PlanColumn(sqlType, m_sizes[i], m_plans[i], type);
        infos.push_back(
            ColumnInfo{std::u16string(name, std::min<SQLSMALLINT>(nameLength, 255)), type});
    }
    rows.SetColumns(std::move(infos));
    return true;
}

// Blocks of rows where every value fits its buffer or the driver can read
// a long one inside a block; otherwise row by row, with the long values
// read by SQLGetData (from bound columns when the driver allows it).
void ResultReader::ChooseMode() {
    SQLUINTEGER extensions = 0, positioning = 0;
    SQLGetInfo(m_dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr);
    SQLGetInfo(m_dbc, SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, &positioning, sizeof positioning,
               nullptr);
    bool variable = std::any_of(m_plans.begin(), m_plans.end(),
                                [](const ColumnPlan &plan) { return plan.variable; });
    bool blockReads = (extensions & SQL_GD_BLOCK) && (extensions & SQL_GD_BOUND) &&
                      (positioning & SQL_CA1_POS_POSITION);
    m_block = !variable || blockReads ? 256 : 1;
    m_bound = !variable || (extensions & SQL_GD_BOUND);
    for (SQLUSMALLINT i = 0; i < m_columns; ++i) {
        ColumnPlan &plan = m_plans[i];
        if (plan.variable)
            plan.width = VariableWidth(plan, m_sizes[i], m_block > 1 ? 1024 : 4096);
    }
}

void ResultReader::Bind() {
    if (!m_bound)
        return;
    for (SQLUSMALLINT i = 0; i < m_columns; ++i) {
        ColumnPlan &plan = m_plans[i];
        plan.buffer.assign(static_cast<size_t>(plan.width) * m_block, 0);
        plan.indicators.assign(m_block, 0);
        SQLBindCol(m_stmt, i + 1, plan.cType, plan.buffer.data(), plan.width,
                   plan.indicators.data());
    }
}

void ResultReader::Unbind() {
    SQLFreeStmt(m_stmt, SQL_UNBIND);
    SQLSetStmtAttr(m_stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(m_stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
}

bool ResultReader::Read(RowSink &rows, Diagnostics &diagnostics) {
    if (!DescribeColumns(rows)) {
        ReadDiagnostics(SQL_HANDLE_STMT, m_stmt, diagnostics);
        return false;
    }
    ChooseMode();
    SQLULEN fetched = 0;
    SQLSetStmtAttr(m_stmt, SQL_ATTR_ROW_BIND_TYPE, nullptr, 0); // by column
    if (m_block > 1 && !SQL_SUCCEEDED(SQLSetStmtAttr(m_stmt, SQL_ATTR_ROW_ARRAY_SIZE,
                                                     reinterpret_cast<SQLPOINTER>(m_block), 0)))
        m_block = 1;
    SQLSetStmtAttr(m_stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    Bind();
    bool ok = true;
    for (;;) {
        SQLRETURN rc = SQLFetch(m_stmt);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc)) {
            ReadDiagnostics(SQL_HANDLE_STMT, m_stmt, diagnostics);
            ok = false;
            break;
        }
        for (SQLULEN row = 0; row < fetched; ++row)
            StoreRow(rows, row);
    }
    Unbind();
    return ok;
}

void ResultReader::StoreRow(RowSink &rows, SQLULEN row) {
    if (m_block > 1 && std::any_of(m_plans.begin(), m_plans.end(), [&](const ColumnPlan &plan) {
            return plan.variable && plan.indicators[row] != SQL_NULL_DATA &&
                   !Fits(plan, plan.indicators[row]);
        }))
        SQLSetPos(m_stmt, static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE);
    for (SQLUSMALLINT i = 0; i < m_columns; ++i)
        StoreCell(rows, m_plans[i], i + 1, row);
}

void ResultReader::StoreCell(RowSink &rows, ColumnPlan &plan, SQLUSMALLINT column, SQLULEN row) {
    if (plan.variable)
        return StoreLong(rows, plan, column, row);
    if (m_bound) {
        if (plan.indicators[row] == SQL_NULL_DATA)
            return rows.AddNull();
        return StoreFixed(rows, plan.kind,
                          plan.buffer.data() + static_cast<size_t>(plan.width) * row);
    }
    alignas(8) char cell[sizeof(SQL_TIMESTAMP_STRUCT) + 8];
    SQLLEN indicator = 0;
    if (!SQL_SUCCEEDED(SQLGetData(m_stmt, column, plan.cType, cell, sizeof cell, &indicator)) ||
        indicator == SQL_NULL_DATA)
        return rows.AddNull();
    StoreFixed(rows, plan.kind, cell);
}

void ResultReader::StoreFixed(RowSink &rows, Kind kind, const char *cell) {
    switch (kind) {
    case Kind::Integer: {
        SQLBIGINT value;
        memcpy(&value, cell, sizeof value);
        if (value >= INT32_MIN && value <= INT32_MAX)
            return rows.AddInt32(static_cast<std::int32_t>(value));
        return rows.AddInt64(value);
    }
    case Kind::Int64: {
        SQLBIGINT value;
        memcpy(&value, cell, sizeof value);
        return rows.AddInt64(value);
    }
    case Kind::Double: {
        SQLDOUBLE value;
        memcpy(&value, cell, sizeof value);
        return rows.AddDouble(value);
    }
    case Kind::Bit:
        return rows.AddBool(*cell != 0);
    case Kind::Date: {
        SQL_DATE_STRUCT d;
        memcpy(&d, cell, sizeof d);
        return rows.AddDateTime(d.year, d.month, d.day, 0, 0, 0);
    }
    case Kind::Time: {
        SQL_TIME_STRUCT t;
        memcpy(&t, cell, sizeof t);
        return rows.AddDateTime(1899, 12, 30, t.hour, t.minute, t.second);
    }
    case Kind::Timestamp: {
        SQL_TIMESTAMP_STRUCT t;
        memcpy(&t, cell, sizeof t);
        return rows.AddDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
    }
    default:
        return rows.AddNull();
    }
}

// Text, exact numbers and bytes: from the bound buffer when the value fit,
// else read whole.
void ResultReader::StoreLong(RowSink &rows, ColumnPlan &plan, SQLUSMALLINT column, SQLULEN row) {
    const char *data = nullptr;
    size_t length = 0;
    SQLLEN indicator = m_bound ? plan.indicators[row] : SQL_NO_TOTAL;
    if (indicator == SQL_NULL_DATA)
        return rows.AddNull();
    if (Fits(plan, indicator)) {
        data = plan.buffer.data() + static_cast<size_t>(plan.width) * row;
        length = static_cast<size_t>(indicator);
    } else {
        if (!ReadWhole(m_stmt, column, plan.cType, m_whole))
            return rows.AddNull();
        data = m_whole.data();
        length = m_whole.size();
    }
    if (plan.kind == Kind::Binary)
        return rows.AddBytes(reinterpret_cast<const unsigned char *>(data), length);
    // Wide text: the buffers hold whole UTF-16 units from even offsets.
    const auto *text = reinterpret_cast<const char16_t *>(data);
    if (plan.kind == Kind::Decimal)
        return rows.AddDecimalText(text, length / 2);
    rows.AddText(text, length / 2);
}

} // namespace

bool ProviderStatement::Fetch(RowSink &rows, Diagnostics &diagnostics) {
    if (!m_state->stmt) {
        diagnostics.push_back(Diagnostic{u"08003", 0, u"Connection not open"});
        return false;
    }
    ResultReader reader(m_state->link->dbc, m_state->stmt, m_state->columns);
    return reader.Read(rows, diagnostics);
}

// ---- Data sources and drivers -----------------------------------------------------

namespace {

template <class Next> std::vector<DataSourceEntry> List(Next next) {
    std::vector<DataSourceEntry> entries;
    SQLHENV env = AcquireEnvironment();
    if (!env)
        return entries;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    char16_t name[512], description[1024];
    SQLSMALLINT nameLength = 0, descriptionLength = 0;
    while (
        SQL_SUCCEEDED(next(env, direction, name, &nameLength, description, &descriptionLength))) {
        entries.push_back(DataSourceEntry{name, description});
        direction = SQL_FETCH_NEXT;
    }
    ReleaseEnvironment();
    return entries;
}

} // namespace

std::vector<DataSourceEntry> ListDataSources() {
    return List([](SQLHENV env, SQLUSMALLINT direction, char16_t *name, SQLSMALLINT *nameLength,
                   char16_t *description, SQLSMALLINT *descriptionLength) {
        return SQLDataSourcesW(env, direction, W(name), 512, nameLength, W(description), 1024,
                               descriptionLength);
    });
}

std::vector<DataSourceEntry> ListDrivers() {
    return List([](SQLHENV env, SQLUSMALLINT direction, char16_t *name, SQLSMALLINT *nameLength,
                   char16_t *description, SQLSMALLINT *descriptionLength) {
        // The attributes come as "key=value" texts, each ended by a zero;
        // the description is the one named so.
        char16_t attributes[1024] = {};
        SQLRETURN rc = SQLDriversW(env, direction, W(name), 512, nameLength, W(attributes), 1023,
                                   descriptionLength);
        description[0] = 0;
        for (const char16_t *at = attributes; *at;
             at += std::char_traits<char16_t>::length(at) + 1) {
            std::u16string attribute(at);
            if (attribute.rfind(u"Description=", 0) == 0) {
                std::u16string value = attribute.substr(12);
                std::char_traits<char16_t>::copy(description, value.c_str(), value.size() + 1);
            }
        }
        return rc;
    });
}

} // namespace platform::ado
