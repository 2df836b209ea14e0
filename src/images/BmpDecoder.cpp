#include "BmpDecoder.h"

#include <cstring>

#include "support/DiskFile.h"

namespace {

// The two headers a bitmap file starts with: 'BM' in the first two bytes.
bool LooksLikeBitmapFile(const char *path) {
    DiskFile file;
    if (!file.Open(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL))
        return false;
    BYTE header[14], info[40];
    file.Read(header, sizeof header, FALSE, nullptr);
    file.Read(info, sizeof info, FALSE, nullptr);
    return header[0] == 'B' && header[1] == 'M';
}

} // namespace

int BmpDecoder(const char *path, Picture *picture, unsigned mode, const void *data, unsigned) {
    const unsigned operation = mode & 0xFFFF;
    if (operation == DecoderMode::kQueryExtension)
        return DecoderMode::AnswerExtension(data, "bmp");
    if ((mode & DecoderMode::kMemory) || !path || !*path)
        return 0;
    if (operation == DecoderMode::kProbeFile)
        return FindResourceA(nullptr, path, RT_BITMAP) || LooksLikeBitmapFile(path) ? 1 : 0;
    if (operation != DecoderMode::kLoadFile)
        return 0;

    int width = 0, height = 0;
    HBITMAP bitmap = LoadBitmapA(nullptr, path);
    if (bitmap) {
        BITMAP info{};
        GetObjectA(bitmap, sizeof info, &info);
        width = info.bmWidth;
        height = info.bmHeight;
    } else {
        if (!LooksLikeBitmapFile(path))
            return 0;
        bitmap = static_cast<HBITMAP>(LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
        if (!bitmap)
            return 0;
        BITMAP info{};
        GetObjectA(bitmap, sizeof info, &info);
        width = info.bmWidth;
        height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    }
    if (picture->Create(width, height)) {
        BITMAPINFO header{};
        header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        header.bmiHeader.biWidth = width;
        header.bmiHeader.biHeight = height;
        header.bmiHeader.biPlanes = 1;
        header.bmiHeader.biBitCount = 32;
        HDC screen = GetDC(nullptr);
        picture->LockPixels();
        GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), picture->Pixels(), &header, DIB_RGB_COLORS);
        picture->UnlockPixels();
        ReleaseDC(nullptr, screen);
    }
    DeleteObject(bitmap);
    return 1;
}
