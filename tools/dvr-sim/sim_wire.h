// Wire helpers of the simulated recorder: the two checksums of module
// messages, the 64-byte ULCM header and the HTTP answer head; its fields
// are read and written with the viewer's byte-order header, which it hands
// on. Pure functions; this file holds no state.
#pragma once

#include <cstdint>

#include "link/Bytes.h"

// ULCM packet header.
constexpr uint32_t kUlcmHeaderSize = 64;
constexpr uint32_t kUlcmMagic = 0x4D434C55;  // "ULCM" read as a little-endian word
// Largest packet a client may send; anything bigger is a broken stream.
constexpr uint32_t kMaxPacket = 1u << 20;
// Largest payload of one answer. The viewer buffers at most 0x48000 bytes per
// socket, so an answer (HTTP head + 64-byte header + payload) stays below it.
constexpr uint32_t kMaxAnswerPayload = 0x40000;
// Room for the HTTP head in front of an answer packet.
constexpr uint32_t kMaxHttpHead = 64;
constexpr uint32_t kMaxAnswer = kMaxHttpHead + kUlcmHeaderSize + kMaxAnswerPayload;

// Module message header: u32 total, four-character code, u32 checksum of the
// bytes from offset 32 to the end, 20 reserved bytes.
constexpr uint32_t kModuleHeaderSize = 32;

enum : uint32_t {
  kPacketLogin = 0,
  kPacketGrant = 1,
  kPacketPollAnswer = 2,
  kPacketData = 3,
  kPacketDataPoll = 5,
};

// Wrapping sum of the bytes.
uint32_t Wire_ChecksumBytes(const uint8_t* p, uint32_t n);
// Wrapping sum of the little-endian words at 0, 1024, 2048, ... for each
// whole kilobyte of the n bytes.
uint32_t Wire_ChecksumSparse(const uint8_t* p, uint32_t n);
// Checksum of a module message's n = total - 32 bytes after its header:
// the byte sum up to 1024 bytes, the sparse word sum above.
uint32_t Wire_MessageChecksum(const uint8_t* p, uint32_t n);

// The fields of a ULCM header this recorder reads.
struct UlcmHeader {
  uint32_t total;         // 0: 64 + payload length
  uint32_t magic;         // 4: "ULCM"
  uint32_t type;          // 8: packet type
  uint32_t session;       // 12: session id, 0 = none
  uint32_t conn_index;    // 52: sender's connection index
  uint32_t socket_index;  // 56: sender's socket index
};

void Wire_ReadUlcmHeader(const uint8_t* p, UlcmHeader* h);
// Writes a 64-byte header; the credential block and reserved words are zero.
void Wire_WriteUlcmHeader(uint8_t* p, uint32_t total, uint32_t type, uint32_t session, uint32_t conn_index,
                          uint32_t socket_index);

// Writes "HTTP/1.1 200 OK", the Content-Length line and the blank line into
// dst (at least kMaxHttpHead bytes); returns the head's length.
uint32_t Wire_WriteHttpHead(char* dst, uint32_t content_length);
