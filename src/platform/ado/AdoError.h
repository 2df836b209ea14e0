// AdoError: one provider error of a connection's Errors collection.
#pragma once

#include <string>

#include "AdoObject.h"

namespace platform::ado {

struct ErrorRecord {
    LONG number = 0; // the HRESULT of the failed operation
    std::u16string source;
    std::u16string description;
    std::u16string sqlState;
    LONG nativeError = 0;
    std::u16string helpFile;
    LONG helpContext = 0;
};

class AdoError final : public AdoObject<Error> {
public:
    explicit AdoError(ErrorRecord record);

    HRESULT STDMETHODCALLTYPE get_Number(LONG *pl) override;
    HRESULT STDMETHODCALLTYPE get_Source(BSTR *pbstr) override;
    HRESULT STDMETHODCALLTYPE get_Description(BSTR *pbstr) override;
    HRESULT STDMETHODCALLTYPE get_HelpFile(BSTR *pbstr) override;
    HRESULT STDMETHODCALLTYPE get_HelpContext(LONG *pl) override;
    HRESULT STDMETHODCALLTYPE get_SQLState(BSTR *pbstr) override;
    HRESULT STDMETHODCALLTYPE get_NativeError(LONG *pl) override;

protected:
    HRESULT DefaultValue(VARIANT *out) override; // the description

private:
    ErrorRecord m_record;
};

// A new BSTR with the text (the caller's to free); E_POINTER without out.
HRESULT CopyText(const std::u16string &text, BSTR *out);

} // namespace platform::ado
