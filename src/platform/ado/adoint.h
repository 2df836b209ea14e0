// The data access objects: connections, record sets, their fields and the
// provider's errors. The interfaces carry the members this platform
// implements, in the platform's order and with its types; the rest of the
// platform's members are left out.
#pragma once

#include "../com/oaidl.h"
#include "adoenums.h"

using ADO_LONGPTR = LONG_PTR;

inline constexpr CLSID CLSID_CADOConnection = {
    0x00000514, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr CLSID CLSID_CADORecordset = {
    0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr IID IID__Connection = {
    0x00000550, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr IID IID__Recordset = {
    0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr IID IID_Fields = {
    0x00000564, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr IID IID_Field = {
    0x00000569, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr IID IID_Errors = {
    0x00000501, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr IID IID_Error = {
    0x00000500, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

struct _Recordset;
struct Fields;
struct Field;
struct Errors;
struct Error;

struct Error : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Number(LONG *pl) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Source(BSTR *pbstr) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Description(BSTR *pbstr) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HelpFile(BSTR *pbstr) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HelpContext(LONG *pl) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SQLState(BSTR *pbstr) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NativeError(LONG *pl) = 0;
};

struct Errors : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG *c) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT Index, Error **ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
};

struct Field : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR *pbstr) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Type(DataTypeEnum *pDataType) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(VARIANT *pvar) = 0;
};

struct Fields : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG *c) = 0;
    // Index: the field's name (VT_BSTR) or its position from 0 (a number).
    virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT Index, Field **ppvObject) = 0;
};

struct _Connection : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionString(BSTR *pbstr) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ConnectionString(BSTR bstr) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CommandTimeout(LONG *plTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_CommandTimeout(LONG lTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionTimeout(LONG *plTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(LONG lTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Version(BSTR *pbstr) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    virtual HRESULT STDMETHODCALLTYPE Execute(BSTR CommandText, VARIANT *RecordsAffected,
                                              LONG Options, _Recordset **ppiRset) = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR ConnectionString, BSTR UserID, BSTR Password,
                                           LONG Options) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Errors(Errors **ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_State(LONG *plObjState) = 0;
};

struct _Recordset : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_BOF(VARIANT_BOOL *pb) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_EOF(VARIANT_BOOL *pb) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Fields(Fields **ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RecordCount(ADO_LONGPTR *pl) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveNext() = 0;
    virtual HRESULT STDMETHODCALLTYPE MovePrevious() = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveFirst() = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveLast() = 0;
    // ActiveConnection: a connection (VT_DISPATCH) or a connection string.
    virtual HRESULT STDMETHODCALLTYPE Open(VARIANT Source, VARIANT ActiveConnection,
                                           CursorTypeEnum CursorType, LockTypeEnum LockType,
                                           LONG Options) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_State(LONG *plObjState) = 0;
    virtual HRESULT STDMETHODCALLTYPE NextRecordset(VARIANT *RecordsAffected,
                                                    _Recordset **ppiRs) = 0;
};
