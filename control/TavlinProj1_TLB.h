// The type library's declarations: the dual interface ITavlinX with the
// form's stock properties and the four connection properties, and the
// DISPIDs of ITavlinX and of the event interface ITavlinXEvents.
#pragma once
#include "control/TavlinIds.h"

typedef LONG TxActiveFormBorderStyle; // afbNone, afbSingle, afbSunken, afbRaised
typedef LONG TxPrintScale;            // poNone, poProportional, poPrintToFit
typedef LONG TxMouseButton;           // mbLeft, mbRight, mbMiddle
typedef DWORD OLE_COLOR;

enum {
    DISPID_TX_Visible = 1,
    DISPID_TX_AutoScroll = 2,
    DISPID_TX_AutoSize = 3,
    DISPID_TX_AxBorderStyle = 4,
    DISPID_TX_BorderWidth = 5,
    DISPID_TX_Caption = -518,
    DISPID_TX_Color = -501,
    DISPID_TX_Font = -512,
    DISPID_TX_KeyPreview = 6,
    DISPID_TX_PixelsPerInch = 7,
    DISPID_TX_PrintScale = 8,
    DISPID_TX_Scaled = 9,
    DISPID_TX_Active = 10,
    DISPID_TX_DropTarget = 11,
    DISPID_TX_HelpFile = 12,
    DISPID_TX_DoubleBuffered = 13,
    DISPID_TX_AlignDisabled = 14,
    DISPID_TX_VisibleDockClientCount = 15,
    DISPID_TX_Enabled = -514,
    DISPID_TX_DVRIP = 16,
    DISPID_TX_HTTP_PORT = 17,
    DISPID_TX_DVR_UK = 18,
    DISPID_TX_HTTP_PAGE = 19,
};

// ITavlinXEvents
enum {
    DISPID_TXE_OnActivate = 1,
    DISPID_TXE_OnClick = 2,
    DISPID_TXE_OnCreate = 3,
    DISPID_TXE_OnDblClick = 5,
    DISPID_TXE_OnDestroy = 6,
    DISPID_TXE_OnDeactivate = 7,
    DISPID_TXE_OnKeyPress = 11,
    DISPID_TXE_OnPaint = 16,
};

struct ITavlinX : IDispatch {
    virtual HRESULT get_Visible(VARIANT_BOOL* Value) = 0;
    virtual HRESULT set_Visible(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_AutoScroll(VARIANT_BOOL* Value) = 0;
    virtual HRESULT set_AutoScroll(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_AutoSize(VARIANT_BOOL* Value) = 0;
    virtual HRESULT set_AutoSize(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_AxBorderStyle(TxActiveFormBorderStyle* Value) = 0;
    virtual HRESULT set_AxBorderStyle(TxActiveFormBorderStyle Value) = 0;
    virtual HRESULT get_BorderWidth(LONG* Value) = 0;
    virtual HRESULT set_BorderWidth(LONG Value) = 0;
    virtual HRESULT get_Caption(BSTR* Value) = 0;
    virtual HRESULT set_Caption(BSTR Value) = 0;
    virtual HRESULT get_Color(OLE_COLOR* Value) = 0;
    virtual HRESULT set_Color(OLE_COLOR Value) = 0;
    virtual HRESULT get_Font(IDispatch** Value) = 0;
    virtual HRESULT set_Font(IDispatch* Value) = 0;
    virtual HRESULT get_KeyPreview(VARIANT_BOOL* Value) = 0;
    virtual HRESULT set_KeyPreview(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_PixelsPerInch(LONG* Value) = 0;
    virtual HRESULT set_PixelsPerInch(LONG Value) = 0;
    virtual HRESULT get_PrintScale(TxPrintScale* Value) = 0;
    virtual HRESULT set_PrintScale(TxPrintScale Value) = 0;
    virtual HRESULT get_Scaled(VARIANT_BOOL* Value) = 0;
    virtual HRESULT set_Scaled(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_Active(VARIANT_BOOL* Value) = 0;
    virtual HRESULT get_DropTarget(VARIANT_BOOL* Value) = 0;
    virtual HRESULT set_DropTarget(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_HelpFile(BSTR* Value) = 0;
    virtual HRESULT set_HelpFile(BSTR Value) = 0;
    virtual HRESULT get_DoubleBuffered(VARIANT_BOOL* Value) = 0;
    virtual HRESULT set_DoubleBuffered(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_AlignDisabled(VARIANT_BOOL* Value) = 0;
    virtual HRESULT get_VisibleDockClientCount(LONG* Value) = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* Value) = 0;
    virtual HRESULT set_Enabled(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_DVRIP(VARIANT* Value) = 0;
    virtual HRESULT set_DVRIP(VARIANT Value) = 0;
    virtual HRESULT get_HTTP_PORT(VARIANT* Value) = 0;
    virtual HRESULT set_HTTP_PORT(VARIANT Value) = 0;
    virtual HRESULT get_DVR_UK(VARIANT* Value) = 0;
    virtual HRESULT set_DVR_UK(VARIANT Value) = 0;
    virtual HRESULT get_HTTP_PAGE(VARIANT* Value) = 0;
    virtual HRESULT set_HTTP_PAGE(VARIANT Value) = 0;
};
