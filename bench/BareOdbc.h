// The peer of the database benchmark: a bare ODBC loop (SQLExecDirectW,
// SQLFetch, SQLGetData) on an open connection. Standard types only: the
// ODBC headers and the platform's cannot meet in one file.
#pragma once

#include <memory>
#include <string>

struct WalkSum {
    long rows = 0;
    double checksum = 0; // numbers summed, text lengths added
};

class BareOdbc {
public:
    explicit BareOdbc(const std::u16string &connectionString);
    ~BareOdbc();
    bool Connected() const;
    // Runs a statement and reads nothing back.
    bool Run(const std::u16string &sql);
    // Runs the query and reads every row's columns: integer, text, text,
    // floating, integer.
    WalkSum Walk(const std::u16string &sql);

private:
    struct Handles;
    std::unique_ptr<Handles> m_handles;
};
