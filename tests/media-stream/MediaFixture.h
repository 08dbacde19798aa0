// Test stand-ins for the frame stream: builders of VIDO frame blocks,
// frame headers and VIDO messages written from the wire format, a fake
// decoder and backup writer that record what they are handed, and the
// connection, view, handshake and stream records wired up over the link
// fixture's fake sockets and clock.
#pragma once
#include "../link/LinkFixture.h"
#include "control/View.h"
#include "link/Tavn.h"
#include "media/H264Params.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include "tests/support/VidoFrames.h"
#include "control/Speaker.h"
#include "media/Decoder.h"
#include "media/Hooks.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

// A "VIDO" module message: header, sub-header {session, op}, body.
inline Bytes VidoMessage(uint32_t session, uint32_t op, const Bytes& body)
{
    Bytes m(64, 0);
    memcpy(&m[4], "VIDO", 4);
    PutU32(m, 32, session);
    PutU32(m, 36, op);
    m.insert(m.end(), body.begin(), body.end());
    PutU32(m, 0, (uint32_t)m.size());
    size_t covered = m.size() - 32;
    PutU32(m, 8, covered <= 1024 ? RefByteSum(m.data() + 32, covered) : RefSparse(m.data() + 32, covered));
    return m;
}

// A payload whose bytes say which frame it is.
inline Bytes Marked(uint32_t marker, size_t n)
{
    Bytes p(n);
    for (size_t i = 0; i < n; ++i) p[i] = (uint8_t)(marker * 31 + i * 7 + (i >> 8));
    return p;
}

// What the fake decoder and backup writer were handed.
struct HandOff {
    Bytes bytes;
    uint32_t channel;
    uint32_t tick; // fake clock when handed over
};
inline std::vector<HandOff> gDecodes;
inline std::vector<HandOff> gBackups;
inline int32_t gFailNextDecode = 0; // the fake decoder reports a failed slice

inline int RecordDecode(const uint8_t* buffer, uint32_t length, uint32_t channel)
{
    gDecodes.push_back({Bytes(buffer, buffer + length), channel, gFakeTick});
    if (gFailNextDecode) {
        gFailNextDecode = 0;
        gSliceStatus = -1;
    }
    return 1;
}

inline int RecordBackup(TStreamRecord* s)
{
    if (s->heldLength == 0) return 0;
    gBackups.push_back({Bytes(s->heldBuffer, s->heldBuffer + s->heldLength), 0, gFakeTick});
    s->heldLength = 0;
    return 0;
}

// Connection 0 logged in with session 0x1111, its view, handshake, VIDO
// state and stream record linked, the hand-offs recorded.
class MediaTest : public LinkTest {
protected:
    static constexpr uint32_t kSession = 0x1111;

    void SetUp() override
    {
        LinkTest::SetUp();
        // The view records zeroed rather than at their start values: each
        // test sets the mode and blocks it needs.
        memset(gViewRecords, 0, sizeof gViewRecords);
        for (uint32_t i = 0; i < CONN_COUNT; ++i) {
            C(i)->handshake = &gHandshakeRecords[i];
            gHandshakeRecords[i].connection = C(i);
            C(i)->view = &gViewRecords[i];
            gViewRecords[i].connection = C(i);
        }
        Conn_AllocFrameRing(C(0), CONN_FRAME_RING_SIZE);
        Vido_Init();
        Stream_Init();
        C(0)->session = kSession;
        C(0)->linkState = LINK_LOGGED_IN;
        C(0)->active = 1;
        Machine().socketCount = 2;
        gDecodes.clear();
        gBackups.clear();
        gFailNextDecode = 0;
        gSliceStatus = 0;
        gAudioAvailable.store(0);
        Stream_SetHandOffs(RecordDecode, RecordBackup);
    }

    void TearDown() override
    {
        Stream_SetHandOffs(nullptr, nullptr);
        LinkTest::TearDown();
    }

    TStreamRecord* S() { return &gStreamRecords[0]; }
    TViewRecord* View() { return &gViewRecords[0]; }
    TMachineRecord& Machine() { return gHandshakeRecords[0].machine; }
    TVidoReorderQueue& Queue() { return C(0)->vidoQueue; }
    TVidoStatusReport& Report() { return gVidoStates[0].report; }

    // Delivers one payload of messages as the link does.
    void Deliver(const Bytes& payload) { Msg_DispatchReceived(kSession, payload.data(), (uint32_t)payload.size()); }
    void Arrive(const FrameDesc& f) { Deliver(VidoMessage(kSession, 0, FrameBytes(f))); }

    // Puts a frame straight into the stream's video ring, as the reorder
    // queue would.
    void Push(const FrameDesc& f)
    {
        Bytes b = FrameBytes(f);
        TFrameRing& v = S()->videoRing;
        ASSERT_EQ(Ring_Write(b.data(), v.data, (uint32_t)b.size(), &v.writeIndex, &v.readIndex, v.size), 0);
    }

    // The blocks in the stream's video ring, taken out.
    std::vector<Bytes> DrainVideo()
    {
        std::vector<Bytes> out;
        TFrameRing& v = S()->videoRing;
        while (Ring_Used(v.writeIndex, v.readIndex, v.size) >= 128) {
            Bytes b(128);
            EXPECT_EQ(Ring_Read(v.data, b.data(), 128, &v.writeIndex, &v.readIndex, v.size), 0);
            uint32_t total = GetU32(b, 0);
            b.resize(total);
            EXPECT_EQ(Ring_Read(v.data, b.data() + 128, total - 128, &v.writeIndex, &v.readIndex, v.size), 0);
            out.push_back(b);
        }
        return out;
    }

    // One main-loop tick of the fake clock: ms milliseconds pass, then the
    // stream step runs.
    void Tick(uint32_t ms = 10)
    {
        gFakeTick += ms;
        Stream_Pump();
    }

    static Bytes ParamSets(uint32_t width, uint32_t height)
    {
        uint8_t buf[H264_PARAM_SETS_MAX];
        uint32_t n = 0;
        EXPECT_EQ(H264_MakeParamSets(width, height, buf, &n, H264_FORM_AVC1), 0);
        return Bytes(buf, buf + n);
    }
};
