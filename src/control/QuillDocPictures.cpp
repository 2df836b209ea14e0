// Pictures: PrintLogo, from a file, a file address or a module's resource.
#include "QuillDoc.h"
#include "images/DecoderRegistry.h"
#include "images/GifDecoder.h"
#include "images/JpegDecoder.h"
#include "images/PngDecoder.h"

bool QuillDoc::EnsurePicture() {
    if (m_pPicture)
        return true;
    RegisterDecoder("gif", GifDecoder);
    RegisterDecoder("png", PngDecoder);
    RegisterDecoder("jpg", JpegDecoder);
    RegisterDecoder("jpeg", JpegDecoder);
    m_pPicture = new (std::nothrow) Picture;
    return m_pPicture != nullptr;
}

namespace {

bool StartsWith(const AnsiStr &text, const char *prefix) { return text.Find(prefix, 0, 1) == 0; }

// Whether a path begins with a drive prefix such as "C:".
bool HasDrive(const AnsiStr &path) {
    const char *p = path.c_str();
    return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':';
}

// Loads "res://module/[type/]name": the last ".DLL\" (or ".SO\", the
// platform's own module suffix) ends the module's path.
BOOL LoadResourceAddress(Picture *picture, const AnsiStr &address) {
    AnsiStr rest;
    address.Mid(rest, 6, 0);
    rest.ReplaceChar('/', '\\', true);
    rest.ToUpper();
    int marker = rest.FindLast(".DLL\\", 1);
    int markerLength = 4;
    if (marker < 0) {
        marker = rest.FindLast(".SO\\", 1);
        markerLength = 3;
    }
    if (marker <= 0)
        return FALSE;
    AnsiStr module, tail, type("HTML"), name;
    rest.Mid(module, 0, marker + markerLength);
    rest.Mid(tail, marker + markerLength + 1, 0);
    const int slash = tail.Find("\\", 0, 1);
    if (slash > 0) {
        tail.Mid(type, 0, slash);
        tail.Mid(name, slash + 1, 0);
    } else {
        name.Assign(tail);
    }
    HMODULE library = LoadLibraryA(module.c_str()); // stays loaded for the process
    return library ? picture->LoadFromResource(name.c_str(), type.c_str(), library) : FALSE;
}

} // namespace

HRESULT STDMETHODCALLTYPE QuillDoc::PrintLogo(BSTR bsPicUrl, BSTR bsPicFile, int x, int y, int nOffX,
                                              int nOffy, int width, int height) {
    if (!EnsurePicture())
        return S_FALSE;
    AnsiStr address;
    address.FromWide(bsPicUrl);
    AnsiStr path;
    BOOL loaded = FALSE;
    if (StartsWith(address, "http://")) {
        // Downloading pictures comes with the HTTP client.
        return S_FALSE;
    } else if (address.IsEmpty()) {
        path.FromWide(bsPicFile);
    } else if (StartsWith(address, "file:///")) {
        address.Mid(path, 8, 0);
        path.ReplaceChar('/', '\\', true);
        // An address of a POSIX path keeps the root it named.
        if (!HasDrive(path)) {
            AnsiStr rooted;
            AnsiStr::Concat(rooted, "\\", path);
            path.Assign(rooted);
        }
    } else if (StartsWith(address, "res://")) {
        loaded = LoadResourceAddress(m_pPicture, address);
    } else {
        path.Assign(address);
    }
    if (!path.IsEmpty())
        loaded = m_pPicture->LoadFromFile(path.c_str());
    if (!loaded)
        return S_FALSE;
    m_pPicture->SetDestRect(ToDevice(x, nOffX), ToDevice(y, nOffy), static_cast<int>(width * m_dScale),
                            static_cast<int>(height * m_dScale));
    m_pPicture->Draw(m_hDC, TRUE, DDF_HALFTONE);
    return S_OK;
}
