// Opening a 100 000-row, 5-column result as a static record set through the
// platform's data access objects and walking it with Fields.Item(...).Value,
// against a bare ODBC loop (SQLExecDirect, SQLFetch, SQLGetData) on the same
// driver and data: SQLite through its ODBC driver, and PostgreSQL through
// psqlODBC on a server of the benchmark's own.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BareOdbc.h"
#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"
#include "testing/PrivateOdbc.h"
#include "testing/PrivatePostgres.h"
#include "testing/TestSupport.h"

namespace {

constexpr long kRows = 100000;
const char *const kColumns[] = {"id", "code", "name", "amount", "quantity"};
const char16_t *const kQuery = u"SELECT id, code, name, amount, quantity FROM orders ORDER BY id";

std::string g_sqlite, g_postgres;

std::u16string Wide(const std::string &text) {
    return platform::Utf8ToWide(text);
}

// Fills the orders table: the same 100 000 rows on either database.
bool Fill(const std::string &connection, bool postgres) {
    BareOdbc db(Wide(connection));
    if (!db.Connected())
        return false;
    db.Run(u"DROP TABLE IF EXISTS orders");
    db.Run(u"CREATE TABLE orders (id INTEGER, code VARCHAR(20), name VARCHAR(40), amount "
           u"DOUBLE PRECISION, quantity INTEGER)");
    std::u16string rows = postgres ? u"generate_series(1, 100000) AS g(i)"
                                   : u"(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                     u"FROM n WHERE i < 100000) SELECT i FROM n)";
    return db.Run(u"INSERT INTO orders SELECT i, 'SO-' || i, 'Customer number ' || (i % 977), "
                  u"i * 0.25, i % 13 FROM " +
                  rows);
}

double Checksum(const VARIANT &value) {
    if (value.vt == VT_BSTR)
        return SysStringLen(value.bstrVal);
    return value.vt == VT_I4 ? value.lVal : value.vt == VT_R8 ? value.dblVal : 0;
}

WalkSum WalkRecordset(_Connection *connection) {
    WalkSum sum;
    _Recordset *rs = nullptr;
    CoCreateInstance(CLSID_CADORecordset, nullptr, CLSCTX_ALL, IID__Recordset,
                     reinterpret_cast<void **>(&rs));
    VARIANT source, active;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(kQuery);
    VariantInit(&active);
    active.vt = VT_DISPATCH;
    active.pdispVal = connection;
    if (FAILED(rs->Open(source, active, adOpenStatic, adLockReadOnly, adCmdText))) {
        rs->Release();
        return sum;
    }
    VariantClear(&source);
    VARIANT names[5];
    for (int i = 0; i < 5; ++i) {
        VariantInit(&names[i]);
        names[i].vt = VT_BSTR;
        names[i].bstrVal = SysAllocString(Wide(kColumns[i]).c_str());
    }
    VARIANT_BOOL eof = VARIANT_FALSE;
    while (SUCCEEDED(rs->get_EOF(&eof)) && !eof) {
        for (const VARIANT &name : names) {
            Fields *fields = nullptr;
            Field *field = nullptr;
            VARIANT value;
            VariantInit(&value);
            rs->get_Fields(&fields);
            fields->get_Item(name, &field);
            field->get_Value(&value);
            sum.checksum += Checksum(value);
            VariantClear(&value);
            field->Release();
            fields->Release();
        }
        ++sum.rows;
        rs->MoveNext();
    }
    for (VARIANT &name : names)
        VariantClear(&name);
    rs->Close();
    rs->Release();
    return sum;
}

void Report(benchmark::State &state, const WalkSum &sum) {
    if (sum.rows != kRows)
        state.SkipWithError("not every row was read");
    state.counters["checksum"] = sum.checksum;
    state.SetItemsProcessed(state.iterations() * kRows);
}

void AdoStaticRecordset(benchmark::State &state, const std::string *connection) {
    _Connection *conn = nullptr;
    CoCreateInstance(CLSID_CADOConnection, nullptr, CLSCTX_ALL, IID__Connection,
                     reinterpret_cast<void **>(&conn));
    BSTR text = SysAllocString(Wide(*connection).c_str());
    HRESULT hr = conn->Open(text, nullptr, nullptr, adConnectUnspecified);
    SysFreeString(text);
    WalkSum sum;
    for (auto _ : state)
        sum = FAILED(hr) ? WalkSum{} : WalkRecordset(conn);
    Report(state, sum);
    conn->Release();
}

void BareOdbcLoop(benchmark::State &state, const std::string *connection) {
    BareOdbc db(Wide(*connection));
    WalkSum sum;
    for (auto _ : state)
        sum = db.Walk(kQuery);
    Report(state, sum);
}

// On a shared machine the least time of the repetitions is the steadiest
// figure; it is reported beside the median.
double Least(const std::vector<double> &values) {
    return *std::min_element(values.begin(), values.end());
}

BENCHMARK_CAPTURE(AdoStaticRecordset, Sqlite, &g_sqlite)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Least);
BENCHMARK_CAPTURE(BareOdbcLoop, Sqlite, &g_sqlite)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Least);
BENCHMARK_CAPTURE(AdoStaticRecordset, Postgres, &g_postgres)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Least);
BENCHMARK_CAPTURE(BareOdbcLoop, Postgres, &g_postgres)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Least);

} // namespace

int main(int argc, char **argv) {
    std::string root = testing_support::MakeTempDir("quillbay-bench-");
    setenv("QUILLBAY_HOME", root.c_str(), 1);
    setenv("TMPDIR", root.c_str(), 1);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int status = 1;
    {
        testing_support::PrivateOdbc &odbc = testing_support::PrivateOdbc::Shared();
        testing_support::PrivatePostgres server;
        std::string why;
        if (!testing_support::RegisterServer(ADO_MODULE_PATH) || !server.Ready(why)) {
            fprintf(stderr, "bench_database: %s\n", why.c_str());
        } else {
            g_sqlite = odbc.SqliteFile("orders.db");
            g_postgres = server.ConnectionString();
            if (Fill(g_sqlite, false) && Fill(g_postgres, true)) {
                benchmark::Initialize(&argc, argv);
                benchmark::RunSpecifiedBenchmarks();
                status = 0;
            }
        }
    }
    CoUninitialize();
    testing_support::RemoveTree(root);
    return status;
}
