// The one reset of the viewer's module state that the tests and the fuzz
// rig share: every module a control's start-up set up back to the state
// that start-up leaves.
#pragma once

// The connection records (sockets, storage and module links kept), the
// handshake records, the view records at their start values, the module
// buffers, the VIDO and stream state, the sound ring with no channel heard,
// the speaker, both decoder channels, the calendar's queries, the titles,
// the month page at the clock's date and stopwatch 1 started on the clock.
// Registrations, display registrations and the widgets are kept.
void Modules_ResetAll();
