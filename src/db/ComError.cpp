#include "ComError.h"

namespace {

AnsiStr Text(BSTR text) {
    AnsiStr out;
    out.FromWide(text);
    SysFreeString(text);
    return out;
}

} // namespace

ComError::ComError(HRESULT hr, IUnknown *object, REFIID iid) : m_hr(hr) {
    ISupportErrorInfo *support = nullptr;
    if (!object ||
        FAILED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void **>(&support))))
        return;
    if (support->InterfaceSupportsErrorInfo(iid) == S_OK && GetErrorInfo(0, &m_pInfo) != S_OK)
        m_pInfo = nullptr;
    support->Release();
}

ComError::~ComError() {
    if (m_pInfo)
        m_pInfo->Release();
}

AnsiStr ComError::ErrorMessage() const {
    char text[1024];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(m_hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             text, sizeof text, nullptr);
    if (n > 0) {
        if (n > 1 && text[n - 2] == '\r' && text[n - 1] == '\n')
            text[n - 2] = 0;
        return AnsiStr(text);
    }
    const DWORD code = static_cast<DWORD>(m_hr);
    if (code >= 0x80040201u && code <= 0x8004FFFFu)
        wsprintfA(text, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
    else
        wsprintfA(text, "Unknown error 0x%0lX", code);
    return AnsiStr(text);
}

AnsiStr ComError::Source() const {
    BSTR source = nullptr;
    if (m_pInfo)
        m_pInfo->GetSource(&source);
    return Text(source);
}

AnsiStr ComError::Description() const {
    BSTR description = nullptr;
    if (m_pInfo)
        m_pInfo->GetDescription(&description);
    return Text(description);
}
