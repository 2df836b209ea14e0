// Type libraries: loading them from a module's TYPELIB resource or a .tlb
// file, and their ITypeLib and ITypeInfo objects. Their registration is in
// TypeLibRegistration.cpp.
#include <atomic>
#include <cstring>
#include <memory>
#include <strings.h>
#include <vector>

#include "../kernel/TextConvert.h"
#include "../kernel/winbase.h"
#include "ComRegistry.h"
#include "Invoke.h"
#include "TypeLibFormat.h"
#include "objbase.h"
#include "oleauto.h"

namespace platform {
namespace {

BSTR MakeBstr(const std::string &utf8) {
    std::u16string wide = Utf8ToWide(utf8);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

GUID ToGuid(const uint8_t (&bytes)[16]) {
    GUID guid;
    memcpy(&guid, bytes, sizeof guid);
    return guid;
}

class TypeLibrary;

class TypeInfo final : public ITypeInfo {
public:
    TypeInfo(TypeLibrary *library, UINT index, const typelib::Type &type)
        : m_library(library), m_index(index), m_type(type) {}

    // IUnknown: a type information lives as long as its library.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
            *ppv = static_cast<ITypeInfo *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR **ppTypeAttr) override;
    HRESULT STDMETHODCALLTYPE GetTypeComp(void **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC **ppFuncDesc) override;
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, void **) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR *names, UINT cMaxNames,
                                       UINT *pcNames) override;
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE *pRefType) override;
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT *pImplTypeFlags) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR *names, UINT cNames,
                                            MEMBERID *pMemId) override;
    HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                                     DISPPARAMS *pDispParams, VARIANT *pVarResult,
                                     EXCEPINFO *pExcepInfo, UINT *puArgErr) override;
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR *pBstrName,
                                               BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                               BSTR *pBstrHelpFile) override;
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR *, BSTR *, WORD *) override {
        return TYPE_E_BADMODULEKIND;
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo **ppTInfo) override;
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID *) override {
        return TYPE_E_BADMODULEKIND;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid,
                                             PVOID *ppvObj) override;
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR *pBstrMops) override {
        if (pBstrMops)
            *pBstrMops = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib **ppTLib, UINT *pIndex) override;
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR *pTypeAttr) override { delete pTypeAttr; }
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC *pFuncDesc) override;
    void STDMETHODCALLTYPE ReleaseVarDesc(void *) override {}

    const typelib::Type &Type() const { return m_type; }

private:
    const typelib::Function *FindFunction(MEMBERID memid, WORD flags) const;
    int BaseSlots() const;

    TypeLibrary *m_library;
    UINT m_index;
    typelib::Type m_type;
};

class TypeLibrary final : public ITypeLib {
public:
    explicit TypeLibrary(typelib::Library library) : m_lib(std::move(library)) {
        for (size_t i = 0; i < m_lib.types.size(); ++i)
            m_infos.push_back(
                std::make_unique<TypeInfo>(this, static_cast<UINT>(i), m_lib.types[i]));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeLib) {
            *ppv = static_cast<ITypeLib *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG refs = --m_refs;
        if (refs == 0)
            delete this;
        return refs;
    }

    UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return static_cast<UINT>(m_infos.size()); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo **ppTInfo) override {
        if (!ppTInfo)
            return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (index >= m_infos.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *ppTInfo = m_infos[index].get();
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND *pTKind) override {
        if (!pTKind)
            return E_INVALIDARG;
        if (index >= m_infos.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *pTKind = static_cast<TYPEKIND>(m_lib.types[index].kind);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo **ppTinfo) override {
        if (!ppTinfo)
            return E_INVALIDARG;
        *ppTinfo = nullptr;
        for (size_t i = 0; i < m_lib.types.size(); ++i) {
            if (ToGuid(m_lib.types[i].guid) == guid)
                return GetTypeInfo(static_cast<UINT>(i), ppTinfo);
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR **ppTLibAttr) override {
        if (!ppTLibAttr)
            return E_INVALIDARG;
        auto *attr = new TLIBATTR{};
        attr->guid = ToGuid(m_lib.guid);
        attr->lcid = m_lib.lcid;
        attr->syskind = SYS_WIN64;
        attr->wMajorVerNum = m_lib.major;
        attr->wMinorVerNum = m_lib.minor;
        *ppTLibAttr = attr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(void **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR *name, BSTR *doc, DWORD *context,
                                               BSTR *helpFile) override {
        if (index >= static_cast<INT>(m_lib.types.size()))
            return TYPE_E_ELEMENTNOTFOUND;
        const std::string &n = index < 0 ? m_lib.name : m_lib.types[index].name;
        const std::string &d = index < 0 ? m_lib.help : m_lib.types[index].help;
        if (name)
            *name = MakeBstr(n);
        if (doc)
            *doc = MakeBstr(d);
        if (context)
            *context = 0;
        if (helpFile)
            *helpFile = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG, BOOL *pfName) override {
        if (!szNameBuf || !pfName)
            return E_INVALIDARG;
        std::string wanted = WideToUtf8(szNameBuf);
        *pfName = FALSE;
        for (const typelib::Type &t : m_lib.types) {
            bool hit = strcasecmp(t.name.c_str(), wanted.c_str()) == 0;
            for (const typelib::Function &f : t.functions)
                hit = hit || strcasecmp(f.name.c_str(), wanted.c_str()) == 0;
            if (hit)
                *pfName = TRUE;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR, ULONG, ITypeInfo **, MEMBERID *,
                                       USHORT *) override {
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR *pTLibAttr) override { delete pTLibAttr; }

    TypeInfo *InfoNamed(const std::string &name) const {
        for (const auto &info : m_infos) {
            if (strcasecmp(info->Type().name.c_str(), name.c_str()) == 0)
                return info.get();
        }
        return nullptr;
    }
    int IndexOf(const std::string &name) const {
        for (size_t i = 0; i < m_infos.size(); ++i) {
            if (strcasecmp(m_infos[i]->Type().name.c_str(), name.c_str()) == 0)
                return static_cast<int>(i);
        }
        return -1;
    }

private:
    std::atomic<ULONG> m_refs{1};
    typelib::Library m_lib;
    std::vector<std::unique_ptr<TypeInfo>> m_infos;
};

ULONG STDMETHODCALLTYPE TypeInfo::AddRef() {
    return m_library->AddRef();
}
ULONG STDMETHODCALLTYPE TypeInfo::Release() {
    return m_library->Release();
}

int TypeInfo::BaseSlots() const {
    if (strcasecmp(m_type.base.c_str(), "IDispatch") == 0)
        return 7;
    if (strcasecmp(m_type.base.c_str(), "IUnknown") == 0)
        return 3;
    if (const TypeInfo *base = m_library->InfoNamed(m_type.base); base && base != this)
        return base->BaseSlots() + static_cast<int>(base->m_type.functions.size());
    return 3;
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR **ppTypeAttr) {
    if (!ppTypeAttr)
        return E_INVALIDARG;
    auto *attr = new TYPEATTR{};
    attr->guid = ToGuid(m_type.guid);
    attr->memidConstructor = MEMBERID_NIL;
    attr->memidDestructor = MEMBERID_NIL;
    attr->typekind = static_cast<TYPEKIND>(m_type.kind);
    attr->cFuncs = static_cast<WORD>(m_type.functions.size());
    attr->cImplTypes = static_cast<WORD>(
        m_type.kind == TKIND_COCLASS ? m_type.implemented.size() : (m_type.base.empty() ? 0 : 1));
    attr->cbSizeVft = static_cast<WORD>((BaseSlots() + m_type.functions.size()) * sizeof(void *));
    attr->cbAlignment = sizeof(void *);
    attr->wTypeFlags = m_type.flags;
    attr->wMajorVerNum = 1;
    *ppTypeAttr = attr;
    return S_OK;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC **ppFuncDesc) {
    if (!ppFuncDesc)
        return E_INVALIDARG;
    if (index >= m_type.functions.size())
        return TYPE_E_ELEMENTNOTFOUND;
    const typelib::Function &fn = m_type.functions[index];
    auto *desc = new FUNCDESC{};
    desc->memid = fn.memid;
    desc->funckind = FUNC_PUREVIRTUAL;
    desc->invkind = static_cast<INVOKEKIND>(fn.invkind);
    desc->callconv = CC_STDCALL;
    desc->cParams = static_cast<SHORT>(fn.params.size());
    desc->oVft = static_cast<SHORT>((BaseSlots() + index) * sizeof(void *));
    desc->elemdescFunc.tdesc.vt = fn.retvt;
    // The parameters, then one pointed-to type per pointer parameter, in one block.
    desc->lprgelemdescParam = new ELEMDESC[fn.params.size() * 2 + 1]{};
    for (size_t i = 0; i < fn.params.size(); ++i) {
        ELEMDESC &elem = desc->lprgelemdescParam[i];
        elem.paramdesc.wParamFlags = fn.params[i].flags;
        if (fn.params[i].pointer) {
            TYPEDESC &pointee = desc->lprgelemdescParam[fn.params.size() + i].tdesc;
            pointee.vt = fn.params[i].vt;
            elem.tdesc.vt = VT_PTR;
            elem.tdesc.lptdesc = &pointee;
        } else {
            elem.tdesc.vt = fn.params[i].vt;
        }
    }
    *ppFuncDesc = desc;
    return S_OK;
}

void TypeInfo::ReleaseFuncDesc(FUNCDESC *pFuncDesc) {
    if (!pFuncDesc)
        return;
    delete[] pFuncDesc->lprgelemdescParam;
    delete pFuncDesc;
}

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR *names, UINT cMaxNames, UINT *pcNames) {
    if (!names || !pcNames)
        return E_INVALIDARG;
    *pcNames = 0;
    for (const typelib::Function &fn : m_type.functions) {
        if (fn.memid != memid)
            continue;
        if (cMaxNames > 0)
            names[(*pcNames)++] = MakeBstr(fn.name);
        for (const typelib::Param &p : fn.params) {
            if (*pcNames >= cMaxNames)
                break;
            names[(*pcNames)++] = MakeBstr(p.name);
        }
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE *pRefType) {
    if (!pRefType)
        return E_INVALIDARG;
    std::string name =
        m_type.kind == TKIND_COCLASS
            ? (index < m_type.implemented.size() ? m_type.implemented[index].name : "")
            : (index == 0 ? m_type.base : "");
    int found = name.empty() ? -1 : m_library->IndexOf(name);
    if (found < 0)
        return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = static_cast<HREFTYPE>(found);
    return S_OK;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT *pImplTypeFlags) {
    if (!pImplTypeFlags)
        return E_INVALIDARG;
    if (m_type.kind != TKIND_COCLASS || index >= m_type.implemented.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = static_cast<INT>(m_type.implemented[index].flags);
    return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR *names, UINT cNames, MEMBERID *pMemId) {
    if (!names || !pMemId || cNames == 0)
        return E_INVALIDARG;
    std::string member = WideToUtf8(names[0]);
    for (const typelib::Function &fn : m_type.functions) {
        if (strcasecmp(fn.name.c_str(), member.c_str()) != 0)
            continue;
        pMemId[0] = fn.memid;
        HRESULT hr = S_OK;
        for (UINT n = 1; n < cNames; ++n) {
            std::string wanted = WideToUtf8(names[n]);
            pMemId[n] = DISPID_UNKNOWN;
            for (size_t p = 0; p < fn.params.size(); ++p) {
                if (strcasecmp(fn.params[p].name.c_str(), wanted.c_str()) == 0)
                    pMemId[n] = static_cast<MEMBERID>(p);
            }
            if (pMemId[n] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    for (UINT n = 0; n < cNames; ++n)
        pMemId[n] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

const typelib::Function *TypeInfo::FindFunction(MEMBERID memid, WORD flags) const {
    for (const typelib::Function &fn : m_type.functions) {
        if (fn.memid == memid && (fn.invkind & flags))
            return &fn;
    }
    return nullptr;
}

HRESULT TypeInfo::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS *pDispParams,
                         VARIANT *pVarResult, EXCEPINFO *pExcepInfo, UINT *puArgErr) {
    // A method may also be called as a property get, as scripts do.
    WORD kinds = wFlags;
    if (wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))
        kinds |= INVOKE_FUNC | INVOKE_PROPERTYGET;
    const typelib::Function *fn = FindFunction(memid, kinds);
    if (!fn)
        return DISP_E_MEMBERNOTFOUND;
    int slot = BaseSlots();
    for (const typelib::Function &f : m_type.functions) {
        if (&f == fn)
            break;
        ++slot;
    }
    return InvokeBySignature(pvInstance, slot, *fn, pDispParams, pVarResult, pExcepInfo, puArgErr);
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR *name, BSTR *doc, DWORD *context,
                                   BSTR *helpFile) {
    const std::string *n = nullptr, *d = nullptr;
    if (memid == MEMBERID_NIL) {
        n = &m_type.name;
        d = &m_type.help;
    } else {
        for (const typelib::Function &fn : m_type.functions) {
            if (fn.memid == memid) {
                n = &fn.name;
                d = &fn.help;
                break;
            }
        }
    }
    if (!n)
        return TYPE_E_ELEMENTNOTFOUND;
    if (name)
        *name = MakeBstr(*n);
    if (doc)
        *doc = MakeBstr(*d);
    if (context)
        *context = 0;
    if (helpFile)
        *helpFile = nullptr;
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo **ppTInfo) {
    return m_library->GetTypeInfo(hRefType, ppTInfo);
}

HRESULT TypeInfo::CreateInstance(IUnknown *pUnkOuter, REFIID riid, PVOID *ppvObj) {
    if (m_type.kind != TKIND_COCLASS)
        return TYPE_E_BADMODULEKIND;
    return CoCreateInstance(ToGuid(m_type.guid), pUnkOuter, CLSCTX_INPROC_SERVER, riid, ppvObj);
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib **ppTLib, UINT *pIndex) {
    if (ppTLib) {
        *ppTLib = m_library;
        m_library->AddRef();
    }
    if (pIndex)
        *pIndex = m_index;
    return S_OK;
}

// ---- Loading ------------------------------------------------------------------

bool ReadWholeFile(const std::string &path, std::string &bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr);
    bytes.assign(size, '\0');
    DWORD got = 0;
    bool ok = size != INVALID_FILE_SIZE && ReadFile(file, bytes.data(), size, &got, nullptr) &&
              got == size;
    CloseHandle(file);
    return ok;
}

// The TYPELIB 1 resource of a module, copied out before the module is let go.
bool ReadModuleTypeLib(const std::string &path, std::string &bytes) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module)
        return false;
    bool ok = false;
    if (HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB")) {
        const void *data = LockResource(LoadResource(module, info));
        if (data) {
            bytes.assign(static_cast<const char *>(data), SizeofResource(module, info));
            ok = true;
        }
    }
    FreeLibrary(module);
    return ok;
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib **pptlib) {
    if (!szFile || !pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    std::string path = WideToAnsi(szFile);
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
        return TYPE_E_CANTLOADLIBRARY;
    if (bytes.compare(0, 4,
                      "\x7F"
                      "ELF") == 0 &&
        !ReadModuleTypeLib(path, bytes))
        return TYPE_E_CANTLOADLIBRARY;
    typelib::Library library;
    if (!typelib::Parse(bytes.data(), bytes.size(), library))
        return TYPE_E_CANTLOADLIBRARY;
    *pptlib = new TypeLibrary(std::move(library));
    return S_OK;
}

extern "C" HRESULT WINAPI DispGetIDsOfNames(ITypeInfo *ptinfo, LPOLESTR *rgszNames, UINT cNames,
                                            DISPID *rgdispid) {
    if (!ptinfo)
        return E_INVALIDARG;
    return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

extern "C" HRESULT WINAPI DispInvoke(void *_this, ITypeInfo *ptinfo, DISPID dispidMember,
                                     WORD wFlags, DISPPARAMS *pparams, VARIANT *pvarResult,
                                     EXCEPINFO *pexcepinfo, UINT *puArgErr) {
    if (!ptinfo)
        return E_INVALIDARG;
    return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}
