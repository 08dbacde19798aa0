// Steps of modules that are not built yet, called by the viewer shell.
// Each does nothing until its module takes it over.
#pragma once
#include <atomic>
#include <cstdint>
#include "link/Conn.h"
// The modules that are built, whose steps the shell and the stand-ins
// below call.
#include "control/Speaker.h"
#include "control/View.h"
#include "media/Audio.h"
#include "media/Decoder.h"
#include "media/Display.h"
#include "media/Stream.h"
#include "media/Vido.h"

// the PC's local time as recorder time (the alarm beeper reads it)
uint32_t Clock_NowNumber();
// What the stream step hands on, until the modules arrive:
// the backup controller takes each held frame in Backup mode (1: no more this tick)
int Backup_OnFrame(TStreamRecord* stream);
// the backup block both stream records share; until the backup controller
// arrives it holds the words the view code writes
enum { BACKUP_NAME_SIZE = 1024 };
struct TBackupBlock {
    uint32_t state;            // 0 idle, 1 start, ... 4 stop or next part
    uint32_t lastData;
    uint32_t bufferUse;
    uint32_t part;             // part number of the running backup
    char chosenName[BACKUP_NAME_SIZE]; // the file the user chose
};
extern TBackupBlock gBackupBlock;
// the backup controller: the state of the stream's backup block
void Backup_SetState(TStreamRecord* stream, uint32_t state);
// added to the next part's start after a size change; reset by a start
extern uint32_t gBackupSizeOffset;
// number of the last part of the running backup
extern uint32_t gBackupPartCount;
// backup files: 1 when the user chose a file (gBackupSaveDialog holds it)
int Backup_ChooseFile();
void Backup_FinishFiles();
// local-file playback: its record, of which the view code clears the play state
struct TLocalFile {
    uint32_t playState;        // 1 while playing
};
extern TLocalFile gLocalFile;
// local-file playback: the feed step per stream and the index step per tick
void LocalPlay_Feed(TStreamRecord* stream);
void LocalPlay_BuildIndex();
// setup pages
void System_ShowAddress(const char* address, const char* port);
void Setup_RefreshPages();
void Setup_ClearEdits(uint32_t which);
void Setup_ApplyPage(int page);
// The DDNS page takes a No-IP account: its user name, password and host
// name edits are filled and the page is applied (Setup_ApplyPage (3)).
void Setup_FillDdnsAccount(const char* user, const char* password, const char* host);
// Opens a web page in the user's browser.
void Web_OpenUrl(const char* address);
// the channel titles and their module
#include "control/Title.h"
// watermark: the request buffer (the backup channel) and the 160-byte
// record the recorder fills, both named shared variables
void Watermark_InitKeys();
extern uint32_t gWatermarkRequest;
extern uint8_t gWatermarkRecord[160];
void Watermark_OnReply(uint32_t session);
// UPnP page: the word both UPnP variables share and their handlers
extern uint32_t gUpnpWord;
void Upnp_WriteDone(uint32_t session);
void Upnp_ReadDone(uint32_t session);
// What the recorder's machine record sets up: the key panel (channels 4, 8
// or 16, model variant, the page's start mode) and the setup pages.
void Setup_FillForMachine(THandshakeRecord* handshake);
// The UPnP tab (TabSheet7) shown (1) or hidden (0), and whether it shows.
void Viewer_ShowUpnpTab(int visible);
int Viewer_UpnpTabVisible();
// Setup items: show the view record's item on its page; enable (1) or
// grey (0) the page.
void Setup_BitrateToPage(TViewRecord* view);
void Setup_PppoeToPage(TViewRecord* view);
void Setup_DdnsToPage(TViewRecord* view);
void Setup_MailToPage(TViewRecord* view);
void Setup_MailIntervalToPage(TViewRecord* view);
void Setup_EnableBitratePage(TViewRecord* view, int on);
void Setup_EnablePppoePage(TViewRecord* view, int on);
void Setup_EnableDdnsPage(TViewRecord* view, int on);
void Setup_EnableMailPage(TViewRecord* view, int on);
// The key panel is built: composition, hit-testing, the mouse, auto-repeat
// and the panel logic (IeCom_Init, KeyForm_*, gMouseDown, gLastDrawn,
// gPanelLevel) are declared there.
#include "panel/Ie_com.h"
#include "panel/Yuv2.h"
// the setup pages: a page of PageControl1 was entered
void Setup_PageEntered(uint32_t connection, int page);
