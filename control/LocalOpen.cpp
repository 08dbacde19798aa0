// The viewer's side of local playback: the open-movie choice of the key
// panel's Backup page runs the movie open dialog, loads the chosen file
// and shows it in mode 4 on Image_video with the panel's play buttons; in
// mode 4 those buttons step through the file. Owns nothing.
#include "control/TavlinImpl1.h"
#include "control/View.h"
#include "link/Conn.h"
#include "media/LocalPlay.h"
#include "media/Stream.h"
#include "panel/Hooks.h"
#include "panel/Ie_com.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/StdCtrls.h"

static void Repaint()
{
    Panel_Invalidate();
    Yuv2_Redraw(gMouseDown);
}

int LocalPlay_Open(const char* name)
{
    TConnection* c = &gConnections[0];
    TStreamRecord* s = c->stream;
    if (!c->view || !s) return 0;
    if (LocalPlay_Arm(name) != 0) {
        Application_MessageBox("This file is not a movie of this viewer, or it is damaged; it cannot be played.",
                               "Open Movie", MB_OK | MB_ICONWARNING);
        return 0;
    }
    s->localTarget = gViewerForm ? gViewerForm->Image_video : nullptr;
    s->localTimeLabel = nullptr; // the mode's time label is Label_time itself
    // The pictures of decoder channel 0 go to this connection's display,
    // also before a recorder was ever connected.
    if (!gDisplayTargets[0].connection) Display_Register(c, 0, 0);
    if (gViewerForm && gViewerForm->Label1) gViewerForm->Label1->Hide(); // the last file's verdict
    View_KeyAction(0, (uint32_t)(IE_M_CH > 0 ? IE_M_CH : 4), VIEW_LOCAL_PLAYBACK, 3, -1, 0);

    // The panel shows the play buttons, play lit; its page is not sent, so
    // the view stays in mode 4 until another page or channel is chosen.
    if (IE_Page[KEY_PAGE_PLAYBACK] != -1) IE_Page2 = KEY_PAGE_PLAYBACK;
    KeyForm_SyncPage();
    for (int32_t i = 0; i < SKIN_IE_PAGE_COUNT; ++i)
        if (IE_Page[i] != -1) IE_Page[i] = i == IE_Page2 ? 1 : 0;
    for (int32_t i = 0; i < SKIN_IE_PB_BT_EN_COUNT; ++i) IE_PB_BT_En[i] = 0;
    IE_PB_BT_En[3] = 1;
    IE_PB_PS = 3;
    IE_Month_T = 0;
    Repaint();
    return 1;
}

int LocalPlay_Choose()
{
    if (!gMovieOpenDialog || !gMovieOpenDialog->Execute()) return 0;
    AnsiString name = gMovieOpenDialog->FileName();
    return LocalPlay_Open(name.c_str());
}

void LocalPlay_PlayButton(int32_t op)
{
    TLocalFile* L = &gLocalFile;
    switch (op) {
    case 0: // back 5 s
        L->step = -1;
        L->playRequest = 1;
        break;
    case 1: // pause
        L->playState = 0;
        L->playRequest = 0;
        L->step = 0;
        break;
    case 2: // on 5 s
        L->step = 1;
        L->playRequest = 1;
        break;
    case 3: // play on from the current time
        L->step = 0;
        L->playState = 1;
        L->playRequest = 1;
        break;
    default: break;
    }
}
