// PngDecoder: fills a Picture from PNG data (the decoder contract of
// DecoderMode: load or probe a file or memory block, or name the extension).
#pragma once

#include "Picture.h"

int PngDecoder(const char *path, Picture *picture, unsigned mode, const void *data, unsigned size);
