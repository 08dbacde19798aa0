// The speaker icon over the top right corner of the video: shown while the
// pointer moves over the video, audio is arriving and one audio channel can
// be heard; a click switches the recorder's audio on or off. Owns
// gSpeakerState and gAudioAvailable.
#pragma once
#include <atomic>
#include <cstdint>

struct TSpeakerState {
    uint32_t shown;                // 1 while the icon is due (a move less than 2 s ago)
    uint32_t lastShown;            // shown when the icon was last redrawn
    std::atomic<uint32_t> audioOn; // 1 when the user switched audio on; read by the audio thread
    uint32_t lastAudioOn;          // audioOn at the last toggle
    uint32_t lastMove;             // stopwatch reading of the last move over the video or icon, or toggle
};

extern TSpeakerState gSpeakerState;
// gAudioAvailable and Speaker_AudioOn, which the media read: media/Hooks.h.

enum { SPEAKER_HIDE_AFTER = 200000 }; // 2 s in stopwatch readings

// All off; run once at start-up.
void Speaker_Reset();
// Switches audio on or off.
void Speaker_Toggle();
// Every tick: hides the icon 2 s after the last move and redraws it when
// shown changed.
void Speaker_TimerStep();
// Shows at most one of the two icons.
void Speaker_UpdateIcon(uint32_t shown, uint32_t available, uint32_t audioOn, uint32_t lastAudioOn);
// A move over the video (only while audio arrives) or over the icon.
void Speaker_OnVideoMove();
void Speaker_OnIconMove();
// A key-panel action: shown and lastShown := 0, so the icon stays away
// until the next move over the video (the caller hides it).
void Speaker_ClearShown();
