// The registration-script interpreter on arbitrary scripts: each is run to
// register, then to unregister, against hives of the run's own (the user's
// and the machine's), with a map that names a module as registration does.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "FuzzState.h"
#include "platform/com/Registrar.h"
#include "platform/win32.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz_state::UseStateOfTheRun("registrar");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 16384)
        return 0;
    const std::string script(reinterpret_cast<const char *>(data), size);
    static const REGMAP_ENTRY kMap[] = {{"MODULE", "/usr/lib/quillbay/quillbay.so"},
                                        {"CLSID", "{00000000-0000-0000-0000-000000000001}"},
                                        {nullptr, nullptr}};
    RegistrarRunScript(script.c_str(), TRUE, kMap);
    RegistrarRunScript(script.c_str(), FALSE, kMap);
    return 0;
}
