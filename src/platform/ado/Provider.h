// The provider under the data access objects: connections, statements and
// results of ODBC data sources (any driver the user's odbcinst.ini lists),
// and the lists of data sources and drivers the data-link dialog offers.
// Text goes through the drivers' wide-character calls. The interface uses
// standard types only: the ODBC headers declare names of their own that the
// platform's headers declare too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "adoenums.h"

namespace platform::ado {

// One diagnostic record of the driver manager or driver.
struct Diagnostic {
    std::u16string state; // five characters
    std::int32_t native = 0;
    std::u16string message;
};
using Diagnostics = std::vector<Diagnostic>;

// A data source name with its driver, or a driver with its description.
struct DataSourceEntry {
    std::u16string name;
    std::u16string description;
};

struct ColumnInfo {
    std::u16string name;
    DataTypeEnum type;
};

// Where a result's rows go: the columns, then the cells of each row in
// column order.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void SetColumns(std::vector<ColumnInfo> columns) = 0;
    virtual void AddNull() = 0;
    virtual void AddInt32(std::int32_t value) = 0;
    virtual void AddInt64(std::int64_t value) = 0;
    virtual void AddDouble(double value) = 0;
    virtual void AddBool(bool value) = 0;
    // A date, a time of day (on 1899-12-30) or both.
    virtual void AddDateTime(int year, int month, int day, int hour, int minute, int second) = 0;
    virtual void AddText(const char16_t *text, size_t length) = 0;
    // The digits of an exact number.
    virtual void AddDecimalText(const char16_t *text, size_t length) = 0;
    virtual void AddBytes(const unsigned char *bytes, size_t length) = 0;
};

struct LinkState;
struct StatementState;

// The statement of one command, standing on one of its results.
class ProviderStatement {
public:
    explicit ProviderStatement(std::shared_ptr<StatementState> state);
    ~ProviderStatement();
    ProviderStatement(const ProviderStatement &) = delete;
    ProviderStatement &operator=(const ProviderStatement &) = delete;

    // Whether the current result has columns (rows to read).
    bool ReturnsRows() const;
    // The rows the current result's command changed, -1 when unknown.
    std::int64_t RowsAffected() const;
    // Reads every row of the current result into rows.
    bool Fetch(RowSink &rows, Diagnostics &diagnostics);
    // Moves to the next result: 1 when there is one, 0 when there is none,
    // -1 on failure (with diagnostics).
    int NextResult(Diagnostics &diagnostics);

private:
    std::shared_ptr<StatementState> m_state;
};

class ProviderConnection {
public:
    ProviderConnection();
    ~ProviderConnection();
    ProviderConnection(const ProviderConnection &) = delete;
    ProviderConnection &operator=(const ProviderConnection &) = delete;

    // Connects with an ODBC connection string, waiting at most loginTimeout
    // seconds for the login (0: the driver's default).
    bool Connect(const std::u16string &connectionString, std::int32_t loginTimeout,
                 Diagnostics &diagnostics);
    // Ends the connection; its statements end with it.
    void Disconnect();
    bool Connected() const;
    // Asks the driver whether the connection has been lost.
    bool Dead() const;
    // Runs command text, allowing it queryTimeout seconds (0: no limit).
    // Null on failure, with the reasons in diagnostics.
    std::unique_ptr<ProviderStatement> Execute(const std::u16string &text,
                                               std::int32_t queryTimeout, Diagnostics &diagnostics);

private:
    std::shared_ptr<LinkState> m_link;
};

std::vector<DataSourceEntry> ListDataSources();
std::vector<DataSourceEntry> ListDrivers();

} // namespace platform::ado
