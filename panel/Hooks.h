// What the key panel and the calendar call in the viewer's shell and view
// modes, and nothing more. Each group names the file that defines it, and
// that file includes this header, so the compiler holds both sides to one
// declaration; panel files reach the control layer through this header
// alone.
#pragma once
#include <cstdint>

struct TConnection;
struct TViewRecord;

// The viewer's form (control/TavlinImpl1.h), reached through gViewerForm:
// the key panel is drawn into Image1.
#include "control/TavlinImpl1.h"

// The view modes (control/View.cpp).
//
// The key panel's one entry: mode (page code), play op, key (channel 0-15,
// or 16 | layout code), for the recorder of connection index
// `connection` with `channels` channels (4, 8 or 16). Sends the mode's
// request block unless noSend. A mode outside 0..4 or a connection index
// beyond the records is ignored; a key that is neither a channel below 16
// nor a layout key selects nothing and resets only channel slot 0.
void View_KeyAction(uint32_t connection, uint32_t channels, int32_t mode, int32_t op, int32_t key, uint32_t noSend);
// The run and direction of a play op: 0 backwards, 1 stopped, 2 still,
// 3 forwards, 4 fast forwards; any other op stops.
void View_PlayOpRun(int32_t op, uint32_t* run, int32_t* direction);
// Playback run (0 stopped, 1 playing, 2 fast) and direction: 1 if changed.
int View_SetPlaybackRun(TViewRecord* view, uint32_t run, int32_t direction);
// Sets one mark (which 0 start, 1 end) and moves the other so that start
// comes at least 5 seconds (VIEW_MARK_GAP) before the end. Near either end of
// the time range the pair is kept inside it (start at least 1) rather than
// wrapped.
void View_SetPlaybackTime(TViewRecord* view, uint32_t which, uint32_t time);
// The view of connection c is in local-file playback (mode 4).
int View_IsLocalPlayback(const TConnection* c);
// The key panel's backup button: chooses the file and starts, or stops.
// 1 when a backup was started; a start the view refuses leaves the panel's
// backup flags off, as a cancelled choice does.
int Backup_Toggle();
