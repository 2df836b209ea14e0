// Database methods and the result slot: numbered commands on the object's
// database session, field values as text, and the last result.
#include <cstdlib>

#include "QuillDoc.h"
#include "support/MessageBoxes.h"
#include "support/ModuleGlobals.h"
#include "support/RegKey.h"

namespace {

constexpr const char *kNotRegistered = "连接未注册";
constexpr const char *kBadId = "错误：ID参数不正确";
constexpr const char *kChooseCaption = "Velmora";
constexpr const char *kChooseText =
    "即将选择数据库连接，请在输入数据库连接密码的时候确认勾选“允许保存密码”选项。";
constexpr DWORD kConnStringLimit = 1020;
constexpr int kCursorStatic = 3; // adOpenStatic
constexpr int kLockReadOnly = 1; // adLockReadOnly

AnsiStr ValueName(int n) {
    char name[32];
    wsprintfA(name, "conn%d", n);
    return AnsiStr(name);
}

} // namespace

HRESULT QuillDoc::SetResultText(const char *text) {
    AnsiStr chosen = text ? AnsiStr::FromUtf8(text) : m_messages.Text();
    m_strResult.Assign(chosen);
    m_messages.ClearText();
    SetResult(m_strResult, nullptr);
    return S_FALSE;
}

void QuillDoc::ClearResult() {
    m_bSlotPending = false;
    SysFreeString(m_bstrResult);
    m_bstrResult = nullptr;
}

bool QuillDoc::ReadConnString(int n, AnsiStr &out) {
    out.Reserve(AnsiStr::kResourceSize, true);
    out.Clear();
    RegKey key;
    AnsiStr name = ValueName(n);
    bool read = key.Read(HKEY_CURRENT_USER, kConnKey, name.c_str(), out.Data(), kConnStringLimit);
    key.Close();
    out.Recount();
    return read && !out.IsEmpty();
}

HRESULT QuillDoc::LoadResText(UINT id, AnsiStr &out) {
    out.Reserve(AnsiStr::kResourceSize, true);
    out.LoadRes(id, ModuleInstance());
    if (out.IsEmpty())
        return SetResultText(kBadId);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::GetDBResult(BSTR *pVal) {
    if (!pVal)
        return E_POINTER;
    const BSTR slot = ResultSlot();
    *pVal = slot ? SysAllocStringLen(slot, SysStringLen(slot)) : nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::DBCommand(int nCmd, BSTR strKey, BSTR strVal, int *nRet) {
    if (!nRet)
        return E_POINTER;
    AnsiStr key, value;
    key.FromWide(strKey);
    value.FromWide(strVal);
    const int id = atoi(key.c_str());
    m_messages.ClearText();
    *nRet = 0;
    if (!m_pDB)
        return nCmd >= 1 && nCmd <= 6 ? SetResultText(nullptr) : S_OK;
    switch (nCmd) {
    case 1:
        return DbConnect(id, value, nRet);
    case 2: {
        RegKey reg;
        AnsiStr name = ValueName(id);
        if (!reg.Write(HKEY_CURRENT_USER, kConnKey, name.c_str(), value.c_str()))
            return SetResultText(kNotRegistered);
        *nRet = 1;
        ClearResult();
        return S_OK;
    }
    case 3:
        return DbChoose(nRet);
    case 4:
        return DbLookUp(id, nRet);
    case 5:
        return DbQuery(id, value, nRet);
    case 6:
        if (m_pDB->Execute(value.c_str()) <= 0)
            return SetResultText(nullptr);
        *nRet = 1;
        ClearResult();
        return S_OK;
    case 7:
        *nRet = m_pDB->AtEnd();
        return S_OK;
    case 8:
        *nRet = m_pDB->AtStart();
        return S_OK;
    case 9:
        m_pDB->MoveNext();
        *nRet = 1;
        return S_OK;
    case 10:
        m_pDB->CloseRecordset();
        *nRet = 1;
        return S_OK;
    case 11:
        *nRet = m_pDB->Disconnect();
        return S_OK;
    case 12:
        *nRet = m_pDB->RecordCount();
        return S_OK;
    case 13:
        *nRet = m_pDB->NextRecordset();
        return S_OK;
    default:
        return S_OK;
    }
}

// Command 1: the own connection with a string, else the shared one of a
// registered ID (nothing at all when the ID is not registered).
HRESULT QuillDoc::DbConnect(int id, const AnsiStr &conn, int *nRet) {
    int opened = 0;
    if (!conn.IsEmpty()) {
        opened = m_pDB->OpenOwn(conn.c_str());
    } else {
        AnsiStr registered;
        if (!ReadConnString(id, registered))
            return S_OK;
        opened = m_pDB->OpenShared(registered.c_str(), id);
    }
    if (!opened)
        return SetResultText(nullptr);
    *nRet = 1;
    ClearResult();
    return S_OK;
}

// Command 3: tells the user to allow saving the password, then the
// data-link dialog; the chosen string becomes the last result.
HRESULT QuillDoc::DbChoose(int *nRet) {
    AnsiStr caption = AnsiStr::FromUtf8(kChooseCaption);
    AnsiStr text = AnsiStr::FromUtf8(kChooseText);
    InfoBox(caption.c_str(), "%s", text.c_str());
    char chosen[kConnStringLimit] = {};
    if (!m_pDB->ChooseDataSource(chosen, static_cast<int>(kConnStringLimit)))
        return SetResultText(nullptr);
    AnsiStr result(chosen);
    SetResult(result, nullptr);
    *nRet = 1;
    return S_OK;
}

HRESULT QuillDoc::DbLookUp(int id, int *nRet) {
    AnsiStr registered;
    if (!ReadConnString(id, registered))
        return SetResultText("");
    SetResult(registered, nullptr);
    *nRet = 1;
    return S_OK;
}

// Command 5: a query on the current connection; with a non-zero ID the
// module's string resource of that number is loaded, and nothing is run.
HRESULT QuillDoc::DbQuery(int id, const AnsiStr &sql, int *nRet) {
    if (id != 0) {
        AnsiStr text;
        return LoadResText(static_cast<UINT>(id), text);
    }
    if (m_pDB->Query(sql.c_str(), kCursorStatic, kLockReadOnly) != 1)
        return SetResultText(nullptr);
    *nRet = 1;
    ClearResult();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::DBRes(BSTR strField, BSTR *pVal) {
    if (!pVal)
        return E_POINTER;
    AnsiStr name;
    name.FromWide(strField);
    m_messages.ClearText();
    AnsiStr text;
    if (m_pDB)
        m_pDB->FieldText(name.c_str(), text);
    SetResult(text, pVal);
    return S_OK;
}
