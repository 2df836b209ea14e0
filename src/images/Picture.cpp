#include "Picture.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "BmpDecoder.h"
#include "DecoderRegistry.h"

namespace {

// The DrawDib handle all pictures of the process share, with their count.
struct SharedDrawDib {
    CRITICAL_SECTION lock;
    HDRAWDIB handle = nullptr;
    LONG pictures = 0;
    SharedDrawDib() { InitializeCriticalSection(&lock); }
};

SharedDrawDib &DrawDib() {
    static auto *shared = new SharedDrawDib;
    return *shared;
}

// Copies a frame into a block of the picture's layout, skipping its
// transparent key; the frame is clipped to the block.
void DrawFrameInto(const PictureFrame &frame, DWORD *target, int width, int height) {
    for (int row = 0; row < frame.height; ++row) {
        const int y = frame.top + row;
        if (y < 0 || y >= height)
            continue;
        const auto *source =
            reinterpret_cast<const DWORD *>(frame.pixels) +
            static_cast<size_t>(frame.height - 1 - row) * static_cast<size_t>(frame.width);
        DWORD *line = target + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width);
        for (int col = 0; col < frame.width; ++col) {
            const int x = frame.left + col;
            if (x < 0 || x >= width)
                continue;
            if (frame.transparentKey != 0xFFFFFFFF && source[col] == frame.transparentKey)
                continue;
            line[x] = source[col];
        }
    }
}

// Copies the frame's rectangle from one block to another (save buffer and
// picture share the layout), clipped to the block.
void CopyFrameRect(const PictureFrame &frame, const DWORD *from, DWORD *to, int width, int height) {
    for (int row = 0; row < frame.height; ++row) {
        const int y = frame.top + row;
        if (y < 0 || y >= height)
            continue;
        const size_t line = static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width);
        for (int col = 0; col < frame.width; ++col) {
            const int x = frame.left + col;
            if (x >= 0 && x < width)
                to[line + static_cast<size_t>(x)] = from[line + static_cast<size_t>(x)];
        }
    }
}

} // namespace

void Picture::ComposeFrame(const PictureFrame &frame) {
    if (!m_pPixels || !frame.pixels)
        return;
    LockPixels();
    DrawFrameInto(frame, reinterpret_cast<DWORD *>(m_pPixels), m_nWidth, m_nHeight);
    UnlockPixels();
}

void ClipToPicture(int size, int &position, int &extent) {
    const long long end =
        extent == 0 ? size : std::min<long long>(size, static_cast<long long>(position) + extent);
    if (position < 0)
        position = 0;
    const long long remaining = end - position;
    extent = remaining < 0 ? 0 : static_cast<int>(remaining);
}

Picture::Picture() {
    InitializeCriticalSection(&m_pixelLock);
    m_header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    m_header.bmiHeader.biPlanes = 1;
    m_header.bmiHeader.biBitCount = 32;
    m_header.bmiHeader.biCompression = BI_RGB;
    DecoderRegistry::SetBmpDecoder(BmpDecoder);
    SharedDrawDib &shared = DrawDib();
    EnterCriticalSection(&shared.lock);
    if (!shared.handle)
        shared.handle = DrawDibOpen();
    ++shared.pictures;
    LeaveCriticalSection(&shared.lock);
}

Picture::~Picture() {
    Clear();
    free(m_pPixels);
    delete m_pAnimation;
    SharedDrawDib &shared = DrawDib();
    EnterCriticalSection(&shared.lock);
    if (InterlockedDecrement(&shared.pictures) == 0 && shared.handle) {
        DrawDibClose(shared.handle);
        shared.handle = nullptr;
    }
    LeaveCriticalSection(&shared.lock);
    DeleteCriticalSection(&m_pixelLock);
}

AnimationState *Picture::Animation() {
    if (!m_pAnimation)
        m_pAnimation = new (std::nothrow) AnimationState;
    return m_pAnimation;
}

void Picture::FreeFrames() {
    PictureFrame *frame = m_pFirstFrame;
    while (frame) {
        PictureFrame *next = frame->next;
        delete frame;
        frame = next == m_pFirstFrame ? nullptr : next;
    }
    m_pFirstFrame = nullptr;
}

void Picture::Clear() {
    if (m_pAnimation) {
        // The only place playing is set: just before the thread is stopped.
        if (m_pFirstFrame && !m_pAnimation->playing && m_pAnimation->thread) {
            m_pAnimation->thread->Resume();
            m_pAnimation->playing = 1;
        }
        m_pAnimation->Reset(); // stops and destroys the thread
    }
    FreeFrames();
}

BOOL Picture::Create(int width, int height) {
    Clear();
    const long long pixels = static_cast<long long>(width) * height;
    if (width <= 0 || height <= 0 || pixels > kMostPixels) {
        // Nothing sensible to make: no block, as after a failed allocation.
        free(m_pPixels);
        m_pPixels = nullptr;
        m_nCapacity = 0;
        m_nWidth = m_nHeight = 0;
        return FALSE;
    }
    const auto bytes = static_cast<size_t>(pixels) * 4;
    LockPixels();
    if (!m_pPixels || static_cast<size_t>(m_nCapacity) < bytes) {
        free(m_pPixels);
        m_pPixels = static_cast<BYTE *>(calloc(bytes, 1));
        m_nCapacity = m_pPixels ? static_cast<int>(bytes) : 0;
    } else {
        memset(m_pPixels, 0, bytes);
    }
    UnlockPixels();
    if (!m_pPixels) {
        m_nWidth = m_nHeight = 0;
        return FALSE;
    }
    m_nWidth = width;
    m_nHeight = height;
    SetRect(&m_rcSource, 0, 0, width, height);
    SetRect(&m_rcDest, 0, 0, width, height);
    return TRUE;
}

BOOL Picture::TryDecoders(bool memory, const char *path, const void *data, unsigned size) {
    const unsigned probe = memory ? DecoderMode::kProbeMemory : DecoderMode::kProbeFile;
    const unsigned load = memory ? DecoderMode::kLoadMemory : DecoderMode::kLoadFile;
    for (int slot = 0; slot < DecoderRegistry::kSlots; ++slot) {
        PictureDecoder decoder = DecoderRegistry::At(slot);
        if (!decoder)
            break;
        if (decoder(path, this, probe, data, size) && decoder(path, this, load, data, size)) {
            m_pDecoder = decoder;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL Picture::LoadFromFile(const char *path) {
    return TryDecoders(false, path, nullptr, 0);
}

BOOL Picture::LoadFromResource(const char *name, const char *type, HMODULE module) {
    HRSRC info = FindResourceA(module, name, type);
    if (!info)
        return FALSE;
    HGLOBAL loaded = LoadResource(module, info);
    DWORD size = SizeofResource(module, info);
    const void *data = LockResource(loaded);
    if (!data)
        return FALSE;
    return TryDecoders(true, nullptr, data, size);
}

BOOL Picture::LoadFromBitmap(HBITMAP bitmap) {
    if (!bitmap)
        return FALSE;
    BITMAP info{};
    if (!GetObjectA(bitmap, sizeof info, &info))
        return FALSE;
    if (Create(info.bmWidth, info.bmHeight)) {
        m_header.bmiHeader.biWidth = m_nWidth;
        m_header.bmiHeader.biHeight = m_nHeight;
        HDC screen = GetDC(m_hWnd);
        LockPixels();
        GetDIBits(screen, bitmap, 0, static_cast<UINT>(m_nHeight), m_pPixels, &m_header,
                  DIB_RGB_COLORS);
        UnlockPixels();
        ReleaseDC(m_hWnd, screen);
        SetRect(&m_rcSource, 0, 0, m_nWidth, m_nHeight);
    }
    return TRUE;
}

BOOL Picture::LoadFromPixels(const DWORD *pixels, int width, int height) {
    if (!pixels || !Create(width, height))
        return FALSE;
    LockPixels();
    memcpy(m_pPixels, pixels, static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    UnlockPixels();
    return TRUE;
}

void Picture::SetSourceRect(int x, int y, int w, int h) {
    ClipToPicture(m_nWidth, x, w);
    ClipToPicture(m_nHeight, y, h);
    SetRect(&m_rcSource, x, y, x + w, y + h);
}

BOOL Picture::SetDestRect(int x, int y, int w, int h) {
    w = w == 0 ? m_nWidth : (w < 0 ? 0 : w);
    h = h == 0 ? m_nHeight : (h < 0 ? 0 : h);
    return SetRect(&m_rcDest, x, y, x + w, y + h);
}

BOOL Picture::Draw(HDC hdc, BOOL useDestSize, UINT flags) {
    if (!m_pPixels)
        return FALSE;
    m_header.bmiHeader.biWidth = m_nWidth;
    m_header.bmiHeader.biHeight = m_nHeight;
    const int sw = m_rcSource.right - m_rcSource.left, sh = m_rcSource.bottom - m_rcSource.top;
    const int dw = useDestSize ? m_rcDest.right - m_rcDest.left : sw;
    const int dh = useDestSize ? m_rcDest.bottom - m_rcDest.top : sh;
    LockPixels();
    BOOL drawn =
        DrawDibDraw(DrawDib().handle, hdc, m_rcDest.left, m_rcDest.top, dw, dh, &m_header.bmiHeader,
                    m_pPixels, m_rcSource.left, m_rcSource.top, sw, sh, flags);
    UnlockPixels();
    return drawn;
}

BOOL Picture::DrawToWindow(BOOL useDestSize, UINT flags) {
    if (!m_pPixels)
        return FALSE;
    HDC screen = GetDC(m_hWnd);
    BOOL drawn = Draw(screen, useDestSize, flags);
    ReleaseDC(m_hWnd, screen);
    return drawn;
}

void Picture::FillAll(BYTE blue, BYTE green, BYTE red) {
    if (!m_pPixels)
        return;
    const DWORD pixel = blue | (green << 8) | (static_cast<DWORD>(red) << 16);
    auto *pixels = reinterpret_cast<DWORD *>(m_pPixels);
    const size_t count = static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight);
    LockPixels();
    for (size_t i = 0; i < count; ++i)
        pixels[i] = pixel;
    UnlockPixels();
}

BOOL Picture::FillRect(DWORD pixel, int x, int y, int w, int h) {
    if (!m_pPixels)
        return FALSE;
    ClipToPicture(m_nWidth, x, w);
    ClipToPicture(m_nHeight, y, h);
    if (w <= 0 || h <= 0)
        return FALSE;
    auto *pixels = reinterpret_cast<DWORD *>(m_pPixels);
    LockPixels();
    for (int row = y; row < y + h; ++row) {
        DWORD *line = pixels + IndexOf(x, row);
        for (int col = 0; col < w; ++col)
            line[col] = pixel;
    }
    UnlockPixels();
    return TRUE;
}

BOOL Picture::StartAnimation() {
    AnimationState *state = Animation();
    if (!state)
        return FALSE;
    if (!state->thread)
        state->thread = std::make_unique<WorkerThread>();
    return state->thread->Start(AnimationThread, this);
}

// Steps through the frames by their delays, applying each frame's disposal
// to the picture when its time is up. Frames are drawn only while playing,
// which this system never sets before stopping the thread.
DWORD WINAPI Picture::AnimationThread(LPVOID argument) {
    auto *picture = static_cast<Picture *>(argument);
    DWORD start = timeGetTime();
    AnimationState *state = picture->Animation();
    if (!state)
        return 0;
    WorkerThread *thread = state->thread.get();
    PictureFrame *current = picture->m_pFirstFrame;
    const int width = picture->m_nWidth, height = picture->m_nHeight;
    auto *pixels = reinterpret_cast<DWORD *>(picture->m_pPixels);
    DWORD *save = nullptr;
    if (state->needsSaveBuffer && current) {
        save = new (std::nothrow) DWORD[static_cast<size_t>(width) * static_cast<size_t>(height)]();
        if (save) {
            picture->LockPixels();
            CopyFrameRect(*current, pixels, save, width, height);
            picture->UnlockPixels();
        }
    }
    state->frameDue = 1;
    while (picture->m_pFirstFrame && current && !thread->StopRequested()) {
        if (state->playing && state->frameDue) {
            picture->LockPixels();
            DrawFrameInto(*current, pixels, width, height);
            picture->UnlockPixels();
            if (state->afterFrame)
                state->afterFrame(picture);
            picture->DrawToWindow(TRUE, DDF_HALFTONE);
            start = timeGetTime();
            state->frameDue = 0;
            Sleep(1);
            continue;
        }
        if (timeGetTime() - start >= static_cast<DWORD>(current->delay) * 10) {
            picture->LockPixels();
            switch (current->disposal) {
            case 0:
            case 1:
                if (save)
                    DrawFrameInto(*current, save, width, height);
                break;
            case 2:
                picture->UnlockPixels();
                picture->FillRect(state->background, current->left, current->top, current->width,
                                  current->height);
                picture->LockPixels();
                break;
            case 3:
                if (save)
                    CopyFrameRect(*current, save, pixels, width, height);
                break;
            default:
                break;
            }
            picture->UnlockPixels();
            if (current->next) {
                state->frameDue = 1;
                start = timeGetTime();
                current = current->next;
            }
        }
        Sleep(1);
    }
    delete[] save;
    return 100;
}
