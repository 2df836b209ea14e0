#include "BareOdbc.h"

#include <sql.h>
#include <sqlext.h>

#include <locale.h>

struct BareOdbc::Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
};

namespace {

SQLWCHAR *W(const std::u16string &text) {
    return reinterpret_cast<SQLWCHAR *>(const_cast<char16_t *>(text.c_str()));
}

} // namespace

BareOdbc::BareOdbc(const std::u16string &connectionString) : m_handles(new Handles) {
    // Narrow drivers get UTF-8 from the driver manager, as the platform
    // arranges for its connections.
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    locale_t previous = utf8 ? uselocale(utf8) : static_cast<locale_t>(0);
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_handles->env);
    SQLSetEnvAttr(m_handles->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  0);
    SQLAllocHandle(SQL_HANDLE_DBC, m_handles->env, &m_handles->dbc);
    SQLRETURN rc = SQLDriverConnectW(m_handles->dbc, nullptr, W(connectionString), SQL_NTS, nullptr,
                                     0, nullptr, SQL_DRIVER_NOPROMPT);
    m_handles->connected = SQL_SUCCEEDED(rc);
    if (previous) {
        uselocale(previous);
        freelocale(utf8);
    }
}

BareOdbc::~BareOdbc() {
    if (m_handles->connected)
        SQLDisconnect(m_handles->dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_handles->dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, m_handles->env);
}

bool BareOdbc::Connected() const {
    return m_handles->connected;
}

bool BareOdbc::Run(const std::u16string &sql) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, m_handles->dbc, &stmt);
    SQLRETURN rc = SQLExecDirectW(stmt, W(sql), SQL_NTS);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
}

WalkSum BareOdbc::Walk(const std::u16string &sql) {
    WalkSum sum;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, m_handles->dbc, &stmt);
    if (SQL_SUCCEEDED(SQLExecDirectW(stmt, W(sql), SQL_NTS))) {
        SQLINTEGER id = 0, quantity = 0;
        SQLDOUBLE amount = 0;
        SQLWCHAR text[256];
        SQLLEN indicator = 0;
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, &indicator);
            sum.checksum += id;
            SQLGetData(stmt, 2, SQL_C_WCHAR, text, sizeof text, &indicator);
            sum.checksum += indicator > 0 ? static_cast<double>(indicator) / sizeof(SQLWCHAR) : 0;
            SQLGetData(stmt, 3, SQL_C_WCHAR, text, sizeof text, &indicator);
            sum.checksum += indicator > 0 ? static_cast<double>(indicator) / sizeof(SQLWCHAR) : 0;
            SQLGetData(stmt, 4, SQL_C_DOUBLE, &amount, 0, &indicator);
            sum.checksum += amount;
            SQLGetData(stmt, 5, SQL_C_SLONG, &quantity, 0, &indicator);
            sum.checksum += quantity;
            ++sum.rows;
        }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return sum;
}
