// View modes and the view record: switching between Live, Playback, Backup,
// Setup and local-file playback, layouts and channels, playback steps, the
// time marks shared with the key panel, and starting, stopping and
// following a backup. Each change goes to the recorder as the mode's ICMD
// request block. The records themselves (gViewRecords) live with the ICMD
// module, which links them with their connections.
#include "control/View.h"
#include "media/Hooks.h"
#include "panel/Hooks.h"
#include "link/Hooks.h"
#include "control/BackupFiles.h"
#include "control/Speaker.h"
#include "control/TavlinImpl1.h"
#include "link/Icmd.h"
#include "media/Audio.h"
#include "media/Backup.h"
#include "media/LocalPlay.h"
#include "media/Stream.h"
#include "panel/Ie_com.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include <cstring>

static const uint32_t kModeTypes[VIEW_MODE_COUNT] = {ICMD_LIVE, ICMD_PLAYBACK, ICMD_BACKUP, ICMD_SETUP,
                                                     ICMD_LOCAL_PLAYBACK};
static const char* const kModeCaptions[VIEW_MODE_COUNT] = {"Live", "Playback", "Backup", "Setup", nullptr};

// The time range of the marks: 0 stands for "no time", so a mark is at
// least 1.
static const uint32_t kLatestTime = 0xFFFFFFFFu;

uint32_t View_TypeOfMode(uint32_t mode) { return mode < (uint32_t)VIEW_MODE_COUNT ? kModeTypes[mode] : 0; }

const char* View_CaptionOfMode(uint32_t mode)
{
    return mode < (uint32_t)VIEW_MODE_COUNT ? kModeCaptions[mode] : nullptr;
}

static TStreamRecord* StreamOf(const TViewRecord* view)
{
    return view && view->connection ? view->connection->stream : nullptr;
}

static uint32_t StreamTime(const TViewRecord* view)
{
    const TStreamRecord* s = StreamOf(view);
    return s ? s->displayTime : 0;
}

// t - back, at the earliest 1.
static uint32_t Before(uint32_t t, uint32_t back) { return t > back ? t - back : 1; }

// t + ahead, at the latest the end of the range.
static uint32_t After(uint32_t t, uint32_t ahead) { return t <= kLatestTime - ahead ? t + ahead : kLatestTime; }

// The form's side of a mode change: the setup pages and the backup label
// are hidden, the mode's caption is shown. The time label itself is shown
// too: a resynchronisation hides it until the fourth frame after it, and
// the new mode may bring no frame (Setup, a playback of nothing recorded);
// its own first frame hides it again.
static void ShowMode(uint32_t mode)
{
    TTavlinX* f = gViewerForm;
    if (!f) return;
    if (f->PageControl1) f->PageControl1->Hide();
    if (f->Label1) f->Label1->Hide();
    if (mode == VIEW_BACKUP && f->Label1) f->Label1->Show();
    if (mode == VIEW_SETUP && f->PageControl1) {
        f->PageControl1->SetActivePageIndex(0);
        f->PageControl1->Show();
    }
    const char* caption = View_CaptionOfMode(mode);
    if (caption && f->Label_time) {
        f->Label_time->SetCaption(caption);
        f->Label_time->Show();
    }
}

int View_SetMode(TViewRecord* view, uint32_t m)
{
    if (!view || m >= (uint32_t)VIEW_MODE_COUNT) return 0;
    if (view->mode == m) return 0;
    uint32_t old = view->mode;
    view->mode = m;
    view->playbackBlock.playbackRun = 0;
    view->playbackBlock.playbackDirection = 0;
    view->backupBlock.backupArmed = BACKUP_OFF;

    // The streams start over: no local file plays, a backup stops, the
    // channels wait for a key frame and the reorder queue forgets its frames.
    gLocalFile.playState = 0;
    TStreamRecord* s = StreamOf(view);
    uint32_t t = 0;
    if (s) {
        t = s->displayTime;
        Backup_NoteEnd(BACKUP_END_MODE);
        Backup_SetState(s, 4);
        Stream_ResetChannels(s, 0);
    }
    if (view->connection) memset(&view->connection->vidoQueue, 0, sizeof view->connection->vidoQueue);

    ShowMode(m);

    // Playback and Backup open on the time the stream had; from Live the
    // playback starts a little in the past.
    if ((m == VIEW_PLAYBACK || m == VIEW_BACKUP) && t != 0) {
        if (old == VIEW_LIVE) t = Before(t, VIEW_LIVE_REWIND);
        View_SetTimeMarks(view, t, 0);
        View_SetTimeMarks(view, After(t, VIEW_MARK_GAP), 1);
    }
    // The audio thread goes by the new mode at once (it leaves sound alone
    // in Backup).
    Audio_PublishViews();
    return 1;
}

// A layout code of a layout key (its low four bits): the layout and its
// first channel; -1 for a code that names none.
static int LayoutOfCode(uint32_t code, uint32_t* layout, uint32_t* first)
{
    static const uint32_t kLayouts[7][2] = {
        {LAYOUT_QUAD, 0}, {LAYOUT_QUAD, 4}, {LAYOUT_QUAD, 8},    {LAYOUT_QUAD, 12},
        {LAYOUT_NINE, 0}, {LAYOUT_NINE, 9}, {LAYOUT_SIXTEEN, 0},
    };
    if (code >= 7) return -1;
    *layout = kLayouts[code][0];
    *first = kLayouts[code][1];
    return 0;
}

void View_KeyAction(uint32_t connection, uint32_t channels, int32_t m, int32_t op, int32_t key, uint32_t noSend)
{
    if (connection >= CONN_COUNT || m < 0 || m >= (int32_t)VIEW_MODE_COUNT) return;
    TConnection* c = &gConnections[connection];
    TViewRecord* view = c->view;
    if (!view) return;

    // Every action hides the speaker icon and starts the sound over (below,
    // once the audio thread goes by the new view).
    Speaker_ClearShown();

    View_SetMode(view, (uint32_t)m);

    int changed = 0;
    uint32_t resetWhich = 1; // channel slot 0 unless the key names another
    if (key >= VIEW_KEY_LAYOUT && key < 2 * VIEW_KEY_LAYOUT) {
        uint32_t k = (uint32_t)key;
        if (channels == 8 && k == 18) k = 20; // the third four-way key shows channels 1-8
        uint32_t layout = 0, first = 0;
        if (LayoutOfCode(k & 15, &layout, &first) == 0) changed = View_SetLayout(view, layout, first);
        view->liveBlock.liveChannelMask = 0;
        if (key == VIEW_KEY_LAYOUT) resetWhich = VIEW_KEY_LAYOUT + 1; // slot 16
    } else if (key >= 0 && key < VIEW_CHANNELS_MAX) {
        changed = View_SelectChannel(view, (uint32_t)key);
        resetWhich = (uint32_t)key + 1;
    }

    if (m == VIEW_PLAYBACK) {
        uint32_t run = 0;
        int32_t direction = 0;
        View_PlayOpRun(op, &run, &direction);
        View_SetPlaybackRun(view, run, direction);
        if ((run == 1 && changed) || run == 2) View_MarkFromStreamTime(view);
    }
    if (m == VIEW_BACKUP && op == 4) {
        view->backupBlock.backupArmed = BACKUP_STEP;
        View_MarkFromStreamTime(view);
    }

    Stream_ResetChannels(c->stream, resetWhich);
    // The audio thread judges frames by its published copy of the view: the
    // copy is renewed before the heard channel is cleared, so no frame of
    // the channel just left can become the heard one.
    Audio_PublishViews();
    Sound_SetHeardChannel(-1);
    if (!noSend) Icmd_Send(c->session, ICMD_DATA, View_TypeOfMode((uint32_t)m), 0);
    Speaker_UpdateIcon(0, gAudioAvailable.load(), gSpeakerState.audioOn.load(), gSpeakerState.lastAudioOn);
}

void View_PlayOpRun(int32_t op, uint32_t* run, int32_t* direction)
{
    uint32_t r = 0;
    int32_t d = 0;
    switch (op) {
    case 0:
        r = 1;
        d = -1;
        break;
    case 2:
        r = 1;
        d = 0;
        break;
    case 3:
        r = 1;
        d = 1;
        break;
    case 4:
        r = 2;
        d = 1;
        break;
    default: break;
    }
    if (run) *run = r;
    if (direction) *direction = d;
}

int View_SelectChannel(TViewRecord* view, uint32_t channel)
{
    if (!view || channel >= (uint32_t)VIEW_CHANNELS_MAX) return 0;
    int changed = View_SetLayout(view, LAYOUT_SINGLE, 0);
    view->liveBlock.liveChannelMask = view->mode == VIEW_LIVE ? (1u << channel) | 0x80000000u : 0;
    uint32_t* word = nullptr;
    switch (view->mode) {
    case VIEW_LIVE: word = &view->liveBlock.liveChannel; break;
    case VIEW_PLAYBACK: word = &view->playbackBlock.playbackChannel; break;
    case VIEW_BACKUP: word = &view->backupBlock.backupChannel; break;
    default: break;
    }
    if (word && *word != channel) {
        *word = channel;
        changed = 1;
    }
    return changed;
}

int View_SetLayout(TViewRecord* view, uint32_t layout, uint32_t firstChannel)
{
    if (!view || view->mode != VIEW_LIVE) return 0;
    int changed = view->liveBlock.liveLayout != layout || view->liveBlock.liveFirstChannel != firstChannel;
    view->liveBlock.liveLayout = layout;
    view->liveBlock.liveFirstChannel = firstChannel;
    return changed;
}

int View_SetPlaybackRun(TViewRecord* view, uint32_t run, int32_t direction)
{
    if (!view) return 0;
    TPlaybackRequest& p = view->playbackBlock;
    int runChanged = run != p.playbackRun;
    int directionChanged = direction != p.playbackDirection;
    // Stopping, or turning round while moving, keeps the place reached.
    if (runChanged && run == 0) View_MarkFromStreamTime(view);
    if (directionChanged && (p.playbackDirection != 0 || p.playbackRun == 1)) View_MarkFromStreamTime(view);
    p.playbackRun = run;
    p.playbackDirection = direction;
    return runChanged || directionChanged;
}

void View_MarkFromStreamTime(TViewRecord* view) { View_SetTimeMarks(view, StreamTime(view), 0); }

void View_SetTimeMarks(TViewRecord* view, uint32_t t, uint32_t which)
{
    if (view && t != 0) {
        if (which == 1) {
            Mon_B_T_T = (int32_t)t;
            view->backupBlock.backupEnd = t;
        } else if (which == 0) {
            Mon_P_N_T = (int32_t)t;
            Mon_B_F_T = (int32_t)t;
            view->playbackBlock.playbackTime = t;
            view->backupBlock.backupStart = t;
            if (TStreamRecord* s = StreamOf(view)) s->displayTime = t;
        }
    }
    Panel_Invalidate();
    Yuv2_Redraw(gMouseDown);
}

void View_SetPlaybackTime(TViewRecord* view, uint32_t which, uint32_t t)
{
    if (!view) return;
    uint32_t start, end;
    if (which == 0) {
        start = t;
        end = view->mode == VIEW_BACKUP ? (uint32_t)Mon_B_T_T : After(t, VIEW_MARK_GAP);
        if (start > end || end - start < VIEW_MARK_GAP) {
            // The end follows the start; at the end of the range the start
            // gives way instead.
            if (start > kLatestTime - VIEW_MARK_GAP) start = kLatestTime - VIEW_MARK_GAP;
            end = start + VIEW_MARK_GAP;
        }
    } else {
        start = view->backupBlock.backupStart;
        end = t;
        if (start > end || end - start < VIEW_MARK_GAP) {
            // The start follows the end; near time 0 the end gives way.
            if (end <= VIEW_MARK_GAP) end = VIEW_MARK_GAP + 1;
            start = end - VIEW_MARK_GAP;
        }
    }
    View_SetTimeMarks(view, start, 0);
    View_SetTimeMarks(view, end, 1);
}

int View_IsLocalPlayback(const TConnection* c) { return c && c->view && c->view->mode == VIEW_LOCAL_PLAYBACK; }

void View_OnLiveBlock(TViewRecord* view)
{
    if (!view) return;
    const TLiveRequest& b = view->liveBlock;
    // The words come from the recorder: a single channel or a split's
    // first channel the panel has no button for is not passed on.
    if (b.liveLayout == LAYOUT_SINGLE && b.liveChannel >= (uint32_t)VIEW_CHANNELS_MAX) return;
    if (b.liveLayout == LAYOUT_QUAD && b.liveFirstChannel >= (uint32_t)VIEW_CHANNELS_MAX) return;
    int32_t kind = b.liveLayout < (uint32_t)LAYOUT_COUNT ? (int32_t)b.liveLayout : -1; // -1: no layout
    int32_t first = b.liveFirstChannel < (uint32_t)VIEW_CHANNELS_MAX ? (int32_t)b.liveFirstChannel : 0;
    int32_t channel = b.liveChannel < (uint32_t)VIEW_CHANNELS_MAX ? (int32_t)b.liveChannel : 0;
    KeyForm_SelectDisplay(kind, first, channel);
}

// --- Backup --------------------------------------------------------------------

// The panel's backup flags when no backup runs: the bar full, the button
// up, the panel at its normal level.
static void ShowBackupOff()
{
    IE_percentage = 100;
    IE_ST2 = 0;
    IE_ST = 0;
    gPanelLevel = 1;
}

int Backup_Toggle()
{
    uint32_t on = (uint32_t)(IE_ST2 + 1) & 1;
    int chosen = 0;
    if (on) {
        chosen = Backup_ChooseFile();
        if (chosen) {
            IE_percentage = 0;
            IE_ST2 = 1;
            gPanelLevel = 2;
            IE_ST = 1;
            KeyForm_Update(0);
        } else {
            on = 0;
            ShowBackupOff();
            Backup_ForgetParts();
        }
    }
    AnsiString name = gBackupSaveDialog ? gBackupSaveDialog->FileName() : AnsiString();
    int started = Backup_StartStop(gConnections[0].view, on, name.c_str());
    if (on && !started) {
        // Refused (name too long, marks out of order): the panel must not
        // show a backup that is not running.
        ShowBackupOff();
        Panel_Invalidate();
    }
    return started;
}

void Backup_TimerStep() { Backup_ComputeProgress(gConnections[0].view); }

void Backup_ComputeProgress(TViewRecord* view)
{
    if (!view || view->mode != VIEW_BACKUP || view->backupBlock.backupArmed != BACKUP_RUNNING) return;
    const TBackupRequest& b = view->backupBlock;
    // The view's start mark moves when the recorder is asked again for the
    // rest of the span; the bar counts from the mark the backup began at.
    int64_t start = Backup_Active() ? (int64_t)Backup_SpanStart() : (int64_t)b.backupStart;
    int64_t span = (int64_t)b.backupEnd - start;
    int64_t done = (int64_t)StreamTime(view) - start;
    int64_t progress = span >= 1 && done >= 1 ? done * 100 / span : 0;
    if (progress > 100) progress = 100;
    IE_percentage = (int32_t)progress;
    Panel_Invalidate();
}
