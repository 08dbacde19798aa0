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

// The backup controller and the backup files are built.
#include "media/Backup.h"
#include "control/BackupFiles.h"
// local-file playback: its record, the index and feed steps
#include "media/LocalPlay.h"
// The System page shows the address and port the page gave (the form's).
void System_ShowAddress(const char* address, const char* port);
// The setup pages and their items, and the UPnP page, are built.
#include "control/Setup.h"
#include "control/Upnp.h"
// the channel titles and their module
#include "control/Title.h"
// Whether the UPnP tab (TabSheet7) shows.
int Viewer_UpnpTabVisible();
// 1 while the link lamp is lit (Image_Conn shown), else 0.
int Viewer_LinkIconShown();
// The key panel is built: composition, hit-testing, the mouse, auto-repeat
// and the panel logic (IeCom_Init, KeyForm_*, gMouseDown, gLastDrawn,
// gPanelLevel) are declared there.
#include "panel/Ie_com.h"
#include "panel/Yuv2.h"
