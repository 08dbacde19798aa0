// SHA-1 after FIPS 180-1: CSHA1's update, final and the 80-step
// compression written out in full. The message schedule lives in each
// object's 16-word workspace; nothing is shared between objects.
#include "ddns/Sha1.h"
#include <cstring>

#define SHA1_ROL(value, bits) (((value) << (bits)) | ((value) >> (32 - (bits))))

// Word i of the block in hand, turned from big-endian in place on the first
// use (the byte swap by rotations and masks).
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define SHA1_BLK0(i) (m_block[i])
#else
#define SHA1_BLK0(i) (m_block[i] = (SHA1_ROL(m_block[i], 24) & 0xFF00FF00u) | (SHA1_ROL(m_block[i], 8) & 0x00FF00FFu))
#endif
// Schedule word i for i >= 16, kept in the circular 16-word array.
#define SHA1_BLK(i)                                                                                                    \
    (m_block[(i)&15] =                                                                                                 \
         SHA1_ROL(m_block[((i) + 13) & 15] ^ m_block[((i) + 8) & 15] ^ m_block[((i) + 2) & 15] ^ m_block[(i)&15], 1))

// One step of each group; the caller rotates the roles of the five words.
#define SHA1_R0(v, w, x, y, z, i)                                                                                      \
    do {                                                                                                               \
        z += ((w & (x ^ y)) ^ y) + SHA1_BLK0(i) + 0x5A827999u + SHA1_ROL(v, 5);                                        \
        w = SHA1_ROL(w, 30);                                                                                           \
    } while (0)
#define SHA1_R1(v, w, x, y, z, i)                                                                                      \
    do {                                                                                                               \
        z += ((w & (x ^ y)) ^ y) + SHA1_BLK(i) + 0x5A827999u + SHA1_ROL(v, 5);                                         \
        w = SHA1_ROL(w, 30);                                                                                           \
    } while (0)
#define SHA1_R2(v, w, x, y, z, i)                                                                                      \
    do {                                                                                                               \
        z += (w ^ x ^ y) + SHA1_BLK(i) + 0x6ED9EBA1u + SHA1_ROL(v, 5);                                                 \
        w = SHA1_ROL(w, 30);                                                                                           \
    } while (0)
#define SHA1_R3(v, w, x, y, z, i)                                                                                      \
    do {                                                                                                               \
        z += (((w | x) & y) | (w & x)) + SHA1_BLK(i) + 0x8F1BBCDCu + SHA1_ROL(v, 5);                                   \
        w = SHA1_ROL(w, 30);                                                                                           \
    } while (0)
#define SHA1_R4(v, w, x, y, z, i)                                                                                      \
    do {                                                                                                               \
        z += (w ^ x ^ y) + SHA1_BLK(i) + 0xCA62C1D6u + SHA1_ROL(v, 5);                                                 \
        w = SHA1_ROL(w, 30);                                                                                           \
    } while (0)

CSHA1::CSHA1()
{
    m_block = m_workspace;
    Reset();
}

CSHA1::~CSHA1() { Reset(); }

void CSHA1::Reset()
{
    m_state[0] = 0x67452301u;
    m_state[1] = 0xEFCDAB89u;
    m_state[2] = 0x98BADCFEu;
    m_state[3] = 0x10325476u;
    m_state[4] = 0xC3D2E1F0u;
    m_count[0] = 0;
    m_count[1] = 0;
}

void CSHA1::Transform(uint32_t state[5], const unsigned char block[64])
{
    memcpy(m_workspace, block, sizeof m_workspace);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];

    // Steps 0 to 19
    SHA1_R0(a, b, c, d, e, 0);
    SHA1_R0(e, a, b, c, d, 1);
    SHA1_R0(d, e, a, b, c, 2);
    SHA1_R0(c, d, e, a, b, 3);
    SHA1_R0(b, c, d, e, a, 4);
    SHA1_R0(a, b, c, d, e, 5);
    SHA1_R0(e, a, b, c, d, 6);
    SHA1_R0(d, e, a, b, c, 7);
    SHA1_R0(c, d, e, a, b, 8);
    SHA1_R0(b, c, d, e, a, 9);
    SHA1_R0(a, b, c, d, e, 10);
    SHA1_R0(e, a, b, c, d, 11);
    SHA1_R0(d, e, a, b, c, 12);
    SHA1_R0(c, d, e, a, b, 13);
    SHA1_R0(b, c, d, e, a, 14);
    SHA1_R0(a, b, c, d, e, 15);
    SHA1_R1(e, a, b, c, d, 16);
    SHA1_R1(d, e, a, b, c, 17);
    SHA1_R1(c, d, e, a, b, 18);
    SHA1_R1(b, c, d, e, a, 19);

    // Steps 20 to 39
    SHA1_R2(a, b, c, d, e, 20);
    SHA1_R2(e, a, b, c, d, 21);
    SHA1_R2(d, e, a, b, c, 22);
    SHA1_R2(c, d, e, a, b, 23);
    SHA1_R2(b, c, d, e, a, 24);
    SHA1_R2(a, b, c, d, e, 25);
    SHA1_R2(e, a, b, c, d, 26);
    SHA1_R2(d, e, a, b, c, 27);
    SHA1_R2(c, d, e, a, b, 28);
    SHA1_R2(b, c, d, e, a, 29);
    SHA1_R2(a, b, c, d, e, 30);
    SHA1_R2(e, a, b, c, d, 31);
    SHA1_R2(d, e, a, b, c, 32);
    SHA1_R2(c, d, e, a, b, 33);
    SHA1_R2(b, c, d, e, a, 34);
    SHA1_R2(a, b, c, d, e, 35);
    SHA1_R2(e, a, b, c, d, 36);
    SHA1_R2(d, e, a, b, c, 37);
    SHA1_R2(c, d, e, a, b, 38);
    SHA1_R2(b, c, d, e, a, 39);

    // Steps 40 to 59
    SHA1_R3(a, b, c, d, e, 40);
    SHA1_R3(e, a, b, c, d, 41);
    SHA1_R3(d, e, a, b, c, 42);
    SHA1_R3(c, d, e, a, b, 43);
    SHA1_R3(b, c, d, e, a, 44);
    SHA1_R3(a, b, c, d, e, 45);
    SHA1_R3(e, a, b, c, d, 46);
    SHA1_R3(d, e, a, b, c, 47);
    SHA1_R3(c, d, e, a, b, 48);
    SHA1_R3(b, c, d, e, a, 49);
    SHA1_R3(a, b, c, d, e, 50);
    SHA1_R3(e, a, b, c, d, 51);
    SHA1_R3(d, e, a, b, c, 52);
    SHA1_R3(c, d, e, a, b, 53);
    SHA1_R3(b, c, d, e, a, 54);
    SHA1_R3(a, b, c, d, e, 55);
    SHA1_R3(e, a, b, c, d, 56);
    SHA1_R3(d, e, a, b, c, 57);
    SHA1_R3(c, d, e, a, b, 58);
    SHA1_R3(b, c, d, e, a, 59);

    // Steps 60 to 79
    SHA1_R4(a, b, c, d, e, 60);
    SHA1_R4(e, a, b, c, d, 61);
    SHA1_R4(d, e, a, b, c, 62);
    SHA1_R4(c, d, e, a, b, 63);
    SHA1_R4(b, c, d, e, a, 64);
    SHA1_R4(a, b, c, d, e, 65);
    SHA1_R4(e, a, b, c, d, 66);
    SHA1_R4(d, e, a, b, c, 67);
    SHA1_R4(c, d, e, a, b, 68);
    SHA1_R4(b, c, d, e, a, 69);
    SHA1_R4(a, b, c, d, e, 70);
    SHA1_R4(e, a, b, c, d, 71);
    SHA1_R4(d, e, a, b, c, 72);
    SHA1_R4(c, d, e, a, b, 73);
    SHA1_R4(b, c, d, e, a, 74);
    SHA1_R4(a, b, c, d, e, 75);
    SHA1_R4(e, a, b, c, d, 76);
    SHA1_R4(d, e, a, b, c, 77);
    SHA1_R4(c, d, e, a, b, 78);
    SHA1_R4(b, c, d, e, a, 79);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

void CSHA1::Update(const unsigned char* data, uint32_t length)
{
    uint32_t j = (m_count[0] >> 3) & 63;
    uint32_t bits = length << 3;
    m_count[0] += bits;
    if (m_count[0] < bits) m_count[1]++;
    m_count[1] += length >> 29;

    uint32_t i = 0;
    if (length > 63 - j) {
        i = 64 - j;
        memcpy(&m_buffer[j], data, i);
        Transform(m_state, m_buffer);
        for (; length - i > 63; i += 64) Transform(m_state, &data[i]);
        j = 0;
    }
    if (length > i) memcpy(&m_buffer[j], &data[i], length - i);
}

void CSHA1::Final()
{
    // The bit count, high word first, each word big-endian.
    unsigned char lengthBlock[8];
    for (int i = 0; i < 8; i++) lengthBlock[i] = (unsigned char)(m_count[i < 4 ? 1 : 0] >> ((3 - (i & 3)) * 8));

    const unsigned char marker = 0x80;
    const unsigned char zero = 0;
    Update(&marker, 1);
    while ((m_count[0] & 504) != 448) Update(&zero, 1);
    Update(lengthBlock, 8);

    for (int i = 0; i < 20; i++) m_digest[i] = (unsigned char)(m_state[i >> 2] >> ((3 - (i & 3)) * 8));

    // Leave nothing of the message behind; the digest stays.
    memset(m_buffer, 0, sizeof m_buffer);
    memset(m_state, 0, sizeof m_state);
    memset(m_count, 0, sizeof m_count);
    memset(lengthBlock, 0, sizeof lengthBlock);
    Transform(m_state, m_buffer);
}

void CSHA1::GetHash(unsigned char* destination) const { memcpy(destination, m_digest, sizeof m_digest); }
