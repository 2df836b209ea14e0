// A private PostgreSQL server for tests: a cluster of its own in a
// temporary folder, listening only on a socket in that folder (so no port
// is shared with anything), with password logins, a superuser and a test
// user owning a test database. PostgreSQL refuses to run as root: as root
// the server runs as the package's "postgres" user. Stopped and removed on
// destruction, and by a watcher process should the test program die first.
#pragma once

#include <string>

namespace testing_support {

class PrivatePostgres {
public:
    static constexpr const char *kUser = "quill";
    static constexpr const char *kPassword = "quill-secret";
    static constexpr const char *kDatabase = "quilldb";

    PrivatePostgres();
    ~PrivatePostgres();
    // One server for the whole test program, started on first use and
    // stopped when the tests end.
    static PrivatePostgres &Shared();
    PrivatePostgres(const PrivatePostgres &) = delete;
    PrivatePostgres &operator=(const PrivatePostgres &) = delete;

    // False (with the reason) when the server could not be started.
    bool Ready(std::string &why) const;
    // An ODBC connection string (psqlODBC) for the test user and database;
    // a password other than the user's when given.
    std::string ConnectionString(const std::string &password = kPassword) const;
    // Runs SQL as the superuser (psql) in a database; true when it
    // succeeded.
    bool Superuser(const std::string &sql, const std::string &database = "postgres") const;
    // Stops the server and starts it again.
    bool Restart();

private:
    bool Control(const std::string &action);
    std::string AsServer(const std::string &command) const;
    void Watch();

    std::string m_root, m_bin, m_why;
    bool m_asRoot = false;
    bool m_running = false;
    int m_watcher = -1;
};

} // namespace testing_support
