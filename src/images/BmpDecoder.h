// BmpDecoder: fills a Picture from a bitmap file or a bitmap resource of the main module (files only; the decoder contract of
// DecoderMode: load or probe a file or memory block, or name the extension).
#pragma once

#include "Picture.h"

int BmpDecoder(const char *path, Picture *picture, unsigned mode, const void *data, unsigned size);
