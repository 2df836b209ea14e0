#include "testing/PrivateOdbc.h"

#include <cstdlib>

#include "platform/win32.h"
#include "testing/TestSupport.h"

namespace testing_support {

PrivateOdbc &PrivateOdbc::Shared() {
    static auto *odbc = new PrivateOdbc;
    return *odbc;
}

PrivateOdbc::PrivateOdbc() {
    m_folder = MakeTempDir("odbc-");
    WriteFile(m_folder + "/odbcinst.ini", std::string("[") + kSqliteDriver +
                                              "]\nDescription=SQLite3 ODBC Driver\n"
                                              "Driver=libsqlite3odbc.so\n\n[" +
                                              kPostgresDriver +
                                              "]\nDescription=PostgreSQL ODBC driver "
                                              "(Unicode version)\nDriver=psqlodbcw.so\n");
    WriteFile(m_folder + "/odbc.ini", std::string("[") + kDataSource + "]\nDriver=" +
                                          kSqliteDriver + "\nDatabase=" + m_folder + "/books.db\n");
    WriteFile(m_folder + "/user.ini", "");
    setenv("ODBCSYSINI", m_folder.c_str(), 1);
    setenv("ODBCINI", (m_folder + "/user.ini").c_str(), 1);
}

std::string PrivateOdbc::SqliteFile(const std::string &name) const {
    return std::string("Driver={") + kSqliteDriver + "};Database=" + m_folder + "/" + name;
}

bool RegisterServer(const char *path) {
    HMODULE module = LoadLibraryA(path);
    if (!module)
        return false;
    auto entry = reinterpret_cast<LPFNREGISTERSERVER>(
        reinterpret_cast<void *>(GetProcAddress(module, "DllRegisterServer")));
    return entry && entry() == S_OK;
}

} // namespace testing_support
