// MD5 message digest (RFC 1321). Owns gMd5Digest, the process-wide copy of
// the digest of the last text given to Md5_DigestString; contexts belong to
// their callers.
#pragma once
#include <cstdint>

struct TMd5Context {
    uint32_t count[2];        // message bits hashed so far, low word first
    uint32_t state[4];        // A, B, C, D
    unsigned char buffer[64]; // the block being filled
    unsigned char digest[16]; // written by Md5_Final
};

// Digest of the last Md5_DigestString call; read it before the next call.
extern unsigned char gMd5Digest[16];

void Md5_Init(TMd5Context* context);
// Hashes length more bytes; any split of a message gives the same digest.
void Md5_Update(TMd5Context* context, const unsigned char* bytes, uint32_t length);
// Pads, appends the bit count and fills context->digest.
void Md5_Final(TMd5Context* context);
// The compression of sixteen little-endian message words into the state.
void Md5_Transform(uint32_t state[4], const uint32_t words[16]);
// Digest of a NUL-terminated text into gMd5Digest. Writes nothing: the
// texts hashed here are request bodies that hold the user's password.
void Md5_DigestString(const char* text);
// Writes context->digest as 32 lowercase hex digits to standard output and
// copies it into gMd5Digest. A debugging aid; nothing in the control calls it.
void Md5_PrintDigest(const TMd5Context* context);
