// What the link calls outside its own layer, and nothing more: the few
// hooks of the viewer's shell, pages and modules it drives. Each group
// names the module that defines it; the link compiles against these
// declarations, not against the viewer's form or its other modules.
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
void Session_RequestStream(TConnection* c);
// The connection properties (control/Properties.cpp): HTTP_PAGE as an
// integer, the key panel's start state.
extern int32_t gHttpPage;
// The setup pages: what the machine record sets up, and each setup item
// shown on its page, the page enabled (1) or greyed (0).
void Setup_FillForMachine(THandshakeRecord* handshake);
void Setup_BitrateToPage(TViewRecord* view);
void Setup_PppoeToPage(TViewRecord* view);
void Setup_DdnsToPage(TViewRecord* view);
void Setup_MailToPage(TViewRecord* view);
void Setup_MailIntervalToPage(TViewRecord* view);
void Setup_EnableBitratePage(TViewRecord* view, int on);
void Setup_EnablePppoePage(TViewRecord* view, int on);
void Setup_EnableDdnsPage(TViewRecord* view, int on);
void Setup_EnableMailPage(TViewRecord* view, int on);
// The titles: the Title tab shown when the flag is not 0.
void Title_ShowTab(uint32_t flag);
// The watermark's named variables: the request word (the backup channel),
// the 160-byte record the recorder fills, and the handler of its reply.
extern uint32_t gWatermarkRequest;
extern uint8_t gWatermarkRecord[160];
void Watermark_OnReply(uint32_t session);
// The UPnP page: the word both UPnP variables share and their handlers.
extern uint32_t gUpnpWord;
void Upnp_WriteDone(uint32_t session);
void Upnp_ReadDone(uint32_t session);
