#include "DecoderRegistry.h"

#include <cstring>
#include <strings.h>

namespace {

struct Registry {
    char extensions[DecoderRegistry::kSlots][8] = {};
    int count = 0;
    PictureDecoder decoders[DecoderRegistry::kSlots] = {};
    CRITICAL_SECTION lock;
    Registry() { InitializeCriticalSection(&lock); }
};

Registry &TheRegistry() {
    static auto *registry = new Registry; // lives until the process ends
    return *registry;
}

} // namespace

BOOL RegisterDecoder(const char *extension, PictureDecoder decoder) {
    Registry &r = TheRegistry();
    if (!extension || !*extension)
        return FALSE;
    EnterCriticalSection(&r.lock);
    if (r.count >= DecoderRegistry::kSlots) {
        LeaveCriticalSection(&r.lock);
        return FALSE;
    }
    char cut[DecoderRegistry::kExtensionLength + 1] = {};
    strncpy(cut, extension, DecoderRegistry::kExtensionLength);
    bool known = false;
    for (int i = 0; i < r.count; ++i)
        known = known || strcasecmp(r.extensions[i], cut) == 0;
    if (!known)
        memcpy(r.extensions[r.count++], cut, sizeof cut);
    if (decoder) {
        for (int slot = 1; slot < DecoderRegistry::kSlots; ++slot) {
            if (r.decoders[slot] == decoder)
                break;
            if (!r.decoders[slot]) {
                r.decoders[slot] = decoder;
                break;
            }
        }
    }
    LeaveCriticalSection(&r.lock);
    return TRUE;
}

namespace DecoderRegistry {

PictureDecoder At(int slot) {
    Registry &r = TheRegistry();
    EnterCriticalSection(&r.lock);
    PictureDecoder decoder = slot >= 0 && slot < kSlots ? r.decoders[slot] : nullptr;
    LeaveCriticalSection(&r.lock);
    return decoder;
}

void SetBmpDecoder(PictureDecoder decoder) {
    Registry &r = TheRegistry();
    EnterCriticalSection(&r.lock);
    r.decoders[0] = decoder;
    LeaveCriticalSection(&r.lock);
}

int ExtensionCount() { return TheRegistry().count; }

const char *Extension(int index) {
    Registry &r = TheRegistry();
    return index >= 0 && index < r.count ? r.extensions[index] : nullptr;
}

} // namespace DecoderRegistry
