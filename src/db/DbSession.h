// DbSession: the object's database access through the data access objects:
// its own connection and the shared ones by ID, the current record set, and
// every progress step and error turned into text for the message sink. No
// error leaves the session; each becomes recorded text and a result value.
#pragma once

#include "ComError.h"
#include "DbConnection.h"
#include "DbSelection.h"
#include "support/DiagLog.h"

class DbSession {
public:
    DbSession();
    DbSession(const DbSession &) = delete;
    DbSession &operator=(const DbSession &) = delete;
    ~DbSession();

    // The sink receives every recorded text through Write.
    void SetSink(DiagLog *pSink) { m_pSink = pSink; }

    // 1 opened (or already open), 0 failed.
    int OpenOwn(const char *szConn);
    int OpenShared(const char *szConn, int nId);
    // The data-link dialog; the chosen connection string goes into buffer
    // (at most nLength - 1 bytes). 1 chosen, 0 cancelled or failed.
    int ChooseDataSource(char *buffer, int nLength);
    // 1 (a record set on its first record), -1 no record, -2 no record set,
    // -4 link lost, -5 fatal, 0 failed.
    int Query(const char *szSql, int nCursorType, int nLockType);
    // Records affected (greater than 0), -3 none, -4 link lost, 0 failed.
    int Execute(const char *szSql);
    // -1 / 0 for EOF and BOF; 1 without a record set.
    int AtEnd();
    int AtStart();
    void MoveNext();
    void CloseRecordset();
    // 1 when a connection was open, else 0.
    int Disconnect();
    int RecordCount();
    // 1 when there is a next record set, else 0.
    int NextRecordset();
    // The named field of the current record as text; empty on failure.
    void FieldText(const char *szName, AnsiStr &out);

    // The connection object commands act on (not AddRef'd), or null.
    _Connection *CurrentConnection() const { return m_pCurrent ? m_pCurrent->m_pConn : nullptr; }

private:
    // Records a text written in UTF-8 (the system's messages), or an ANSI
    // text as it stands.
    void RecordUtf8(const char *utf8);
    void Record(const AnsiStr &text);
    void Report(HRESULT hr, IUnknown *object, REFIID iid);
    void RecordDescription(HRESULT hr, IUnknown *object, REFIID iid);
    DbConnection *OwnEntry();
    int OpenEntry(DbConnection *entry, const char *szConn);
    HRESULT ConnectEntry(DbConnection *entry, const char *szConn);
    void CloseEntry(DbConnection *entry);
    void MarkLost(DbConnection *entry);
    bool EnsureRecordset();
    int QueryFailed(HRESULT hr, IUnknown *object, REFIID iid);
    int CheckErrors(DbConnection *entry);
    bool RecordErrorItem(Errors *errors, LONG index, bool &lost);
    bool CurrentOpen() const;
    // EOF or BOF as the commands answer them: -1 / 0, or 1 without a record
    // set.
    int AtEdge(HRESULT (STDMETHODCALLTYPE _Recordset::*edge)(VARIANT_BOOL *));

    HRESULT m_hrCom;
    BOOL m_bRsOpen = FALSE;
    DbConnection *m_pCurrent = nullptr;
    DbConnection *m_pInterConn = nullptr;
    DbSelection *m_sel = nullptr;
    DiagLog *m_pSink = nullptr;
    void *m_pSink2 = nullptr;
    VARIANT m_fieldValue;
    BSTR m_fieldText = nullptr;
};
