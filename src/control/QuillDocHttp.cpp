// HTTP methods: HttpConnect checks that a server answers and prepares a
// connection to it; HttpSend posts a form to it and returns the reply.
#include <new>

#include "QuillDoc.h"

namespace {

constexpr INTERNET_PORT kDefaultPort = 80;
constexpr const char *kFormHeader = "Content-Type:application/x-www-form-urlencoded;charset=gb2312";

} // namespace

HRESULT STDMETHODCALLTYPE QuillDoc::HttpConnect(BSTR szUrl, int *nRet) {
    int connected = 0;
    if (!m_pHttp) {
        m_pHttp = new (std::nothrow) HttpClient;
        if (m_pHttp)
            m_pHttp->OpenSession("OstrelCOM");
    }
    if (m_pHttp) {
        AnsiStr url;
        url.FromWide(szUrl);
        if (InternetCheckConnectionA(url.c_str(), FLAG_ICC_FORCE_CONNECTION, 0))
            connected = m_pHttp->Connect(url.c_str(), kDefaultPort) == 0 ? 1 : 0;
        // A failed connect leaves no connection behind: the page's next
        // HttpSend must not post to a server it named before this one.
        if (!connected)
            m_pHttp->Disconnect();
    }
    if (nRet)
        *nRet = connected;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::HttpSend(BSTR sp_key, BSTR params, BSTR *pVal) {
    AnsiStr none;
    // The reply is converted from where the client read it: its body, the
    // text up to the reply's first NUL, is handed to the result slot without
    // a copy and converted once, for the caller.
    AnsiStr *reply = &none;
    if (m_pHttp) {
        try {
            AnsiStr key, values;
            key.FromWide(sp_key);
            values.FromWide(params);
            // Sent as it stands: the page passes params already form-encoded.
            AnsiStr body("sp=");
            body.Append(key);
            body.Append("&");
            body.Append(values);
            if (m_pHttp->OpenRequest("POST", INTERNET_FLAG_RELOAD) == 0) {
                m_pHttp->AddHeaders(kFormHeader, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
                // A send that finds no request (-4) has not cleared the
                // body: what it holds is an earlier reply, not this one's.
                if (m_pHttp->SendText(body.c_str()) != HttpClient::kMissing) {
                    m_pHttp->TakeBody(m_strSlot);
                    reply = &m_strSlot;
                }
            }
        } catch (...) {
            reply = &none;
        }
    }
    SetResult(*reply, pVal);
    return S_OK;
}
