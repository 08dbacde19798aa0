// HMAC-SHA1 (RFC 2104, block 64 bytes, digest 20 bytes) on top of CSHA1.
// Each object owns its two pads, the key block and the inner digest; texts
// and keys of any length are taken directly, without copies.
#pragma once
#include "ddns/Sha1.h"

class CHMAC_SHA1 : public CSHA1 {
public:
    CHMAC_SHA1();
    ~CHMAC_SHA1();

    // The 20-byte HMAC of text under key into digest. A length of 0 or less
    // (or a null pointer) stands for the empty text or the empty key. A key
    // of more than 64 bytes is hashed first; the key's bytes are used as
    // they are.
    void ComputeHmac(const unsigned char* text, int textLength, const unsigned char* key, int keyLength,
                     unsigned char* digest);

private:
    unsigned char m_ipad[64];
    unsigned char m_opad[64];
    unsigned char m_keyBlock[64];
    unsigned char m_innerDigest[20];
};
