// Test stand-ins for the link: fake sockets that record what is sent,
// fake clocks, and builders of module messages, ULCM packets and HTTP
// answers written from the wire format.
#pragma once
#include "link/Bytes.h"
#include "link/Conn.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "link/Ulcm.h"
#include "platform/vcl/Vcl.h"
#include "platform/win/Win.h"
#include "tests/support/ModuleReset.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

class FakeWinSocket : public TCustomWinSocket {
public:
    bool connected = true;
    std::vector<Bytes> sent;
    bool Connected() const override { return connected; }
    int SendBuf(const void* buf, int count) override
    {
        sent.emplace_back((const uint8_t*)buf, (const uint8_t*)buf + count);
        return count;
    }
    int ReceiveLength() override { return 0; }
    int ReceiveBuf(void*, int) override { return 0; }
    intptr_t SocketHandle() const override { return -1; }
};

class FakeClientSocket : public TClientSocket {
public:
    FakeClientSocket() : TClientSocket(nullptr) {}
    FakeWinSocket win;
    AnsiString host;
    int port = 0;
    bool active = false;
    int opens = 0;
    int closes = 0;
    AnsiString Host() const override { return host; }
    void SetHost(const AnsiString& h) override { host = h; }
    int Port() const override { return port; }
    void SetPort(int p) override { port = p; }
    bool Active() const override { return active; }
    void SetActive(bool value) override
    {
        if (value) ++opens;
        active = value;
    }
    void Close() override
    {
        ++closes;
        active = false;
    }
    TCustomWinSocket* Socket() const override { return const_cast<FakeWinSocket*>(&win); }
};

inline uint32_t gFakeTick = 0;
inline int64_t gFakeTime = 0x5F3A1B2C;
inline uint32_t FakeTick() { return gFakeTick; }
inline int64_t FakeTime() { return gFakeTime; }

inline void PutU32(Bytes& b, size_t at, uint32_t v)
{
    if (b.size() < at + 4) b.resize(at + 4);
    PutU32(b.data() + at, v);
}

inline uint32_t GetU32(const Bytes& b, size_t at) { return GetU32(b.data() + at); }

// Reference checksums, from the wire rules.
inline uint32_t RefByteSum(const uint8_t* p, size_t n)
{
    uint32_t s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i];
    return s;
}

inline uint32_t RefSparse(const uint8_t* p, size_t n)
{
    uint32_t s = 0;
    for (size_t k = 0; k + 1024 <= n; k += 1024) {
        s += (uint32_t)p[k] | ((uint32_t)p[k + 1] << 8) | ((uint32_t)p[k + 2] << 16) | ((uint32_t)p[k + 3] << 24);
    }
    return s;
}

// A module message of total bytes: header, sub-header with the session,
// then a body of a recognisable pattern; the checksum is right unless
// told otherwise.
inline Bytes ModuleMessage(const char* code, uint32_t total, uint32_t session, uint8_t seed = 1)
{
    Bytes m(total, 0);
    for (uint32_t i = 64; i < total; ++i) m[i] = (uint8_t)(seed + i * 7);
    PutU32(m, 0, total);
    memcpy(&m[4], code, 4);
    if (total >= 36) PutU32(m, 32, session);
    uint32_t covered = total - 32;
    uint32_t sum = covered <= 1024 ? RefByteSum(m.data() + 32, covered) : RefSparse(m.data() + 32, covered);
    PutU32(m, 8, sum);
    return m;
}

inline Bytes UlcmPacket(uint32_t type, uint32_t session, uint32_t connection, const Bytes& payload = {})
{
    Bytes p(64, 0);
    PutU32(p, 0, 64 + (uint32_t)payload.size());
    memcpy(&p[4], "ULCM", 4);
    PutU32(p, 8, type);
    PutU32(p, 12, session);
    PutU32(p, 52, connection);
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

inline Bytes HttpAnswer(const Bytes& body, const char* status = "HTTP/1.1 200 OK")
{
    std::string head = std::string(status) +
                       "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\n\r\n";
    Bytes a(head.begin(), head.end());
    a.insert(a.end(), body.begin(), body.end());
    return a;
}

inline Bytes Concat(const Bytes& a, const Bytes& b)
{
    Bytes r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

// What a socket read event does: bytes appended to the receive buffer.
inline void Feed(TConnection* c, uint32_t s, const uint8_t* bytes, size_t n)
{
    TRingDesc& rb = c->receive[s];
    ASSERT_NE(rb.data, nullptr);
    ASSERT_LE(rb.writeIndex + n, rb.size);
    memcpy(rb.data + rb.writeIndex, bytes, n);
    rb.writeIndex += (uint32_t)n;
}

// Records every receive of the test modules: a snapshot of the buffer.
enum { TEST_BUFFER = 4096 };
inline std::vector<Bytes> gDeliveries;
inline uint8_t gTestBuffer[TEST_BUFFER];
inline void TestReceive() { gDeliveries.emplace_back(gTestBuffer, gTestBuffer + TEST_BUFFER); }

// True when the buffer snapshot holds the message from its offset 32 on.
inline bool HoldsMessage(const Bytes& snapshot, const Bytes& message)
{
    return message.size() >= 32 && snapshot.size() >= message.size() - 32 &&
           std::equal(message.begin() + 32, message.end(), snapshot.begin());
}

// The two connection records, each with two fake sockets, a fresh
// registry, every module's state as a fresh control's (Modules_ResetAll)
// and clocks under the test's control.
class LinkTest : public ::testing::Test {
protected:
    FakeClientSocket sockets[2][2];

    void SetUp() override
    {
        gFakeTick = 1000;
        gFakeTime = 0x5F3A1B2C;
        Win_SetTickSource(FakeTick);
        Win_SetTimeSource(FakeTime);
        Msg_ResetRegistry();
        gDeliveries.clear();
        Modules_ResetAll();
        for (uint32_t c = 0; c < 2; ++c) {
            gConnections[c].socket[0] = &sockets[c][0];
            gConnections[c].socket[1] = &sockets[c][1];
            Conn_ResetReceiveBuffer(&gConnections[c], 0);
            Conn_ResetReceiveBuffer(&gConnections[c], 1);
            Conn_ResetSendRing(c);
        }
    }

    void TearDown() override
    {
        for (uint32_t c = 0; c < 2; ++c) gConnections[c].socket[0] = gConnections[c].socket[1] = nullptr;
        Win_SetTickSource(nullptr);
        Win_SetTimeSource(nullptr);
        Msg_ResetRegistry();
    }

    FakeWinSocket& Wire(uint32_t c, uint32_t s) { return sockets[c][s].win; }
    TConnection* C(uint32_t i) { return &gConnections[i]; }
};
