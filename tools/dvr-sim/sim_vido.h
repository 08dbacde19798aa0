// The simulated recorder's frame stream module "VIDO": the cameras and
// microphones of the channels the viewer's commands ask for, sent as VIDO
// frame blocks on the viewer's poll answers at the machine's frame rate.
#pragma once

#include <cstdint>

#include "sim_sessions.h"

// Every ICMD message of a session, after the command module checked it:
// request blocks (types 256, 512, 1024) and the viewer's mode word decide
// what is streamed; every message's sequence number becomes the request
// number of the frames that follow.
void SimVido_OnCommand(SimSession* session, uint32_t op, uint32_t type, uint32_t mode, uint32_t number,
                       const uint8_t* body, uint32_t n);

// Writes, without listening, the frames a backup of channel from recorder
// second start (0: now) would bring for seconds seconds: each frame's 32-byte header
// and payload, one after another (sound after the video of its tick).
// False when the file cannot be written.
bool SimVido_DumpFrames(const char* path, uint32_t seconds, uint32_t channel, uint32_t start);
