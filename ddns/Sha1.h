// SHA-1 (FIPS 180-1) as the class CSHA1. Each object owns its chaining
// state, its partial block and a 16-word workspace that holds the message
// schedule; there is no shared state.
#pragma once
#include <cstdint>

class CSHA1 {
public:
    CSHA1();
    ~CSHA1();
    CSHA1(const CSHA1&) = delete;
    CSHA1& operator=(const CSHA1&) = delete;

    // Starts a new message.
    void Reset();
    // Hashes length more bytes; any split of a message gives the same digest.
    void Update(const unsigned char* data, uint32_t length);
    // Pads, appends the bit count and fills the digest, then wipes the
    // working state. Hash again only after Reset.
    void Final();
    // Copies the 20 digest bytes of the last Final.
    void GetHash(unsigned char* destination) const;

private:
    // Compresses one 64-byte block into state.
    void Transform(uint32_t state[5], const unsigned char block[64]);

    uint32_t m_state[5];
    uint32_t m_count[2];        // message bits, low word first
    unsigned char m_buffer[64]; // the block being filled
    unsigned char m_digest[20];
    uint32_t m_workspace[16]; // the block in hand; circular schedule
    uint32_t* m_block;        // m_workspace as sixteen words
};
