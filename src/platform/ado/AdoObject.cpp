#include "AdoObject.h"

#include "AdoErrorTexts.h"

namespace platform::ado {

namespace {
std::atomic<LONG> g_locks{0};
}

void ModuleLock() {
    ++g_locks;
}
void ModuleUnlock() {
    --g_locks;
}
LONG ModuleLockCount() {
    return g_locks;
}

HRESULT RaiseError(HRESULT hr, const std::u16string &source, const std::u16string &description,
                   REFIID iid) {
    ICreateErrorInfo *create = nullptr;
    if (FAILED(CreateErrorInfo(&create)))
        return hr;
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(source.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    IErrorInfo *info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
    return hr;
}

HRESULT RaiseAdoError(ErrorValueEnum error, const char16_t *source, REFIID iid) {
    const char16_t *text = u"";
    for (const AdoErrorText &entry : kAdoErrorTexts) {
        if (entry.error == error)
            text = entry.text;
    }
    return RaiseError(AdoHresult(error), source, text, iid);
}

} // namespace platform::ado
