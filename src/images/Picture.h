// Picture: the system's one in-memory image, 32 bits per pixel (blue, green,
// red, fourth byte), rows bottom-up, drawn onto any device context with
// DrawDib. Decoders fill it; printing and the JPEG writer read it. An
// animated GIF keeps its later images as a ring of frames that a worker
// thread steps through.
#pragma once

#include <cstring>

#include "AnimationState.h"
#include "PictureFrame.h"
#include "platform/win32.h"

class Picture;

// A decoder: path (may be null), picture, mode, data and size → 1 or 0.
using PictureDecoder = int (*)(const char *path, Picture *picture, unsigned mode, const void *data,
                               unsigned size);

namespace DecoderMode {
constexpr unsigned kLoadFile = 0;
constexpr unsigned kProbeFile = 1;
constexpr unsigned kQueryExtension = 2;
constexpr unsigned kMemory = 0x10000000;
constexpr unsigned kLoadMemory = kMemory | kLoadFile;
constexpr unsigned kProbeMemory = kMemory | kProbeFile;

// The answer to kQueryExtension: the decoder's extension copied into the
// caller's buffer; 0 without a buffer.
inline int AnswerExtension(const void *data, const char *extension) {
    if (!data)
        return 0;
    strcpy(static_cast<char *>(const_cast<void *>(data)), extension);
    return 1;
}
} // namespace DecoderMode

class Picture {
public:
    // Pictures larger than this are refused as an allocation failure.
    static constexpr long long kMostPixels = 100'000'000;

    Picture();
    Picture(const Picture &) = delete;
    Picture &operator=(const Picture &) = delete;
    virtual ~Picture();

    void Clear();
    BOOL Create(int width, int height);
    BOOL LoadFromFile(const char *path);
    BOOL LoadFromResource(const char *name, const char *type, HMODULE module);
    BOOL LoadFromBitmap(HBITMAP bitmap);
    BOOL LoadFromPixels(const DWORD *pixels, int width, int height);
    void SetSourceRect(int x, int y, int w, int h);
    BOOL SetDestRect(int x, int y, int w, int h);
    BOOL Draw(HDC hdc, BOOL useDestSize, UINT flags);
    BOOL DrawToWindow(BOOL useDestSize, UINT flags);
    void FillAll(BYTE blue, BYTE green, BYTE red);
    BOOL FillRect(DWORD pixel, int x, int y, int w, int h);

    BYTE *Pixels() { return m_pPixels; }
    const BYTE *Pixels() const { return m_pPixels; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    const RECT &SourceRect() const { return m_rcSource; }
    const RECT &DestRect() const { return m_rcDest; }
    PictureDecoder Decoder() const { return m_pDecoder; }

    // The frame ring of an animated GIF (null otherwise); the decoder builds it.
    PictureFrame *FirstFrame() const { return m_pFirstFrame; }
    void SetFirstFrame(PictureFrame *frame) { m_pFirstFrame = frame; }
    // The animation state, made on first need; null if it cannot be made.
    AnimationState *Animation();
    // Starts the animation thread (the GIF decoder does, at the trailer).
    BOOL StartAnimation();
    // Draws a frame into the pixels, skipping its transparent key, as the
    // animation draws frames; the GIF decoder shows the first one so.
    void ComposeFrame(const PictureFrame &frame);

    // Draws and the animation thread's disposals never meet half-way: both
    // hold this lock while they touch the pixels.
    void LockPixels() { EnterCriticalSection(&m_pixelLock); }
    void UnlockPixels() { LeaveCriticalSection(&m_pixelLock); }

    // Pixel index of a top-left-origin point in the bottom-up block.
    size_t IndexOf(int x, int y) const {
        return static_cast<size_t>(x) +
               static_cast<size_t>(m_nHeight - 1 - y) * static_cast<size_t>(m_nWidth);
    }

private:
    BOOL TryDecoders(bool memory, const char *path, const void *data, unsigned size);
    void FreeFrames();
    static DWORD WINAPI AnimationThread(LPVOID picture);

    PictureDecoder m_pDecoder = nullptr;
    BITMAPINFO m_header{};
    RECT m_rcSource{};
    RECT m_rcDest{};
    HWND m_hWnd = nullptr;
    BYTE *m_pPixels = nullptr;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nCapacity = 0;
    PictureFrame *m_pFirstFrame = nullptr;
    AnimationState *m_pAnimation = nullptr;
    CRITICAL_SECTION m_pixelLock;
};

// Clips a rectangle to the picture's size, per axis: an extent of 0 reaches
// the end; a negative position starts at 0; nothing left gives 0 extent.
void ClipToPicture(int size, int &position, int &extent);
