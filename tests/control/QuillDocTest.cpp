// The object: its interfaces, registration, aggregation and module life.
#include <utility>
#include <vector>

#include "QuillDocFixture.h"

namespace {

struct Key {
    const char *path;
    const char *value; // nullptr for the default value
    const char *data;  // nullptr: the key only
};

std::string ReadDefault(const std::string &path, const char *value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(missing)";
    char buffer[512] = {};
    DWORD size = sizeof buffer;
    LONG rc =
        RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? buffer : "(no value)";
}

// An outer object that aggregates a QuillDoc and counts its own references.
class Outer : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    ULONG refs = 1;
    IUnknown *inner = nullptr;
};

const std::string kClsidKey = "CLSID\\{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}";

} // namespace

class QuillDocObject : public QuillDocFixture {};

TEST_F(QuillDocObject, RegistrationWritesEveryKey) {
    const std::vector<Key> keys = {
        {"Quillbay.QuillDoc.1", nullptr, "QuillDoc Class"},
        {"Quillbay.QuillDoc.1\\CLSID", nullptr, "{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}"},
        {"Quillbay.QuillDoc", nullptr, "QuillDoc Class"},
        {"Quillbay.QuillDoc\\CLSID", nullptr, "{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}"},
        {"Quillbay.QuillDoc\\CurVer", nullptr, "Quillbay.QuillDoc.1"},
        {"CLSID\\{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}", nullptr, "QuillDoc Class"},
        {"CLSID\\{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}\\ProgID", nullptr, "Quillbay.QuillDoc.1"},
        {"CLSID\\{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}\\VersionIndependentProgID", nullptr,
         "Quillbay.QuillDoc"},
        {"CLSID\\{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}\\InprocServer32", nullptr,
         QUILLBAY_MODULE_PATH},
        {"CLSID\\{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}\\InprocServer32", "ThreadingModel",
         "Apartment"},
        {"CLSID\\{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}\\TypeLib", nullptr,
         "{56684029-7FF2-497E-8D90-ABB5C9312AEA}"},
        {"CLSID\\{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}\\Programmable", nullptr, nullptr},
        {"TypeLib\\{56684029-7FF2-497E-8D90-ABB5C9312AEA}\\1.0", nullptr,
         "quillbay 1.0 Type Library"},
        {"TypeLib\\{56684029-7FF2-497E-8D90-ABB5C9312AEA}\\1.0\\409\\win64", nullptr,
         QUILLBAY_MODULE_PATH},
    };
    for (const Key &key : keys) {
        if (key.data)
            EXPECT_EQ(ReadDefault(key.path, key.value), key.data) << key.path;
        else
            EXPECT_NE(ReadDefault(key.path, nullptr), "(missing)") << key.path;
    }
}

TEST_F(QuillDocObject, TheTypeLibraryIsRegisteredUnderItsLocaleAndAnUpgradeDropsTheOldKey) {
    const std::string version = "TypeLib\\{56684029-7FF2-497E-8D90-ABB5C9312AEA}\\1.0";
    // What a registration under locale 0 left behind, and a library of
    // another file under yet another locale, which stays.
    HKEY key = nullptr;
    for (const auto &[locale, path] :
         {std::pair<std::string, std::string>{"0", QUILLBAY_MODULE_PATH},
          {"804", "/elsewhere/other.tlb"}}) {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (version + "\\" + locale + "\\win64").c_str(),
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(path.c_str()),
                       static_cast<DWORD>(path.size() + 1));
        RegCloseKey(key);
    }
    ASSERT_EQ(Export<LPFNREGISTERSERVER>("DllRegisterServer")(), S_OK);
    EXPECT_EQ(ReadDefault(version + "\\409\\win64", nullptr), QUILLBAY_MODULE_PATH);
    EXPECT_EQ(ReadDefault(version + "\\0", nullptr), "(missing)");
    EXPECT_EQ(ReadDefault(version + "\\804\\win64", nullptr), "/elsewhere/other.tlb");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, (version + "\\804").c_str());
    ITypeLib *library = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_QUILLBAYLib, 1, 0, 0x409, &library), S_OK);
    TLIBATTR *attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->lcid, 0x409u);
    library->ReleaseTLibAttr(attr);
    library->Release();
}

TEST_F(QuillDocObject, UnregisteringRemovesTheClassButKeepsClsid) {
    auto unreg = Export<LPFNREGISTERSERVER>("DllUnregisterServer");
    auto reg = Export<LPFNREGISTERSERVER>("DllRegisterServer");
    HKEY other = nullptr;
    RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{00000000-1111-2222-3333-444444444444}", 0, nullptr,
                    0, KEY_ALL_ACCESS, nullptr, &other, nullptr);
    RegCloseKey(other);
    ASSERT_EQ(unreg(), S_OK);
    EXPECT_EQ(ReadDefault(kClsidKey, nullptr), "(missing)");
    EXPECT_EQ(ReadDefault(kClsidKey + "\\InprocServer32", nullptr), "(missing)");
    EXPECT_EQ(ReadDefault("Quillbay.QuillDoc", nullptr), "(missing)");
    EXPECT_EQ(ReadDefault("Quillbay.QuillDoc.1", nullptr), "(missing)");
    EXPECT_EQ(ReadDefault("TypeLib\\{56684029-7FF2-497E-8D90-ABB5C9312AEA}", nullptr), "(missing)");
    EXPECT_NE(ReadDefault("CLSID", nullptr), "(missing)");
    EXPECT_NE(ReadDefault("CLSID\\{00000000-1111-2222-3333-444444444444}", nullptr), "(missing)");
    ASSERT_EQ(reg(), S_OK);
}

TEST_F(QuillDocObject, AnswersExactlyItsFourInterfaces) {
    IQuillDoc *doc = CreateDoc();
    ASSERT_NE(doc, nullptr);
    void *out = nullptr;
    IUnknown *unknown = nullptr;
    ASSERT_EQ(doc->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void *>(unknown), static_cast<void *>(doc));
    unknown->Release();
    EXPECT_EQ(doc->QueryInterface(IID_IDispatch, &out), S_OK);
    EXPECT_EQ(out, static_cast<void *>(doc));
    static_cast<IUnknown *>(out)->Release();
    EXPECT_EQ(doc->QueryInterface(IID_IObjectSafety, &out), S_OK);
    static_cast<IUnknown *>(out)->Release();
    out = reinterpret_cast<void *>(0xdeadbeef);
    EXPECT_EQ(doc->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(doc->QueryInterface(IID_ITypeInfo, &out), E_NOINTERFACE);
    EXPECT_EQ(doc->Release(), 0u);
}

TEST_F(QuillDocObject, SafetyOptionsFollowTheMask) {
    IQuillDoc *doc = CreateDoc();
    IObjectSafety *safety = nullptr;
    ASSERT_EQ(doc->QueryInterface(IID_IObjectSafety, reinterpret_cast<void **>(&safety)), S_OK);
    DWORD supported = 0xdeadbeef, enabled = 0xdeadbeef;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), S_OK);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL);
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    EXPECT_EQ(enabled, 3u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0), S_OK);
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    EXPECT_EQ(enabled, 2u);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IClassFactory, &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IClassFactory, 1, 1), E_NOINTERFACE);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
    safety->Release();
    doc->Release();
}

TEST_F(QuillDocObject, AggregationOnlyHandsOutTheInnerUnknown) {
    Outer outer;
    void *out = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_QuillDoc, &outer, CLSCTX_INPROC_SERVER, IID_IQuillDoc, &out),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(CoCreateInstance(CLSID_QuillDoc, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void **>(&outer.inner)),
              S_OK);
    IQuillDoc *doc = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IQuillDoc, reinterpret_cast<void **>(&doc)), S_OK);
    ULONG before = outer.refs;
    doc->AddRef(); // goes to the outer object
    EXPECT_EQ(outer.refs, before + 1);
    IUnknown *identity = nullptr;
    doc->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity));
    EXPECT_EQ(identity, &outer);
    identity->Release();
    doc->Release();
    doc->Release();
    EXPECT_EQ(outer.inner->Release(), 0u);
}

TEST_F(QuillDocObject, ModuleStaysWhileObjectsOrLocksLive) {
    auto canUnload = Export<LPFNCANUNLOADNOW>("DllCanUnloadNow");
    ASSERT_EQ(canUnload(), S_OK);
    IQuillDoc *doc = CreateDoc();
    EXPECT_EQ(canUnload(), S_FALSE);
    doc->Release();
    EXPECT_EQ(canUnload(), S_OK);
    IClassFactory *factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_QuillDoc, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void **>(&factory)),
              S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnload(), S_OK);
    factory->Release();
    auto getClassObject = Export<LPFNGETCLASSOBJECT>("DllGetClassObject");
    void *out = nullptr;
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(QuillDocObject, DispatchGoesThroughTheTypeLibrary) {
    IQuillDoc *doc = CreateDoc();
    UINT count = 0;
    EXPECT_EQ(doc->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo *info = nullptr;
    ASSERT_EQ(doc->GetTypeInfo(0, 0, &info), S_OK);
    BSTR name = nullptr, help = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr);
    EXPECT_EQ(Take(name), u"IQuillDoc");
    EXPECT_EQ(Take(help), u"IQuillDoc Interface");
    info->GetDocumentation(18, &name, &help, nullptr, nullptr);
    EXPECT_EQ(Take(name), u"SetFont");
    EXPECT_EQ(Take(help), u"method SetFont");
    info->Release();
    EXPECT_EQ(doc->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);

    // Every member by name, with its DISPID.
    const char16_t *names[] = {u"SetPaperSize", u"SetPrinter", u"PrintText",     u"BeginCharOf",
                               u"EncryptChar",  u"PrintLogo",  u"PrintBarCode",  u"GetBarCodeImg",
                               u"PageSetup",    u"DrawLine",   u"DBCommand",     u"GetDBResult",
                               u"DBRes",        u"GetCode",    u"SetPaperSize1", u"HttpConnect",
                               u"HttpSend",     u"setfont"};
    for (int i = 0; i < 18; ++i) {
        LPOLESTR wanted[1] = {const_cast<LPOLESTR>(names[i])};
        DISPID id = 0;
        EXPECT_EQ(doc->GetIDsOfNames(GUID_NULL, wanted, 1, 0, &id), S_OK);
        EXPECT_EQ(id, i + 1);
    }
    LPOLESTR unknown[1] = {const_cast<LPOLESTR>(u"Print")};
    DISPID id = 0;
    EXPECT_EQ(doc->GetIDsOfNames(GUID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(doc->GetIDsOfNames(IID_IDispatch, unknown, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);

    VARIANT args[3];
    VariantInit(&args[0]);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocString(u"0");
    VariantInit(&args[1]);
    args[1].vt = VT_R8;
    args[1].dblVal = 6;
    VariantInit(&args[2]);
    args[2].vt = VT_I4;
    args[2].lVal = 123;
    DISPPARAMS params{args, nullptr, 3, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(doc->Invoke(4, GUID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(result.bstrVal), u"000123");
    VariantClear(&result);
    VariantClear(&args[0]);
    doc->Release();
}

TEST_F(QuillDocObject, TheModuleCarriesItsStringsAndTypeLibrary) {
    char text[64];
    EXPECT_EQ(LoadStringA(s_module, 100, text, sizeof text), 8);
    EXPECT_STREQ(text, "quillbay");
    LoadStringA(s_module, 101, text, sizeof text);
    EXPECT_STREQ(text, "select cVenName,iApMoney from Vendor");
    ITypeLib *library = nullptr;
    ASSERT_EQ(LoadTypeLib(Wide(QUILLBAY_MODULE_PATH).c_str(), &library), S_OK);
    TLIBATTR *attr = nullptr;
    library->GetLibAttr(&attr);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_QUILLBAYLib));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    library->ReleaseTLibAttr(attr);
    ITypeInfo *coclass = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_QuillDoc, &coclass), S_OK);
    HREFTYPE ref = 0;
    INT flags = 0;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
    coclass->GetImplTypeFlags(0, &flags);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    ITypeInfo *iface = nullptr;
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, &iface), S_OK);
    BSTR name = nullptr;
    iface->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    EXPECT_EQ(Take(name), u"IQuillDoc");
    iface->Release();
    coclass->Release();
    library->Release();
}
