// InternetGetCookieA and InternetSetCookieA: the application's own view of
// the cookie store (CookieStore.h), in the calling thread's partition. As
// on the platform, HttpOnly cookies stay out of its reach: it neither reads
// them nor sets or replaces one.
#include <cstring>

#include "../kernel/winbase.h"
#include "CookieStore.h"
#include "wininet.h"

using namespace platform::inet;

namespace {

bool AddressOf(LPCSTR url, CookieUrl &address) {
    if (!url || !*url) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!CookieUrlOf(url, address)) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return false;
    }
    return true;
}

} // namespace

extern "C" BOOL WINAPI InternetGetCookieA(LPCSTR lpszUrl, LPCSTR, LPSTR lpszCookieData,
                                          LPDWORD lpdwSize) {
    CookieUrl address;
    if (!lpdwSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!AddressOf(lpszUrl, address))
        return FALSE;
    const std::string cookies =
        CookieStore::Instance().HeaderFor(CookiePartitionOfThisThread(), address, false);
    if (cookies.empty()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(cookies.size() + 1);
    if (!lpszCookieData) {
        *lpdwSize = needed;
        return TRUE;
    }
    if (*lpdwSize < needed) {
        *lpdwSize = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(lpszCookieData, cookies.c_str(), needed);
    *lpdwSize = needed;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL WINAPI InternetSetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName,
                                          LPCSTR lpszCookieData) {
    CookieUrl address;
    if (!AddressOf(lpszUrl, address))
        return FALSE;
    if (!lpszCookieData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // With a name the data is the value (and its attributes); without one
    // it is the whole "name=value; attributes".
    const std::string cookie = lpszCookieName && *lpszCookieName
                                   ? std::string(lpszCookieName) + "=" + lpszCookieData
                                   : std::string(lpszCookieData);
    if (!CookieStore::Instance().Take(CookiePartitionOfThisThread(), address, cookie, false)) {
        SetLastError(ERROR_INVALID_OPERATION);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
