// The fuzz targets' one control: created once per process through the COM
// class's create path (offscreen), its audio thread parked, fake sockets in
// place of the four client sockets, a clock that moves only when a tick
// says so, and the resets that return every touched module to its start-up
// state before each input. Owns the fake sockets and the fake clock.
#pragma once
#include <cstddef>
#include <cstdint>

// The session the rig's recorder grants; fixed so that inputs replay.
enum : uint32_t { RIG_SESSION = 0x5F3A1B2Cu };

// How an input finds the control.
struct TRigSetup {
    bool loggedIn;     // session granted and machine record in; else the login is in flight
    uint32_t mode;     // view mode 0 Live .. 3 Setup (logged in only)
    uint32_t sockets;  // 1 or 2 recorder sockets (the machine record's count)
    uint32_t channels; // 4, 8 or 16
    bool pal;          // 25 frames per second
};

// Creates the control the first time (later calls do nothing).
void Rig_Start();
// Between two inputs: the widgets' posted events delivered (the rig runs no
// message loop) and the log of answered message boxes emptied, so that
// nothing one input leaves grows from input to input.
void Rig_Between();
// At the end of an input: what its widgets posted is delivered there and
// then (Rig_Between), so that an input frees what it made.
void Rig_End();
// Every touched module back to start-up (Rig_Between first), then the
// control connected as the setup says. Runs the ticks that this takes.
void Rig_Begin(const TRigSetup& setup);
// Bytes arriving on connection 0's socket s, handed over as a read event
// does (what does not fit the receive buffer stays in the socket).
void Rig_Arrive(uint32_t socket, const uint8_t* data, size_t n);
// One pass of the main loop without the panel redraw (receive step, socket
// poll and send pump, stream step, speaker), then one pass of the audio
// thread's take and feed; the clock first moves on by ms.
void Rig_Tick(uint32_t ms);
// The main loop's socket poll alone (reconnects, pending title requests,
// send pump), for targets whose input reaches nothing else of a tick; the
// clock stands still.
void Rig_Poll();
// The clock moves on by ms and nothing else runs; the periodic tasks count
// as just run (for time-outs, without what the tasks would do meanwhile).
void Rig_Wait(uint32_t ms);

// Session and checksum of every module message that lies whole within n
// bytes at p, walking by the messages' own lengths (their lengths are left
// alone).
void Rig_FixUpMessages(uint8_t* p, uint32_t n);

// One record of an input: [control byte][length u16 LE][bytes]. A length
// word cut by the input's end counts what it holds; the bytes are what the
// input still has, at most the length. Reads the record at *at and moves
// *at past it; false at the input's end.
struct TRigRecord {
    uint8_t control;
    const uint8_t* bytes;
    uint32_t length;
};
bool Rig_NextRecord(const uint8_t* data, size_t size, size_t* at, TRigRecord* record);
