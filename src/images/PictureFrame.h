// PictureFrame: one image of an animated GIF, kept in a ring.
#pragma once

#include "platform/win32.h"

struct PictureFrame {
    PictureFrame *previous = nullptr;
    BYTE *pixels = nullptr; // owned; width x height x 4, bottom-up
    PictureFrame *next = nullptr;
    DWORD transparentKey = 0xFFFFFFFF; // a pixel value not copied; -1: every pixel is
    bool keyPending = false;           // the key becomes a colour when the image is read
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    WORD delay = 0;     // hundredths of a second
    BYTE disposal = 0;  // the GIF disposal method, 0 to 7

    ~PictureFrame() { delete[] pixels; }
};
