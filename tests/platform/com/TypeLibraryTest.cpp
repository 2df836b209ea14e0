#include <gtest/gtest.h>
#include <string>

#include "platform/com/TypeLibFormat.h"
#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"
#include "testing/TestSupport.h"

namespace {

constexpr GUID kLibId = {0x1234ABCD, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kIid = {0x1234ABCE, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

struct ICalc : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Add(int a, int b, int *sum) = 0;
    virtual HRESULT STDMETHODCALLTYPE Greet(BSTR name, double factor, BSTR *text) = 0;
    virtual HRESULT STDMETHODCALLTYPE Fail() = 0;
    virtual HRESULT STDMETHODCALLTYPE Quiet(int *value) = 0;
};

platform::typelib::Param In(const char *name, uint16_t vt) { return {name, vt, false, PARAMFLAG_FIN}; }
platform::typelib::Param Out(const char *name, uint16_t vt) {
    return {name, vt, true, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL};
}

std::string CalcLibrary() {
    platform::typelib::Library lib;
    memcpy(lib.guid, &kLibId, 16);
    lib.major = 1;
    lib.name = "CalcLib";
    lib.help = "Calc 1.0 Type Library";
    platform::typelib::Type calc;
    calc.kind = TKIND_DISPATCH;
    memcpy(calc.guid, &kIid, 16);
    calc.name = "ICalc";
    calc.flags = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    calc.base = "IDispatch";
    calc.functions = {
        {1, "Add", "method Add", INVOKE_FUNC, VT_HRESULT, {In("a", VT_INT), In("b", VT_INT), Out("sum", VT_INT)}},
        {2, "Greet", "method Greet", INVOKE_FUNC, VT_HRESULT,
         {In("name", VT_BSTR), In("factor", VT_R8), Out("text", VT_BSTR)}},
        {3, "Fail", "method Fail", INVOKE_FUNC, VT_HRESULT, {}},
        {4, "Quiet", "method Quiet", INVOKE_FUNC, VT_HRESULT, {Out("value", VT_INT)}},
    };
    lib.types.push_back(calc);
    return platform::typelib::Serialize(lib);
}

class Calc : public ICalc {
public:
    explicit Calc(ITypeInfo *info) : m_info(info) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override { return *count = 1, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID,
                                            DISPID *ids) override {
        return DispGetIDsOfNames(m_info, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *exception, UINT *argError) override {
        return DispInvoke(static_cast<ICalc *>(this), m_info, id, flags, params, result, exception,
                          argError);
    }
    HRESULT STDMETHODCALLTYPE Add(int a, int b, int *sum) override {
        *sum = a + b;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Greet(BSTR name, double factor, BSTR *text) override {
        std::u16string out = u"hello " + std::u16string(name) + u" x" +
                             std::u16string(1, static_cast<char16_t>(u'0' + static_cast<int>(factor)));
        *text = SysAllocString(out.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Fail() override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Quiet(int *) override { return S_FALSE; }

private:
    ITypeInfo *m_info;
};

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = testing_support::MakeTempDir("tlb-");
        m_path = m_dir + "/calc.tlb";
        testing_support::WriteFile(m_path, CalcLibrary());
        std::u16string wide = platform::Utf8ToWide(m_path);
        ASSERT_EQ(LoadTypeLib(wide.c_str(), &m_lib), S_OK);
        ASSERT_EQ(m_lib->GetTypeInfoOfGuid(kIid, &m_info), S_OK);
    }
    void TearDown() override {
        if (m_info)
            m_info->Release();
        if (m_lib)
            m_lib->Release();
        testing_support::RemoveTree(m_dir);
    }

    HRESULT Call(DISPID id, std::initializer_list<VARIANT> args, VARIANT &result,
                 EXCEPINFO *exception = nullptr, UINT *argError = nullptr) {
        std::vector<VARIANT> reversed(args.begin(), args.end());
        std::reverse(reversed.begin(), reversed.end());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        VariantInit(&result);
        Calc calc(m_info);
        IDispatch *dispatch = &calc;
        HRESULT hr = dispatch->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &params, &result,
                                      exception, argError);
        for (VARIANT &v : reversed)
            VariantClear(&v);
        return hr;
    }

    std::string m_dir, m_path;
    ITypeLib *m_lib = nullptr;
    ITypeInfo *m_info = nullptr;
};

VARIANT I4(LONG v) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_I4;
    var.lVal = v;
    return var;
}

VARIANT Str(const char16_t *text) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(text);
    return var;
}

} // namespace

TEST_F(TypeLibrary, DescribesTheLibraryAndItsMembers) {
    EXPECT_EQ(m_lib->GetTypeInfoCount(), 1u);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(m_lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), u"CalcLib");
    EXPECT_EQ(std::u16string(doc), u"Calc 1.0 Type Library");
    SysFreeString(name);
    SysFreeString(doc);

    TYPEATTR *attr = nullptr;
    ASSERT_EQ(m_info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->cFuncs, 4);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    m_info->ReleaseTypeAttr(attr);

    FUNCDESC *desc = nullptr;
    ASSERT_EQ(m_info->GetFuncDesc(1, &desc), S_OK);
    EXPECT_EQ(desc->memid, 2);
    EXPECT_EQ(desc->oVft, 8 * static_cast<SHORT>(sizeof(void *))); // after IDispatch's seven
    EXPECT_EQ(desc->cParams, 3);
    EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
    EXPECT_EQ(desc->lprgelemdescParam[2].tdesc.vt, VT_PTR);
    EXPECT_EQ(desc->lprgelemdescParam[2].tdesc.lptdesc->vt, VT_BSTR);
    EXPECT_EQ(desc->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    m_info->ReleaseFuncDesc(desc);

    BSTR names[4] = {};
    UINT count = 0;
    ASSERT_EQ(m_info->GetNames(1, names, 4, &count), S_OK);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(std::u16string(names[0]), u"Add");
    EXPECT_EQ(std::u16string(names[3]), u"sum");
    for (BSTR n : names)
        SysFreeString(n);
}

TEST_F(TypeLibrary, NamesAreFoundIgnoringCase) {
    LPOLESTR names[2] = {const_cast<LPOLESTR>(u"gReEt"), const_cast<LPOLESTR>(u"FACTOR")};
    DISPID ids[2] = {0, 0};
    ASSERT_EQ(m_info->GetIDsOfNames(names, 2, ids), S_OK);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], 1);
    LPOLESTR unknown[1] = {const_cast<LPOLESTR>(u"Nope")};
    EXPECT_EQ(m_info->GetIDsOfNames(unknown, 1, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
}

TEST_F(TypeLibrary, InvokeCoercesArgumentsAndReturnsTheRetval) {
    VARIANT result;
    ASSERT_EQ(Call(1, {Str(u"2"), I4(40)}, result), S_OK);
    EXPECT_EQ(result.vt, VT_INT);
    EXPECT_EQ(result.intVal, 42);
    ASSERT_EQ(Call(2, {Str(u"中文"), I4(3)}, result), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(result.bstrVal), u"hello 中文 x3");
    VariantClear(&result);
}

TEST_F(TypeLibrary, AnUnwrittenRetvalIsTheZeroOfItsType) {
    VARIANT result;
    EXPECT_EQ(Call(4, {}, result), S_FALSE);
    EXPECT_EQ(result.vt, VT_INT);
    EXPECT_EQ(result.intVal, 0);
}

TEST_F(TypeLibrary, AFailingMemberBecomesAnException) {
    VARIANT result;
    EXCEPINFO exception{};
    EXPECT_EQ(Call(3, {}, result, &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_ACCESSDENIED);
    EXPECT_EQ(std::u16string(exception.bstrSource), u"Fail");
    SysFreeString(exception.bstrSource);
}

TEST_F(TypeLibrary, BadArgumentsAreReported) {
    VARIANT result;
    UINT argError = 99;
    EXPECT_EQ(Call(1, {I4(1), Str(u"x"), }, result, nullptr, &argError), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 0u); // the last argument, counted from the end
    EXPECT_EQ(Call(1, {I4(1)}, result), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(Call(1, {I4(1), I4(2), I4(3)}, result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(77, {}, result), DISP_E_MEMBERNOTFOUND);
}

TEST_F(TypeLibrary, RegistrationMakesItLoadableByItsId) {
    std::u16string path = platform::Utf8ToWide(m_path);
    ASSERT_EQ(RegisterTypeLib(m_lib, path.c_str(), u"/help"), S_OK);
    ITypeLib *again = nullptr;
    ASSERT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0x409, &again), S_OK);
    TLIBATTR *attr = nullptr;
    ASSERT_EQ(again->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, kLibId));
    again->ReleaseTLibAttr(attr);
    again->Release();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Interface\\{1234ABCE-1111-2222-0102-030405060708}", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);

    ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0, SYS_WIN64), S_OK);
    EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0, &again), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Interface\\{1234ABCE-1111-2222-0102-030405060708}", 0,
                            KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
}

TEST(TypeLibraryLoading, RefusesWhatIsNotATypeLibrary) {
    std::string dir = testing_support::MakeTempDir("tlb-");
    testing_support::WriteFile(dir + "/bad.tlb", "QBTL\x01\0\0\0garbage");
    std::u16string path = platform::Utf8ToWide(dir + "/bad.tlb");
    ITypeLib *lib = reinterpret_cast<ITypeLib *>(0xdeadbeef);
    EXPECT_EQ(LoadTypeLib(path.c_str(), &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(lib, nullptr);
    EXPECT_EQ(LoadTypeLib(u"/nonexistent.tlb", &lib), TYPE_E_CANTLOADLIBRARY);
    testing_support::RemoveTree(dir);
}

TEST(ComRuntime, CreationNeedsInitialisationAndARegisteredClass) {
    IUnknown *unknown = nullptr;
    constexpr GUID kNowhere = {0x99999999, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(CoCreateInstance(kNowhere, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void **>(&unknown)),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoCreateInstance(kNowhere, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void **>(&unknown)),
              REGDB_E_CLASSNOTREG);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
    CoUninitialize();
    CoUninitialize();
}
