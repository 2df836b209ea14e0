// Barcode images as JPEG files: baseline JFIF through libjpeg.
#pragma once

#include "images/Picture.h"

// Writes W x H pixels of red, green, blue (rows top-down) as a JPEG file of
// the given quality, whole or not at all: 1 on success; 0 on failure
// (nothing is shown), and a file already at path is left as it was.
int WriteJpegFile(const char *path, const unsigned char *rgb, int width, int height, int quality);

// Writes the picture (bottom-up B G R x) as a JPEG file; 0 for an empty path
// or picture.
int SaveBarcodeJpeg(const char *path, const Picture *picture, int quality);
