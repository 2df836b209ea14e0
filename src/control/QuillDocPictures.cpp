// Pictures: PrintLogo, from a file, a file address or a module's resource.
#include "QuillDoc.h"
#include "images/DecoderRegistry.h"
#include "images/GifDecoder.h"
#include "images/JpegDecoder.h"
#include "images/PngDecoder.h"
#include "support/DiskFile.h"
#include "support/MessageBoxes.h"

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

bool StartsWith(const AnsiStr &text, const char *prefix) {
    return text.Find(prefix, 0, 1) == 0;
}

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
    // The module's file is read for its resources only: an address a page
    // gives never loads code. The picture is decoded into pixels of its own,
    // so the copy of the resources is let go at once.
    HMODULE library = LoadLibraryExA(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!library)
        return FALSE;
    const BOOL loaded = picture->LoadFromResource(name.c_str(), type.c_str(), library);
    FreeLibrary(library);
    return loaded;
}

} // namespace

BOOL QuillDoc::LoadDownloadedPicture(const AnsiStr &address) {
    if (!m_pImageHttp) {
        m_pImageHttp = new (std::nothrow) HttpClient;
        if (!m_pImageHttp)
            return FALSE;
    }
    const int n = m_pImageHttp->Download(address.c_str(), 80,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE);
    if (n <= 0) {
        static const AnsiStr format = AnsiStr::FromUtf8("不能下载图象%s，错误代码：%d");
        WarnBox(format.c_str(), address.c_str(), -n);
        return FALSE;
    }
    // The temporary file: the first three characters of the address's last
    // part, in the temporary directory.
    AnsiStr name;
    address.Mid(name, address.FindLast("/", 1) + 1, 0);
    if (name.Length() > 3) {
        AnsiStr cut;
        name.Mid(cut, 0, 3);
        name.Assign(cut);
    }
    AnsiStr folder(AnsiStr::kTempFolder);
    AnsiStr path(folder);
    path.Append("/");
    path.Append(name);
    DiskFile file;
    // Written, decoded and deleted under the guard every control shares, so
    // two of them never use the same file at once.
    m_pGuard->Lock();
    // Note: the file is made new, never through a link and never over what
    // is at the name: a file or link already there stays as it was, and the
    // picture goes under a name of this process's own. Only a file made here
    // is read back and deleted. An address ending in a slash names no file,
    // and without a temporary folder none is made.
    BOOL loaded = FALSE;
    if (!name.IsEmpty() && !folder.IsEmpty() &&
        file.CreateUnique(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        DWORD written = 0;
        file.Write(m_pImageHttp->Body().Data(), static_cast<DWORD>(n), TRUE, &written);
        file.Close();
        loaded = m_pPicture->LoadFromFile(file.GetPath());
        file.Delete();
    }
    m_pGuard->Unlock();
    return loaded;
}

HRESULT STDMETHODCALLTYPE QuillDoc::PrintLogo(BSTR bsPicUrl, BSTR bsPicFile, int x, int y,
                                              int nOffX, int nOffy, int width, int height) {
    if (!EnsurePicture())
        return S_FALSE;
    AnsiStr address;
    address.FromWide(bsPicUrl);
    AnsiStr path;
    BOOL loaded = FALSE;
    // Note: https:// addresses are downloaded too (taken as file paths they
    // could only fail); HTTP:// in capitals stays a file path.
    if (StartsWith(address, "http://") || StartsWith(address, "https://")) {
        loaded = LoadDownloadedPicture(address);
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
    m_pPicture->SetDestRect(ToDevice(x, nOffX), ToDevice(y, nOffy),
                            static_cast<int>(width * m_dScale),
                            static_cast<int>(height * m_dScale));
    m_pPicture->Draw(m_hDC, TRUE, DDF_HALFTONE);
    return S_OK;
}
