// QuillDoc: the print object a page's script creates and drives through its
// dual interface IQuillDoc. It also answers IObjectSafety, declaring itself
// safe for untrusted callers and data.
#pragma once

#include "support/GdiFont.h"
#include "barcode/Code128Bitmap.h"
#include "barcode/Ean13Bitmap.h"
#include "barcode/Pdf417Image.h"
#include "db/DbSession.h"
#include "PrinterSetup.h"
#include "images/Picture.h"
#include "net/HttpClient.h"
#include "platform/win32.h"
#include "quillbay_i.h"
#include "support/AnsiStr.h"
#include "support/DataGuard.h"
#include "support/MessageCollector.h"

class QuillDoc final : public IQuillDoc, public IObjectSafety {
public:
    // Creates an object; with an outer unknown it is aggregated and only its
    // inner unknown may be asked for.
    static HRESULT Create(IUnknown *pUnkOuter, REFIID riid, void **ppv);

    // IUnknown (delegating to the controlling unknown).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, from the registered type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo **ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames,
                                            LCID lcid, DISPID *rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS *pDispParams, VARIANT *pVarResult,
                                     EXCEPINFO *pExcepInfo, UINT *puArgErr) override;

    // IObjectSafety.
    HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid, DWORD *pdwSupportedOptions,
                                                        DWORD *pdwEnabledOptions) override;
    HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                                        DWORD dwEnabledOptions) override;

    // IQuillDoc: printing (QuillDocPrinting.cpp).
    HRESULT STDMETHODCALLTYPE SetPaperSize(int width, int height) override;
    HRESULT STDMETHODCALLTYPE SetPaperSize1(double width, double height) override;
    HRESULT STDMETHODCALLTYPE SetPrinter(BSTR szFlag, int *nRet) override;
    HRESULT STDMETHODCALLTYPE PrintText(int x, int y, BSTR szText, int nOffX, int nOffy,
                                        int nFontSize) override;
    HRESULT STDMETHODCALLTYPE SetFont(BSTR szFontName, int nFlag, int *bRet) override;
    HRESULT STDMETHODCALLTYPE DrawLine(int xStart, int yStart, int xEnd, int yEnd, int nOffX,
                                       int nOffy, int width, int nColor) override;
    // Pictures (QuillDocPictures.cpp).
    HRESULT STDMETHODCALLTYPE PrintLogo(BSTR bsPicUrl, BSTR bsPicFile, int x, int y, int nOffX,
                                        int nOffy, int width, int height) override;
    // Barcodes (QuillDocBarcodes.cpp).
    HRESULT STDMETHODCALLTYPE PrintBarCode(int nDimension, BSTR bsCode, int x, int y, int nOffX,
                                           int nOffy, int width, int height) override;
    HRESULT STDMETHODCALLTYPE GetBarCodeImg(int nDimension, BSTR bsCode, BSTR *bsUrl) override;
    // Browser page setup (QuillDocPageSetup.cpp).
    HRESULT STDMETHODCALLTYPE PageSetup(int nPrintHeadFoot) override;
    // HTTP (QuillDocHttp.cpp).
    HRESULT STDMETHODCALLTYPE HttpConnect(BSTR szUrl, int *nRet) override;
    HRESULT STDMETHODCALLTYPE HttpSend(BSTR sp_key, BSTR params, BSTR *pVal) override;
    // Database (QuillDocDatabase.cpp).
    HRESULT STDMETHODCALLTYPE DBCommand(int nCmd, BSTR strKey, BSTR strVal, int *nRet) override;
    HRESULT STDMETHODCALLTYPE DBRes(BSTR strField, BSTR *pVal) override;
    HRESULT STDMETHODCALLTYPE GetDBResult(BSTR *pVal) override;
    // String and code utilities (QuillDocUtilities.cpp).
    HRESULT STDMETHODCALLTYPE BeginCharOf(BSTR bsIn, int nLength, BSTR bsPrefix,
                                          BSTR *pVal) override;
    HRESULT STDMETHODCALLTYPE EncryptChar(BSTR bsIn, BSTR *pVal) override;
    HRESULT STDMETHODCALLTYPE GetCode(int nMin, int nMax, int *nRet) override;

    // The options IObjectSafety has enabled (for tests and the host).
    DWORD SafetyOptions() const { return m_dwSafety; }

    // The page-setup key and the name of the guard all objects share.
    static constexpr const char *kPageSetupKey =
        "Software\\Microsoft\\Internet Explorer\\PageSetup";
    static constexpr const char *kGuardName = "AE9D5D26-B784-4C47-8830-86B5D0CA1F7C";
    // Where the registered database connection strings are kept.
    static constexpr const char *kConnKey = "Software\\ostrel\\tarnbox";

    // For tests of the printer session.
    HDC JobDC() const { return m_hDC; }
    double Scale() const { return m_dScale; }
    HPEN Pen() const { return m_hPen; }
    const GdiFont &Font() const { return m_font; }
    const Picture *PictureObject() const { return m_pPicture; }
    const HttpClient *HttpObject() const { return m_pHttp; }
    const HttpClient *ImageHttpObject() const { return m_pImageHttp; }

private:
    // The non-delegating unknown of an aggregated object.
    class InnerUnknown : public IUnknown {
    public:
        explicit InnerUnknown(QuillDoc *owner) : m_owner(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        QuillDoc *m_owner;
    };

    explicit QuillDoc(IUnknown *pUnkOuter);
    ~QuillDoc();
    QuillDoc(const QuillDoc &) = delete;
    QuillDoc &operator=(const QuillDoc &) = delete;

    void ReadPageSetup();
    // Makes the picture (registering the decoders first) on first need.
    bool EnsurePicture();
    // PrintLogo's web addresses: downloads the picture with m_pImageHttp
    // into a temporary file under m_pGuard and loads it; warns on a failed
    // download.
    BOOL LoadDownloadedPicture(const AnsiStr &address);
    // Renders the symbol for nDimension into the picture; false when there
    // is none (unknown symbology, refused text, failed load). Gives the
    // symbol's natural size and its pixels per module across.
    bool LoadBarcode(int nDimension, const AnsiStr &code, int &width, int &height,
                     int &moduleWidth);
    // On a printer of known resolution: the symbol's size made whole dots
    // per module (and per row for PDF417), from the size the page asked.
    void FitToDots(int nDimension, int width, int height, int moduleWidth, int &destWidth,
                   int &destHeight) const;
    // Builds m_font for the open job at m_nFontSize points of the printer's
    // resolution and selects it, remembering what the first selection
    // displaced.
    void BuildJobFont();
    // Millimetres to device units: a position with its offset, and a size.
    int ToDevice(int position, int offset) const {
        return static_cast<int>((position + offset) * m_dScale);
    }
    // Stores text in the result slot and, when out is given, hands the caller
    // a separate BSTR with the same text.
    void SetResult(AnsiStr &text, BSTR *out);
    // The result slot's text as a BSTR (null while it is empty).
    BSTR ResultSlot();
    // Database helpers and commands (QuillDocDatabase.cpp).
    HRESULT SetResultText(const char *text);
    bool ReadConnString(int n, AnsiStr &out);
    HRESULT LoadResText(UINT id, AnsiStr &out);
    void ClearResult();
    HRESULT DbConnect(int id, const AnsiStr &conn, int *nRet);
    HRESULT DbChoose(int *nRet);
    HRESULT DbLookUp(int id, int *nRet);
    HRESULT DbQuery(int id, const AnsiStr &sql, int *nRet);

    // State, in declaration order.
    DWORD m_dwSafety = 0;
    LONG m_cRef = 0;
    HDC m_hDC = nullptr;
    double m_dScale = 0.0;
    int m_nFontSize = 0;
    HttpClient *m_pImageHttp = nullptr; // picture downloads (PrintLogo)
    HttpClient *m_pHttp = nullptr;      // HttpConnect and HttpSend
    Picture *m_pPicture = nullptr;
    DataGuard *m_pGuard = nullptr;
    PrinterSetup m_printer;
    GdiFont m_font;
    HGDIOBJ m_hOldFont = nullptr;
    HPEN m_hPen = nullptr;
    int m_nPenWidth = 1;
    COLORREF m_nPenColor = 0;
    int m_nFontStyle = 0;
    BSTR m_bstrResult = nullptr;
    // The slot's text while m_bstrResult is not yet made from it
    // (m_bSlotPending): see SetResult.
    AnsiStr m_strSlot;
    bool m_bSlotPending = false;
    Ean13Bitmap m_barcode1;
    Code128Bitmap m_barcode3;
    Pdf417Image m_pdf417;
    DbSession *m_pDB = nullptr;
    MessageCollector m_messages;
    AnsiStr m_strHeader;
    AnsiStr m_strFooter;
    AnsiStr m_strResult;
    AnsiStr m_strFontName;

    InnerUnknown m_inner;
    IUnknown *m_pControlling; // the outer unknown, or m_inner
};
