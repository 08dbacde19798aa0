// HMAC-SHA1: CHMAC_SHA1 hashes the padded key and the text straight from
// the caller's memory, so no text is too long. Each object owns its pads,
// key block and inner digest and wipes the key material after each use.
#include "ddns/HmacSha1.h"
#include <cstring>

CHMAC_SHA1::CHMAC_SHA1()
{
    memset(m_ipad, 0, sizeof m_ipad);
    memset(m_opad, 0, sizeof m_opad);
    memset(m_keyBlock, 0, sizeof m_keyBlock);
    memset(m_innerDigest, 0, sizeof m_innerDigest);
}

CHMAC_SHA1::~CHMAC_SHA1() { memset(m_keyBlock, 0, sizeof m_keyBlock); }

void CHMAC_SHA1::ComputeHmac(const unsigned char* text, int textLength, const unsigned char* key, int keyLength,
                             unsigned char* digest)
{
    if (!text || textLength < 0) textLength = 0;
    if (!key || keyLength < 0) keyLength = 0;

    memset(m_keyBlock, 0, sizeof m_keyBlock);
    memset(m_ipad, 0x36, sizeof m_ipad);
    memset(m_opad, 0x5c, sizeof m_opad);

    // A key longer than a block is replaced by its digest.
    if (keyLength > (int)sizeof m_keyBlock) {
        Reset();
        Update(key, (uint32_t)keyLength);
        Final();
        GetHash(m_keyBlock);
    } else if (keyLength > 0) {
        memcpy(m_keyBlock, key, (size_t)keyLength);
    }

    // Inner hash: (key ^ ipad), text.
    for (size_t i = 0; i < sizeof m_ipad; i++) m_ipad[i] ^= m_keyBlock[i];
    Reset();
    Update(m_ipad, sizeof m_ipad);
    if (textLength > 0) Update(text, (uint32_t)textLength);
    Final();
    GetHash(m_innerDigest);

    // Outer hash: (key ^ opad), inner digest.
    for (size_t i = 0; i < sizeof m_opad; i++) m_opad[i] ^= m_keyBlock[i];
    Reset();
    Update(m_opad, sizeof m_opad);
    Update(m_innerDigest, sizeof m_innerDigest);
    Final();
    GetHash(digest);

    memset(m_keyBlock, 0, sizeof m_keyBlock);
    memset(m_ipad, 0, sizeof m_ipad);
    memset(m_opad, 0, sizeof m_opad);
    memset(m_innerDigest, 0, sizeof m_innerDigest);
}
