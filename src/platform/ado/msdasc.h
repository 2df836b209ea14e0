// The data links component: the dialog in which the user builds a
// connection.
#pragma once

#include "../com/oaidl.h"

using COMPATIBLE_LONG = LONG_PTR;

inline constexpr CLSID CLSID_DataLinks = {
    0x2206CDB2, 0x19C1, 0x11D1, {0x89, 0xE0, 0x00, 0xC0, 0x4F, 0xD7, 0xA8, 0x29}};
inline constexpr IID IID_IDataSourceLocator = {
    0x2206CCB2, 0x19C1, 0x11D1, {0x89, 0xE0, 0x00, 0xC0, 0x4F, 0xD7, 0xA8, 0x29}};

struct IDataSourceLocator : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_hWnd(COMPATIBLE_LONG *phParentWindow) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_hWnd(COMPATIBLE_LONG hParentWindow) = 0;
    // Shows the dialog; gives a new, unopened connection with the chosen
    // connection string (S_OK), or none when the user cancels (S_FALSE).
    virtual HRESULT STDMETHODCALLTYPE PromptNew(IDispatch **ppADOConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE PromptEdit(IDispatch **ppADOConnection,
                                                 VARIANT_BOOL *pbSuccess) = 0;
};
