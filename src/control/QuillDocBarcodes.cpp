// Barcodes: PrintBarCode places a symbol on the page, GetBarCodeImg writes
// it to a JPEG file and returns the file's address.
#include "QuillDoc.h"
#include "barcode/JpegWriter.h"
#include "barcode/ModuleDots.h"

namespace {
constexpr int kJpegQuality = 80;
}

bool QuillDoc::LoadBarcode(int nDimension, const AnsiStr &code, int &width, int &height,
                           int &moduleWidth) {
    moduleWidth = 1;
    if (nDimension == 2) {
        const DWORD *pixels = m_pdf417.EncodeText(code.c_str());
        if (!pixels || !m_pPicture->LoadFromPixels(pixels, m_pdf417.Width(), m_pdf417.Height()))
            return false;
        width = m_pdf417.Width();
        height = m_pdf417.Height();
        return true;
    }
    BarcodeBitmap *renderer = nDimension == 1   ? static_cast<BarcodeBitmap *>(&m_barcode1)
                              : nDimension == 3 ? static_cast<BarcodeBitmap *>(&m_barcode3)
                                                : nullptr;
    if (!renderer)
        return false;
    HBITMAP bitmap = renderer->Render(code.c_str());
    if (!bitmap || !m_pPicture->LoadFromBitmap(bitmap) || !m_pPicture->Pixels())
        return false;
    width = renderer->Width();
    height = renderer->Height();
    moduleWidth = renderer->ModuleWidth();
    return true;
}

// Note: the page's size for the symbol is kept where the output has no
// dots of its own (the PDF printer's vector files). On a printer of known
// resolution each module becomes whole dots instead, from the width asked:
// the symbol's left edge and its top stay where the page put them (whole
// dots already), its height is the page's, and a PDF417 symbol's rows are
// whole dots high too.
void QuillDoc::FitToDots(int nDimension, int width, int height, int moduleWidth, int &destWidth,
                         int &destHeight) const {
    const int modules = width / (moduleWidth > 0 ? moduleWidth : 1);
    destWidth = DotsPerModule(destWidth, modules) * modules;
    if (nDimension == 2)
        destHeight = DotsPerRow(destHeight, height) * height;
}

HRESULT STDMETHODCALLTYPE QuillDoc::PrintBarCode(int nDimension, BSTR bsCode, int x, int y,
                                                 int nOffX, int nOffy, int width, int height) {
    if (!EnsurePicture())
        return S_FALSE;
    AnsiStr code;
    code.FromWide(bsCode);
    int w = 0, h = 0, module = 1;
    if (!LoadBarcode(nDimension, code, w, h, module))
        return S_FALSE;
    const double s = m_dScale;
    const int left = static_cast<int>(s * (x + nOffX));
    const int top = static_cast<int>(s * (y + nOffy));
    int destWidth, destHeight;
    if (width != 0 && height != 0) {
        destWidth = static_cast<int>(s * width);
        destHeight = static_cast<int>(s * height);
    } else if (width != 0) {
        destWidth = static_cast<int>(s * width);
        destHeight = static_cast<int>(width * s * h / w);
    } else if (height != 0) {
        destWidth = static_cast<int>(height * s * w / h);
        destHeight = static_cast<int>(s * height);
    } else {
        destWidth = static_cast<int>(s * w);
        destHeight = static_cast<int>(s * h);
    }
    // A size that draws nothing (zero or negative) stays so.
    if (destWidth > 0 && destHeight > 0 && m_hDC &&
        GetDeviceCaps(m_hDC, TECHNOLOGY) == DT_RASPRINTER)
        FitToDots(nDimension, w, h, module, destWidth, destHeight);
    m_pPicture->SetDestRect(left, top, destWidth, destHeight);
    m_pPicture->Draw(m_hDC, TRUE, DDF_HALFTONE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::GetBarCodeImg(int nDimension, BSTR bsCode, BSTR *bsUrl) {
    AnsiStr none;
    if (!EnsurePicture()) {
        SetResult(none, bsUrl);
        return S_FALSE;
    }
    AnsiStr code;
    code.FromWide(bsCode);
    int w = 0, h = 0, module = 1;
    AnsiStr folder(AnsiStr::kTempFolder);
    // Without a temporary directory no path is built from an empty one.
    if (!LoadBarcode(nDimension, code, w, h, module) || folder.IsEmpty()) {
        if (bsUrl)
            *bsUrl = nullptr;
        return S_FALSE;
    }
    AnsiStr path(folder);
    path.Append("/tmpbarcode");
    path.AppendInt(nDimension);
    path.Append(".jpg");
    // Note: an image that could not be written fails the method, as a
    // symbol that cannot be made does: an address is returned only for a
    // file that holds the symbol (a previous file of the name stays).
    if (!SaveBarcodeJpeg(path.c_str(), m_pPicture, kJpegQuality)) {
        SetResult(none, bsUrl);
        return S_FALSE;
    }
    AnsiStr address;
    AnsiStr::Concat(address, "file://", path);
    SetResult(address, bsUrl);
    return S_OK;
}
