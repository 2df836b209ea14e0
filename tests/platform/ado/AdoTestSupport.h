// Driving the data access objects as a program does: created through the
// component runtime from the registered module, errors read from the
// thread's error object and the connection's Errors collection.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/ado/AdoObject.h"
#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"
#include "testing/PrivateOdbc.h"

namespace ado_testing {

using platform::ado::Held;

inline std::u16string Wide(const std::string &utf8) {
    return platform::Utf8ToWide(utf8);
}

// A BSTR argument for the length of a call.
class Text {
public:
    explicit Text(const std::string &utf8) : m_bstr(SysAllocString(Wide(utf8).c_str())) {}
    ~Text() { SysFreeString(m_bstr); }
    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
};

struct RaisedError {
    HRESULT hr;
    std::u16string source;
    std::u16string description;
};

struct ProviderError {
    std::u16string state;
    LONG native;
    std::u16string description;
};

class AdoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        s_odbc = &testing_support::PrivateOdbc::Shared();
        ASSERT_TRUE(testing_support::RegisterServer(ADO_MODULE_PATH));
    }
    static void TearDownTestSuite() { CoUninitialize(); }

    // A connection opened with the string; HRESULT in *result when given.
    static _Connection *Connect(const std::string &connection, HRESULT *result = nullptr) {
        _Connection *conn = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_CADOConnection, nullptr, CLSCTX_ALL, IID__Connection,
                                   reinterpret_cast<void **>(&conn)),
                  S_OK);
        HRESULT hr = conn->Open(Text(connection), nullptr, nullptr, adConnectUnspecified);
        if (result)
            *result = hr;
        else
            EXPECT_EQ(hr, S_OK) << platform::WideToUtf8(Raised().description.c_str());
        return conn;
    }

    static HRESULT Execute(_Connection *conn, const std::string &sql, LONG *affected = nullptr) {
        VARIANT count;
        VariantInit(&count);
        _Recordset *result = nullptr;
        HRESULT hr = conn->Execute(Text(sql), &count, adCmdText, &result);
        if (result)
            result->Release();
        if (affected)
            *affected = count.lVal;
        return hr;
    }

    // A static, read-only record set of the query.
    static _Recordset *Query(_Connection *conn, const std::string &sql, HRESULT *result = nullptr) {
        _Recordset *rs = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_CADORecordset, nullptr, CLSCTX_ALL, IID__Recordset,
                                   reinterpret_cast<void **>(&rs)),
                  S_OK);
        VARIANT source, active;
        VariantInit(&source);
        source.vt = VT_BSTR;
        source.bstrVal = SysAllocString(Wide(sql).c_str());
        VariantInit(&active);
        active.vt = VT_DISPATCH;
        active.pdispVal = conn;
        HRESULT hr = rs->Open(source, active, adOpenStatic, adLockReadOnly, adCmdText);
        VariantClear(&source);
        if (result)
            *result = hr;
        else
            EXPECT_EQ(hr, S_OK) << platform::WideToUtf8(Raised().description.c_str());
        return rs;
    }

    // The value of a field of the current record (VT_ERROR with the
    // HRESULT when it cannot be read).
    static VARIANT Value(_Recordset *rs, const std::string &name) {
        VARIANT value;
        VariantInit(&value);
        Fields *fields = nullptr;
        Field *field = nullptr;
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_BSTR;
        index.bstrVal = SysAllocString(Wide(name).c_str());
        HRESULT hr = rs->get_Fields(&fields);
        if (SUCCEEDED(hr))
            hr = fields->get_Item(index, &field);
        if (SUCCEEDED(hr))
            hr = field->get_Value(&value);
        if (FAILED(hr)) {
            value.vt = VT_ERROR;
            value.scode = hr;
        }
        VariantClear(&index);
        if (field)
            field->Release();
        if (fields)
            fields->Release();
        return value;
    }

    // The value as text, as the system converts it.
    static std::string AsText(VARIANT value) {
        VARIANT text;
        VariantInit(&text);
        std::string out = "(no text)";
        if (value.vt == VT_BSTR)
            out = platform::WideToUtf8(value.bstrVal, SysStringLen(value.bstrVal));
        else if (SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR)))
            out = platform::WideToUtf8(text.bstrVal, SysStringLen(text.bstrVal));
        VariantClear(&text);
        VariantClear(&value);
        return out;
    }

    // The thread's error object, taken.
    static RaisedError Raised(HRESULT hr = S_OK) {
        RaisedError raised{hr, u"", u""};
        IErrorInfo *info = nullptr;
        if (GetErrorInfo(0, &info) != S_OK)
            return raised;
        BSTR source = nullptr, description = nullptr;
        info->GetSource(&source);
        info->GetDescription(&description);
        info->Release();
        raised.source = source ? source : u"";
        raised.description = description ? description : u"";
        SysFreeString(source);
        SysFreeString(description);
        return raised;
    }

    static std::vector<ProviderError> ErrorsOf(_Connection *conn) {
        std::vector<ProviderError> out;
        Errors *errors = nullptr;
        if (FAILED(conn->get_Errors(&errors)))
            return out;
        LONG count = 0;
        errors->get_Count(&count);
        for (LONG i = 0; i < count; ++i) {
            VARIANT index;
            VariantInit(&index);
            index.vt = VT_I4;
            index.lVal = i;
            Error *item = nullptr;
            if (FAILED(errors->get_Item(index, &item)))
                continue;
            BSTR state = nullptr, description = nullptr;
            LONG native = 0;
            item->get_SQLState(&state);
            item->get_NativeError(&native);
            item->get_Description(&description);
            out.push_back(
                ProviderError{state ? state : u"", native, description ? description : u""});
            SysFreeString(state);
            SysFreeString(description);
            item->Release();
        }
        errors->Release();
        return out;
    }

    static bool HasState(const std::vector<ProviderError> &errors, const std::u16string &state) {
        for (const ProviderError &error : errors) {
            if (error.state == state)
                return true;
        }
        return false;
    }

    static inline testing_support::PrivateOdbc *s_odbc = nullptr;
};

} // namespace ado_testing
