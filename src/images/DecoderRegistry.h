// The process-wide decoder registry: 20 extensions and 20 decoder slots,
// slot 0 always the BMP decoder. Loading asks the decoders in slot order;
// the extensions are kept but not consulted.
#pragma once

#include "Picture.h"

// Registers an extension and its decoder; 0 when 20 extensions are already
// registered or the extension is null or empty.
BOOL RegisterDecoder(const char *extension, PictureDecoder decoder);

namespace DecoderRegistry {
constexpr int kSlots = 20;
constexpr int kExtensionLength = 6;

// The decoder in a slot, or null (the first null slot ends the table).
PictureDecoder At(int slot);
// Slot 0: set by every picture's construction.
void SetBmpDecoder(PictureDecoder decoder);
int ExtensionCount();
const char *Extension(int index);
} // namespace DecoderRegistry
