// The vfw component: DrawDib, which stretches a 32-bit device-independent
// bitmap onto any device context.
#pragma once

#include "../gdi/wingdi.h"

using HDRAWDIB = HANDLE;

#define DDF_JUSTDRAWIT 0x0080
#define DDF_HALFTONE 0x1000

extern "C" HDRAWDIB WINAPI DrawDibOpen();
extern "C" BOOL WINAPI DrawDibClose(HDRAWDIB hdd);
// Draws the source rectangle of the bitmap (top-left origin, in pixels)
// into the destination rectangle of the context (device units; -1 extents
// mean the source's). On a printer a picture of black and white (a
// barcode) goes into the page as black through a one-bit stencil over a
// white ground, any rows of other colours as images; other pictures go as
// an image. Either has no more pixels than the dots it covers and is never
// smoothed when enlarged; DDF_JUSTDRAWIT makes any picture an image. On
// raster contexts shrinking averages areas and enlarging replicates pixels.
extern "C" BOOL WINAPI DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                                   LPBITMAPINFOHEADER lpbi, LPVOID lpBits, int xSrc, int ySrc,
                                   int dxSrc, int dySrc, UINT wFlags);
