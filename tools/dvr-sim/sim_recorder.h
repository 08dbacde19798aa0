// Packet handling of the simulated recorder: one ULCM packet in, one ULCM
// answer packet out. Owns the answer packet buffer and the packet serial.
#pragma once

#include <cstdint>

// Answers one whole packet (its header already checked for a sane total and
// the magic). Returns the answer packet, valid until the next call, its
// length through answer_len and how much later it is to leave through
// delay_ms.
const uint8_t* Recorder_Answer(const uint8_t* packet, uint32_t total, uint32_t client, uint32_t* answer_len,
                               uint32_t* delay_ms);
