#include "DataLinks.h"

#include <new>

#include "AdoConnection.h"
#include "DataLinkDialog.h"

namespace platform::ado {
namespace {

// Gives the connection the dialog's string, and the password it could not
// keep in it.
HRESULT Apply(AdoConnection *connection, const DataLinkDialog::Result &result) {
    BSTR text = SysAllocStringLen(result.connectionString.data(),
                                  static_cast<UINT>(result.connectionString.size()));
    HRESULT hr = connection->put_ConnectionString(text);
    SysFreeString(text);
    if (SUCCEEDED(hr))
        connection->HoldPassword(result.password);
    return hr;
}

} // namespace

DataLinks::DataLinks() : AdoObject(IID_IDataSourceLocator) {}

HRESULT STDMETHODCALLTYPE DataLinks::get_hWnd(COMPATIBLE_LONG *phParentWindow) {
    if (!phParentWindow)
        return E_POINTER;
    *phParentWindow = m_hWnd;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataLinks::put_hWnd(COMPATIBLE_LONG hParentWindow) {
    m_hWnd = hParentWindow;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataLinks::PromptNew(IDispatch **ppADOConnection) {
    if (!ppADOConnection)
        return E_POINTER;
    *ppADOConnection = nullptr;
    DataLinkDialog::Result result;
    if (!DataLinkDialog::Run(result))
        return S_FALSE;
    auto *connection = new (std::nothrow) AdoConnection;
    if (!connection)
        return E_OUTOFMEMORY;
    HRESULT hr = Apply(connection, result);
    if (FAILED(hr)) {
        connection->Release();
        return hr;
    }
    *ppADOConnection = connection;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataLinks::PromptEdit(IDispatch **ppADOConnection,
                                                VARIANT_BOOL *pbSuccess) {
    if (!ppADOConnection || !*ppADOConnection || !pbSuccess)
        return E_POINTER;
    *pbSuccess = VARIANT_FALSE;
    AdoConnection *connection = nullptr;
    if (FAILED(
            (*ppADOConnection)
                ->QueryInterface(IID_AdoConnectionObject, reinterpret_cast<void **>(&connection))))
        return E_INVALIDARG;
    DataLinkDialog::Result result;
    HRESULT hr = S_FALSE;
    if (DataLinkDialog::Run(result)) {
        hr = Apply(connection, result);
        if (SUCCEEDED(hr))
            *pbSuccess = VARIANT_TRUE;
    }
    connection->Release();
    return hr;
}

} // namespace platform::ado
