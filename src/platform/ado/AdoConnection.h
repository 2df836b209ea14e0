// AdoConnection: the Connection object, a session with an ODBC data source.
// Opened connections may be shared by objects on several threads, so its
// opening and closing are serialised.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "AdoErrors.h"
#include "Provider.h"

namespace platform::ado {

// Answers the object behind a _Connection of this module (not AddRef'd
// separately: the reference is the QueryInterface's).
inline constexpr IID IID_AdoConnectionObject = {
    0x6B1D3E42, 0x2F0A, 0x4C8E, {0x9D, 0x31, 0x5E, 0x7A, 0x10, 0xB4, 0xC2, 0x57}};

class AdoConnection final : public AdoObject<_Connection> {
public:
    AdoConnection();
    ~AdoConnection() override;

    HRESULT STDMETHODCALLTYPE get_ConnectionString(BSTR *pbstr) override;
    HRESULT STDMETHODCALLTYPE put_ConnectionString(BSTR bstr) override;
    HRESULT STDMETHODCALLTYPE get_CommandTimeout(LONG *plTimeout) override;
    HRESULT STDMETHODCALLTYPE put_CommandTimeout(LONG lTimeout) override;
    HRESULT STDMETHODCALLTYPE get_ConnectionTimeout(LONG *plTimeout) override;
    HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(LONG lTimeout) override;
    HRESULT STDMETHODCALLTYPE get_Version(BSTR *pbstr) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE Execute(BSTR CommandText, VARIANT *RecordsAffected, LONG Options,
                                      _Recordset **ppiRset) override;
    HRESULT STDMETHODCALLTYPE Open(BSTR ConnectionString, BSTR UserID, BSTR Password,
                                   LONG Options) override;
    HRESULT STDMETHODCALLTYPE get_Errors(Errors **ppvObject) override;
    HRESULT STDMETHODCALLTYPE get_State(LONG *plObjState) override;

    bool IsOpen() const { return m_open; }
    // Runs command text with the command time-out; on failure the Errors
    // collection holds the diagnostics and the error is raised for iid.
    HRESULT Run(const std::u16string &text, REFIID iid,
                std::unique_ptr<ProviderStatement> &statement);
    // Puts a provider failure into Errors and raises it. When the driver
    // says the connection is dead, or its diagnostics say the server ended
    // the session, an item with the state of a broken communication link
    // (08S01) is among them.
    HRESULT ProviderFailure(HRESULT hr, Diagnostics diagnostics, REFIID iid);
    // A password the data-link dialog was not allowed to put in the
    // connection string; Open uses it when the string has none.
    void HoldPassword(std::u16string password) { m_heldPassword = std::move(password); }

protected:
    HRESULT DefaultValue(VARIANT *out) override; // the connection string
    void *Other(REFIID riid) override;

private:
    HRESULT Closed(REFIID iid) const;

    std::mutex m_lock;
    std::u16string m_connectionString;
    std::u16string m_heldPassword;
    LONG m_commandTimeout = 30;
    LONG m_connectionTimeout = 15;
    std::atomic<bool> m_open{false};
    ProviderConnection m_provider;
    AdoErrors *m_errors;
};

} // namespace platform::ado
