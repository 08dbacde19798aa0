// Wire helpers of the simulated recorder: little-endian fields, checksums,
// ULCM header and HTTP answer head. No state.
#include "sim_wire.h"

#include <cstdio>
#include <cstring>

uint32_t Wire_ChecksumBytes(const uint8_t* p, uint32_t n) {
  uint32_t sum = 0;
  if (p == nullptr) return 0;
  for (uint32_t i = 0; i < n; i++) sum += p[i];
  return sum;
}

uint32_t Wire_ChecksumSparse(const uint8_t* p, uint32_t n) {
  uint32_t sum = 0;
  if (p == nullptr) return 0;
  for (uint32_t k = 0; k < n / 1024; k++) sum += GetU32(p + k * 1024);
  return sum;
}

uint32_t Wire_MessageChecksum(const uint8_t* p, uint32_t n) {
  return n <= 1024 ? Wire_ChecksumBytes(p, n) : Wire_ChecksumSparse(p, n);
}

void Wire_ReadUlcmHeader(const uint8_t* p, UlcmHeader* h) {
  h->total = GetU32(p + 0);
  h->magic = GetU32(p + 4);
  h->type = GetU32(p + 8);
  h->session = GetU32(p + 12);
  h->conn_index = GetU32(p + 52);
  h->socket_index = GetU32(p + 56);
}

void Wire_WriteUlcmHeader(uint8_t* p, uint32_t total, uint32_t type, uint32_t session, uint32_t conn_index,
                          uint32_t socket_index) {
  memset(p, 0, kUlcmHeaderSize);
  PutU32(p + 0, total);          // total length
  PutU32(p + 4, kUlcmMagic);     // "ULCM"
  PutU32(p + 8, type);           // packet type
  PutU32(p + 12, session);       // session id
                                 // 16..47: credential block, empty
  PutU32(p + 48, 0);             // always 0
  PutU32(p + 52, conn_index);    // echoed connection index
  PutU32(p + 56, socket_index);  // echoed socket index
  PutU32(p + 60, 0);             // reserved
}

uint32_t Wire_WriteHttpHead(char* dst, uint32_t content_length) {
  int n = snprintf(dst, kMaxHttpHead, "HTTP/1.1 200 OK\r\nContent-Length: %u\r\n\r\n", content_length);
  return n < 0 ? 0 : uint32_t(n);
}
