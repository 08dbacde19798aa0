// What the link calls outside its own layer, and nothing more: the few
// hooks of the viewer's shell, pages, media and key panel it drives. Each
// group names the file that defines it, and that file includes this header,
// so the compiler holds both sides to one declaration; the link compiles
// against these, never against the viewer's form or its other modules.
#pragma once
#include <cstdint>

struct TConnection;
struct THandshakeRecord;
struct TViewRecord;

// The viewer shell (control/TavlinImpl1.cpp): connection 0's link icons
// (1 shows Image_Conn and hides Image_Disconn, 0 the other way round) and
// the UPnP tab (TabSheet7) shown (1) or hidden (0).
void Viewer_ShowLinkIcon(uint32_t connected);
void Viewer_ShowUpnpTab(int visible);
// The session (control/Session.cpp): before each poll packet a logged-in
// live link asks for the stream status.
void Session_RequestStream(TConnection* record);
// The connection properties (control/Properties.cpp): HTTP_PAGE as an
// integer (the key panel's start state); 0 at start.
extern int32_t gHttpPage;
// The setup pages (control/Setup.cpp): the pages for the recorder's machine
// record: limits, help texts, the DDNS services and mail modes of its
// variant, the interval list.
void Setup_FillForMachine(THandshakeRecord* handshake);
// The setup items' pages (control/SetupItems.cpp), the rows of the ICMD
// module's setup-item table. To page: show the view record's item on its
// page (nothing without the form).
void Setup_BitrateToPage(TViewRecord* view);
void Setup_PppoeToPage(TViewRecord* view);
void Setup_DdnsToPage(TViewRecord* view);
void Setup_MailToPage(TViewRecord* view);
void Setup_MailIntervalToPage(TViewRecord* view);
// Enable (1) or grey (0) the page and set its wait counter (1001 or 0);
// the Bitrate page is never greyed.
void Setup_EnableBitratePage(TViewRecord* view, int on);
void Setup_EnablePppoePage(TViewRecord* view, int on);
void Setup_EnableDdnsPage(TViewRecord* view, int on);
void Setup_EnableMailPage(TViewRecord* view, int on);
// The titles (control/Vdtt.cpp): the Title tab shown when the flag is not 0.
void Title_ShowTab(uint32_t flag);
// The view modes (control/View.cpp): a live block from the recorder while
// in Live: its layout, first channel and channel go to the key panel; a
// single channel or four-way first channel of 16 or more is not passed on.
void View_OnLiveBlock(TViewRecord* view);
// The UPnP page (control/Upnp.cpp): the word both UPnP variables share
// (Tavn_Upnp_C_Data_W, Tavn_Upnp_C_Data_R) and their handlers: the write
// does nothing, the read shows the recorder's value.
extern uint32_t gUpnpWord;
void Upnp_WriteDone(uint32_t session);
void Upnp_ReadDone(uint32_t session);

// The watermark's named variables (media/Watermark.cpp): the data buffer
// of "Tavn_Watermark_Var_R" (the backup channel), the 160 bytes of
// "Tavn_Watermark_Var_W" where the recorder's block lands (it reaches the
// movie's record only while a backup waits for it), and the handler of the
// reply (does nothing).
enum { WATERMARK_SIZE = 160 };
extern uint32_t gWatermarkRequest;
extern uint8_t gWatermarkAnswer[WATERMARK_SIZE];
void Watermark_OnReply(uint32_t session);
// The frame stream (media/Vido.cpp): on a session grant the state's request
// word returns to 0; the recorder's ICMD sub-header word 4 is kept in the
// VIDO state.
void Vido_ResetForGrant(TConnection* c);
void Vido_StoreRequestWord(TConnection* c, uint32_t word);

// The key panel (panel/Ie_com.cpp): the recorder's machine record arrived:
// channel count, model variant flag and the hosting page's start mode.
void KeyForm_Init(uint32_t channels, uint32_t logo, int32_t startMode);
