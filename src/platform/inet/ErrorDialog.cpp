// InternetErrorDlg: the platform's dialogs for the errors of a request,
// through the UI host. With FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS an accepted
// certificate or redirect warning changes the request's security flags, so
// sending it again goes through.
#include "../user/UiHost.h"
#include "HttpRequest.h"

using namespace platform::inet;

namespace {

struct Dialog {
    DWORD error;
    const char *caption;
    const char *text; // %s: the server
    UINT type;
    DWORD acceptFlag; // security flag an accepting answer adds
};

constexpr Dialog kDialogs[] = {
    {ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, "Client Authentication",
     "The server %s asks for a client certificate, and none is installed for this user. "
     "Continue without one?",
     MB_OKCANCEL | MB_ICONWARNING, 0},
    {ERROR_INTERNET_INVALID_CA, "Security Alert",
     "The certificate of %s was issued by a company you have not chosen to trust. "
     "Do you want to proceed?",
     MB_YESNO | MB_ICONWARNING, SECURITY_FLAG_IGNORE_UNKNOWN_CA},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, "Security Alert",
     "The certificate of %s has expired or is not yet valid. Do you want to proceed?",
     MB_YESNO | MB_ICONWARNING, SECURITY_FLAG_IGNORE_CERT_DATE_INVALID},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, "Security Alert",
     "The name on the certificate does not match the server %s. Do you want to proceed?",
     MB_YESNO | MB_ICONWARNING, SECURITY_FLAG_IGNORE_CERT_CN_INVALID},
    {ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR, "Security Alert",
     "You are about to be redirected from %s to a secure connection. Continue?",
     MB_OKCANCEL | MB_ICONINFORMATION, SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS},
    {ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, "Security Alert",
     "You are about to be redirected from %s to a connection that is not secure. Continue?",
     MB_OKCANCEL | MB_ICONWARNING, SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP},
};

} // namespace

extern "C" DWORD WINAPI InternetErrorDlg(HWND hWnd, HINTERNET hRequest, DWORD dwError,
                                         DWORD dwFlags, LPVOID *) {
    std::shared_ptr<HttpRequest> request;
    if (hRequest) {
        request =
            LookupInternetHandleAs<HttpRequest>(hRequest, ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        if (!request)
            return ERROR_INVALID_HANDLE;
    }
    const Dialog *dialog = nullptr;
    for (const Dialog &d : kDialogs) {
        if (d.error == dwError)
            dialog = &d;
    }
    if (!dialog)
        return ERROR_SUCCESS; // nothing the platform asks the user about
    if (dwFlags & FLAGS_ERROR_UI_FLAGS_NO_UI)
        return ERROR_CANCELLED;
    const std::string server = request ? request->ServerKey() : "the server";
    std::string text(dialog->text);
    text.replace(text.find("%s"), 2, server);
    const int answer =
        platform::UiHost::Current().MessageBox(hWnd, text, dialog->caption, dialog->type);
    if (answer != IDOK && answer != IDYES)
        return ERROR_CANCELLED;
    if (request && dwError == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED)
        request->Session().SetWantsClientCertificate(request->ServerKey(), false);
    if (request && dialog->acceptFlag && (dwFlags & FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS))
        request->SetSecurityFlags(request->SecurityFlags() | dialog->acceptFlag);
    return ERROR_SUCCESS;
}
