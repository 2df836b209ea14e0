// Registers the module in the test run's registry once, and creates objects
// as a page would, through the component runtime.
#pragma once

#include <gtest/gtest.h>
#include <string>

#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"
#include "quillbay_i.h"

class QuillDocFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        s_module = LoadLibraryA(QUILLBAY_MODULE_PATH);
        ASSERT_NE(s_module, nullptr);
        auto reg = reinterpret_cast<LPFNREGISTERSERVER>(
            reinterpret_cast<void *>(GetProcAddress(s_module, "DllRegisterServer")));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
    }
    static void TearDownTestSuite() { CoUninitialize(); }

    IQuillDoc *CreateDoc() {
        IQuillDoc *doc = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_QuillDoc, nullptr, CLSCTX_INPROC_SERVER, IID_IQuillDoc,
                                   reinterpret_cast<void **>(&doc)),
                  S_OK);
        return doc;
    }

    template <class F> F Export(const char *name) {
        return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(s_module, name)));
    }

    static std::u16string Wide(const std::string &utf8) { return platform::Utf8ToWide(utf8); }

    static inline HMODULE s_module = nullptr;
};

// A BSTR for an argument, freed at the end of the full expression.
class Arg {
public:
    explicit Arg(const std::u16string &text) : m_bstr(SysAllocString(text.c_str())) {}
    ~Arg() { SysFreeString(m_bstr); }
    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
};

inline std::u16string Take(BSTR text) {
    std::u16string out = text ? std::u16string(text, SysStringLen(text)) : u"(null)";
    SysFreeString(text);
    return out;
}
