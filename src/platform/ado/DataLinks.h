// DataLinks: the data links component (IDataSourceLocator), which shows the
// data-link dialog and hands back a connection built from the answers.
#pragma once

#include "AdoObject.h"
#include "msdasc.h"

namespace platform::ado {

class DataLinks final : public AdoObject<IDataSourceLocator> {
public:
    DataLinks();

    HRESULT STDMETHODCALLTYPE get_hWnd(COMPATIBLE_LONG *phParentWindow) override;
    HRESULT STDMETHODCALLTYPE put_hWnd(COMPATIBLE_LONG hParentWindow) override;
    HRESULT STDMETHODCALLTYPE PromptNew(IDispatch **ppADOConnection) override;
    // Shows the dialog for the connection given and, when the user chooses,
    // gives it the new connection string.
    HRESULT STDMETHODCALLTYPE PromptEdit(IDispatch **ppADOConnection,
                                         VARIANT_BOOL *pbSuccess) override;

private:
    COMPATIBLE_LONG m_hWnd = 0;
};

} // namespace platform::ado
