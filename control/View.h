// View modes: the operations the key panel, the setup pages and the form
// call to switch modes, choose layouts and channels, steer playback and run
// a backup (View.cpp), on the view record (link/ViewRecord.h).
#pragma once
#include "link/ViewRecord.h"
#include <cstddef>
#include <cstdint>

// View_KeyAction's key: a channel number, or this bit with a layout code
// in the low four bits.
enum { VIEW_KEY_LAYOUT = 16, VIEW_CHANNELS_MAX = 16 };
// Seconds between the two time marks at the least; a playback chosen from
// Live starts this far back.
enum { VIEW_MARK_GAP = 5, VIEW_LIVE_REWIND = 30 };

// The ICMD type that carries mode m (256, 512, 1024, 4096, 2048); 0 for a
// word that names no mode.
uint32_t View_TypeOfMode(uint32_t mode);
// The caption of Label_time for mode m, null for none.
const char* View_CaptionOfMode(uint32_t mode);

// Switches the view to mode m: 1 if it changed, 0 if it was already there
// (or m names no mode). A change stops playback and backup, resets the
// stream's channels and reorder queue and shows the mode's caption.
int View_SetMode(TViewRecord* view, uint32_t mode);
// Single channel: 1 if the channel or the layout changed. A channel of 16
// or more changes nothing.
int View_SelectChannel(TViewRecord* view, uint32_t channel);
// Live only: 1 if layout or first channel changed.
int View_SetLayout(TViewRecord* view, uint32_t layout, uint32_t firstChannel);
// The start mark follows the stream's current time.
void View_MarkFromStreamTime(TViewRecord* view);
// which 0 sets the start mark (playback time, backup start, the stream's
// current time), 1 the end mark; a time of 0 leaves the mark; the panel is
// repainted either way.
void View_SetTimeMarks(TViewRecord* view, uint32_t time, uint32_t which);
// Declared with the layer that calls them: View_OnLiveBlock (the ICMD
// module) in link/Hooks.h; View_KeyAction, View_PlayOpRun,
// View_SetPlaybackRun, View_SetPlaybackTime, View_IsLocalPlayback and
// Backup_Toggle (the key panel and the calendar) in panel/Hooks.h;
// Backup_StartStop lives with the backup state (media/Backup.h).

// Every second: the backup progress of connection 0's view.
void Backup_TimerStep();
// IE_percentage := 0..100 of the span between the marks that the stream
// has passed, while a backup runs in Backup mode (computed in 64 bits).
void Backup_ComputeProgress(TViewRecord* view);
