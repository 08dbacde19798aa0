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
// The key panel's one entry: mode (page code), play op, key (channel 0-15,
// or VIEW_KEY_LAYOUT | layout code), for the recorder of connection index
// `connection` with `channels` channels (4, 8 or 16). Sends the mode's
// request block unless noSend. A mode outside 0..4 or a connection index
// beyond the records is ignored; a key that is neither a channel below 16
// nor a layout key selects nothing and resets only channel slot 0.
void View_KeyAction(uint32_t connection, uint32_t channels, int32_t mode, int32_t op, int32_t key,
                    uint32_t noSend);
// Single channel: 1 if the channel or the layout changed. A channel of 16
// or more changes nothing.
int View_SelectChannel(TViewRecord* view, uint32_t channel);
// Live only: 1 if layout or first channel changed.
int View_SetLayout(TViewRecord* view, uint32_t layout, uint32_t firstChannel);
// The run and direction of a play op: 0 backwards, 1 stopped, 2 still,
// 3 forwards, 4 fast forwards; any other op stops.
void View_PlayOpRun(int32_t op, uint32_t* run, int32_t* direction);
// Playback run (0 stopped, 1 playing, 2 fast) and direction: 1 if changed.
int View_SetPlaybackRun(TViewRecord* view, uint32_t run, int32_t direction);
// The start mark follows the stream's current time.
void View_MarkFromStreamTime(TViewRecord* view);
// which 0 sets the start mark (playback time, backup start, the stream's
// current time), 1 the end mark; a time of 0 leaves the mark; the panel is
// repainted either way.
void View_SetTimeMarks(TViewRecord* view, uint32_t time, uint32_t which);
// Sets one mark (which 0 start, 1 end) and moves the other so that start
// comes at least VIEW_MARK_GAP seconds before the end. Near either end of
// the time range the pair is kept inside it (start at least 1) rather than
// wrapped.
void View_SetPlaybackTime(TViewRecord* view, uint32_t which, uint32_t time);
// The view of connection c is in local-file playback (mode 4).
int View_IsLocalPlayback(const TConnection* c);
// View_OnLiveBlock, which the ICMD module calls: link/Hooks.h.

// Starts (on 1) or stops (any other value) the backup between the marks
// into fileName; the backup block goes to the recorder either way. Returns
// the resulting on state: 0 when refused (no stream record, a name of
// more than 1023 characters, start mark not before the end mark).
int Backup_StartStop(TViewRecord* view, uint32_t on, const char* fileName);
// The key panel's backup button: chooses the file and starts, or stops.
// 1 when a backup was started; a start the view refuses leaves the panel's
// backup flags off, as a cancelled choice does.
int Backup_Toggle();
// Every second: the backup progress of connection 0's view.
void Backup_TimerStep();
// IE_percentage := 0..100 of the span between the marks that the stream
// has passed, while a backup runs in Backup mode (computed in 64 bits).
void Backup_ComputeProgress(TViewRecord* view);
