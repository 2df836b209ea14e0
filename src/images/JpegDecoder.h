// JpegDecoder: fills a Picture from a JPEG file (files only; the decoder contract of
// DecoderMode: load or probe a file or memory block, or name the extension).
#pragma once

#include "Picture.h"

int JpegDecoder(const char *path, Picture *picture, unsigned mode, const void *data, unsigned size);

// Decodes a JPEG file into width x height x 3 bytes (red, green, blue; rows
// top-down), owned by the caller (free); null on any failure.
unsigned char *ReadJpegFile(const char *path, int *width, int *height);
