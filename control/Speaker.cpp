// The speaker icon and its toggle, and the form handlers of its three
// images. Owns gSpeakerState and gAudioAvailable; everything here runs on
// the user-interface thread, the audio thread only reads audioOn.
#include "control/Speaker.h"
#include "media/Hooks.h"
#include "control/TavlinImpl1.h"
#include "control/View.h"
#include "link/Conn.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "platform/vcl/ExtCtrls.h"

TSpeakerState gSpeakerState;
std::atomic<uint32_t> gAudioAvailable{0};

uint32_t Speaker_AudioOn() { return gSpeakerState.audioOn.load(); }

// Connection 0's view lets one audio channel be heard: a single channel 0
// or 1 in Live, channel 0 or 1 in Playback; and its recorder has sound.
static bool OneChannelAudible()
{
    const TConnection* c = &gConnections[0];
    if (c->handshake && c->handshake->machine.audioWord == 2) return false;
    const TViewRecord* v = c->view;
    if (!v) return false;
    if (v->mode == VIEW_LIVE) return v->liveBlock.liveLayout == LAYOUT_SINGLE && v->liveBlock.liveChannel < 2;
    if (v->mode == VIEW_PLAYBACK) return v->playbackBlock.playbackChannel < 2;
    return false;
}

void Speaker_UpdateIcon(uint32_t shown, uint32_t available, uint32_t audioOn, uint32_t /*lastAudioOn*/)
{
    TTavlinX* f = gViewerForm;
    if (!f || !f->Image_Trumpet_Off || !f->Image_Trumpet_On) return;
    f->Image_Trumpet_Off->SetVisible(false);
    f->Image_Trumpet_On->SetVisible(false);
    if (shown == 0 || available == 0 || !OneChannelAudible()) return;
    if (audioOn == 1) f->Image_Trumpet_On->SetVisible(true);
    else f->Image_Trumpet_Off->SetVisible(true);
}

void Speaker_Reset()
{
    gAudioAvailable.store(0);
    gSpeakerState.shown = 0;
    gSpeakerState.audioOn.store(0);
    gSpeakerState.lastAudioOn = 0;
    Speaker_UpdateIcon(0, 0, 0, 0);
}

void Speaker_Toggle()
{
    TSpeakerState& s = gSpeakerState;
    uint32_t on = 1 - (s.audioOn.load() ? 1 : 0);
    s.audioOn.store(on);
    s.lastMove = Stopwatch_Now();
    Speaker_UpdateIcon(s.shown, gAudioAvailable.load(), on, s.lastAudioOn);
    s.lastAudioOn = on;
}

void Speaker_TimerStep()
{
    TSpeakerState& s = gSpeakerState;
    if (s.shown == 1 && Stopwatch_Now() - s.lastMove > SPEAKER_HIDE_AFTER) s.shown = 0;
    if (s.shown != s.lastShown) {
        s.lastShown = s.shown;
        Speaker_UpdateIcon(s.shown, gAudioAvailable.load(), s.audioOn.load(), s.lastAudioOn);
    }
}

void Speaker_OnVideoMove()
{
    if (!gAudioAvailable.load()) return;
    gSpeakerState.shown = 1;
    gSpeakerState.lastMove = Stopwatch_Now();
}

void Speaker_OnIconMove()
{
    gSpeakerState.shown = 1;
    gSpeakerState.lastMove = Stopwatch_Now();
}

void Speaker_ClearShown()
{
    gSpeakerState.shown = 0;
    gSpeakerState.lastShown = 0;
}

// --- Form handlers ---------------------------------------------------------------

void TTavlinX::Image_Trumpet_BGMouseMove(TObject*, TShiftState, int, int) { Speaker_OnVideoMove(); }
void TTavlinX::Image_Trumpet_OffMouseMove(TObject*, TShiftState, int, int) { Speaker_OnIconMove(); }
void TTavlinX::Image_Trumpet_OnMouseMove(TObject*, TShiftState, int, int) { Speaker_OnIconMove(); }
void TTavlinX::Image_Trumpet_OffClick(TObject*) { Speaker_Toggle(); }
void TTavlinX::Image_Trumpet_OnClick(TObject*) { Speaker_Toggle(); }
