// The type-library loader on arbitrary files: LoadTypeLib reads the bytes
// as the project's type-library format, and every type's attributes,
// functions, names and documentation are asked for, as the automation host
// asks for them. Files that start as modules are left out: those are loaded
// as code, which only the object's own registered libraries are.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "FuzzState.h"
#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"

namespace {

std::string TempFile() {
    static const std::string path = fuzz_state::ScratchPath("typelib") + ".tlb";
    return path;
}

void UseType(ITypeInfo *info) {
    TYPEATTR *attr = nullptr;
    if (info->GetTypeAttr(&attr) != S_OK || !attr)
        return;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC *desc = nullptr;
        if (info->GetFuncDesc(i, &desc) != S_OK || !desc)
            continue;
        BSTR names[8] = {};
        UINT count = 0;
        if (info->GetNames(desc->memid, names, 8, &count) == S_OK) {
            for (UINT n = 0; n < count && n < 8; ++n)
                SysFreeString(names[n]);
        }
        BSTR name = nullptr;
        if (info->GetDocumentation(desc->memid, &name, nullptr, nullptr, nullptr) == S_OK && name) {
            LPOLESTR asked[] = {name};
            MEMBERID id = 0;
            info->GetIDsOfNames(asked, 1, &id);
            SysFreeString(name);
        }
        info->ReleaseFuncDesc(desc);
    }
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        ITypeInfo *base = nullptr;
        if (info->GetRefTypeOfImplType(i, &ref) == S_OK &&
            info->GetRefTypeInfo(ref, &base) == S_OK && base)
            base->Release();
    }
    info->ReleaseTypeAttr(attr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size >= 4 && memcmp(data,
                            "\x7F"
                            "ELF",
                            4) == 0)
        return 0;
    FILE *file = fopen(TempFile().c_str(), "wb");
    if (!file)
        return 0;
    fwrite(data, 1, size, file);
    fclose(file);
    const std::u16string path = platform::Utf8ToWide(TempFile());
    ITypeLib *library = nullptr;
    if (LoadTypeLib(reinterpret_cast<LPCOLESTR>(path.c_str()), &library) == S_OK && library) {
        for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
            ITypeInfo *info = nullptr;
            if (library->GetTypeInfo(i, &info) == S_OK && info) {
                UseType(info);
                info->Release();
            }
        }
        library->Release();
    }
    unlink(TempFile().c_str());
    return 0;
}
