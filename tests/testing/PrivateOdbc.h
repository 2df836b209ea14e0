// An ODBC configuration of the tests' own: the SQLite and PostgreSQL
// drivers that Debian's packages install, named by their file names, and a
// data source, in a folder that ODBCSYSINI and ODBCINI point at, so no test
// depends on the machine's odbcinst.ini or odbc.ini. The driver manager
// keeps what it read, so a program has one configuration, made on first
// use and kept until it ends.
#pragma once

#include <string>

namespace testing_support {

class PrivateOdbc {
public:
    static constexpr const char *kSqliteDriver = "SQLite3";
    static constexpr const char *kPostgresDriver = "PostgreSQL Unicode";
    // A system data source of the SQLite driver, on the file books.db.
    static constexpr const char *kDataSource = "Books";

    static PrivateOdbc &Shared();
    const std::string &Folder() const { return m_folder; }
    // A connection string for a SQLite database file in the folder.
    std::string SqliteFile(const std::string &name) const;

private:
    PrivateOdbc();

    std::string m_folder;
};

// Loads a server module and calls its DllRegisterServer; true on S_OK.
bool RegisterServer(const char *path);

} // namespace testing_support
