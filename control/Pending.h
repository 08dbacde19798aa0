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
// local-file playback: its record, the index and feed steps
#include "media/LocalPlay.h"
// The System page shows the address and port the page gave (the form's).
void System_ShowAddress(const char* address, const char* port);
// The setup pages and their items, and the UPnP page, are built.
#include "control/Setup.h"
#include "control/Upnp.h"
// the channel titles and their module
#include "control/Title.h"
// The UPnP tab (TabSheet7) shown (1) or hidden (0), and whether it shows.
void Viewer_ShowUpnpTab(int visible);
int Viewer_UpnpTabVisible();
// The key panel is built: composition, hit-testing, the mouse, auto-repeat
// and the panel logic (IeCom_Init, KeyForm_*, gMouseDown, gLastDrawn,
// gPanelLevel) are declared there.
#include "panel/Ie_com.h"
#include "panel/Yuv2.h"
