// AdoRecordset: the Recordset object. Whatever cursor is asked for, the
// rows are read into a client-side snapshot when it opens, so RecordCount
// is exact and the connection is free again at once; the statement stays
// with the record set for the command's further results (NextRecordset).
#pragma once

#include <memory>

#include "AdoConnection.h"
#include "AdoFields.h"

namespace platform::ado {

class AdoRecordset final : public AdoObject<_Recordset> {
public:
    AdoRecordset();
    ~AdoRecordset() override;

    HRESULT STDMETHODCALLTYPE get_BOF(VARIANT_BOOL *pb) override;
    HRESULT STDMETHODCALLTYPE get_EOF(VARIANT_BOOL *pb) override;
    HRESULT STDMETHODCALLTYPE get_Fields(Fields **ppvObject) override;
    HRESULT STDMETHODCALLTYPE get_RecordCount(ADO_LONGPTR *pl) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE MoveNext() override;
    HRESULT STDMETHODCALLTYPE MovePrevious() override;
    HRESULT STDMETHODCALLTYPE MoveFirst() override;
    HRESULT STDMETHODCALLTYPE MoveLast() override;
    HRESULT STDMETHODCALLTYPE Open(VARIANT Source, VARIANT ActiveConnection,
                                   CursorTypeEnum CursorType, LockTypeEnum LockType,
                                   LONG Options) override;
    HRESULT STDMETHODCALLTYPE get_State(LONG *plObjState) override;
    HRESULT STDMETHODCALLTYPE NextRecordset(VARIANT *RecordsAffected, _Recordset **ppiRs) override;

    // Takes a command's statement, standing on a result, and the reference
    // to the connection it ran on; reads the rows when the result has some
    // (the record set is open), else stays closed.
    HRESULT Adopt(AdoConnection *connection, std::unique_ptr<ProviderStatement> statement);

protected:
    HRESULT DefaultValue(VARIANT *out) override; // the Fields collection

private:
    HRESULT Raise(ErrorValueEnum error) const;
    // The connection ActiveConnection names (an object, or a connection
    // string opened for this record set), with a reference.
    HRESULT Resolve(const VARIANT &active, AdoConnection **connection);
    void Drop();

    AdoConnection *m_connection = nullptr;
    std::unique_ptr<ProviderStatement> m_statement;
    std::shared_ptr<CursorState> m_cursor;
    AdoFields *m_fields = nullptr;
};

} // namespace platform::ado
