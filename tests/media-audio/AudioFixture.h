// Test stand-ins for the audio path: audio frames built from the wire
// format (128-byte block, 32-byte frame header, payload), connection 0's
// stream, view and handshake records wired together with an audio ring and
// a held-frame buffer, and the fake sound device.
#pragma once
#include "control/Speaker.h"
#include "control/View.h"
#include "link/Conn.h"
#include "link/Tavn.h"
#include "media/Audio.h"
#include "media/Stream.h"
#include "platform/dsound/DSound.h"
#include "platform/win/Win.h"
#include "tests/support/ModuleReset.h"
#include "tests/support/VidoFrames.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

// One audio frame as it lies in the stream's audio ring.
struct AudioFrameDesc {
    uint32_t blockChannel = 0;
    uint32_t requestNumber = 0;
    int64_t totalLength = -1; // -1: 160 + payload
    uint32_t time = 5000;
    uint32_t frameNumber = 3;
    uint32_t headerChannel = 0;
    int64_t unitLength = -1; // -1: (32 + payload) / 64, rounded up
    uint32_t source = 0;     // 0 live, 1 recorded, 3 local file
    uint32_t kind = 2;       // header kind: 2 audio
    Bytes payload;
};

// Payload byte i: the odd bytes carry a ramp the tests recognise, the even
// bytes a constant that must never be heard.
inline Bytes AudioPayload(size_t n, uint32_t seed = 0)
{
    Bytes p(n);
    for (size_t i = 0; i < n; ++i) p[i] = (i & 1) ? (uint8_t)(seed + i / 2) : 0xEE;
    return p;
}

// The frame unit: a kind-2 block and header; the words an audio frame
// does not use stay 0.
inline Bytes AudioFrame(const AudioFrameDesc& f)
{
    FrameDesc d;
    d.channel = f.blockChannel;
    d.channelSequence = d.streamSequence = d.framePeriod = 0;
    d.kind = 2;
    d.requestNumber = f.requestNumber;
    d.totalLength = f.totalLength;
    d.time = f.time;
    d.frameNumber = f.frameNumber;
    d.headerKind = f.kind;
    d.width = d.height = 0;
    d.headerChannel = f.headerChannel;
    d.unitLength = f.unitLength;
    d.source = f.source;
    d.timeScale = 0;
    d.payload = f.payload;
    return FrameBytes(d);
}

// A unit of `units` x 64 bytes, the header included: its payload is 32
// bytes shorter.
inline AudioFrameDesc UnitFrame(uint32_t units, uint32_t seed = 0)
{
    AudioFrameDesc f;
    f.payload = AudioPayload(64 * units - 32, seed);
    f.unitLength = units;
    return f;
}

// What the fake backup writer was handed.
struct BackupSeen {
    std::vector<Bytes> frames;
};
inline BackupSeen gBackupSeen;

// The two takes as the running viewer makes them: the user-interface thread
// publishes the view's words before each stream step.
inline int TakeAudio(TStreamRecord* s)
{
    Audio_PublishViews();
    return Audio_TakeFrame(s);
}
inline int TakeBackupAudio(TStreamRecord* s)
{
    Audio_PublishViews();
    return Stream_TakeAudioFrame(s);
}
inline int FakeBackup(TStreamRecord* s)
{
    gBackupSeen.frames.emplace_back(s->heldBuffer, s->heldBuffer + s->heldLength);
    s->heldLength = 0;
    return 0;
}

class AudioTest : public ::testing::Test {
protected:
    TConnection* c = &gConnections[0];
    TStreamRecord* s = &gStreamRecords[0];
    TViewRecord* v = &gViewRecords[0];
    static inline uint8_t held[1 << 16];

    void SetUp() override
    {
        DSound_ForceDevice(SOUND_DEVICE_FAKE);
        Sound_Stop();
        FakeSound_Reset();
        DSound_ClearBeeps();
        Modules_ResetAll();
        c->stream = s;
        s->connection = c;
        c->view = v;
        v->connection = c;
        c->handshake = &gHandshakeRecords[0];
        gHandshakeRecords[0].connection = c;
        gHandshakeRecords[0].machine.channelCount = 4;
        ASSERT_EQ(0, Stream_AllocAudioRing(s, STREAM_RING_SIZE));
        s->heldBuffer = held;
        v->mode = VIEW_LIVE;
        v->icmdSequence = 7;
        v->liveBlock.liveLayout = LAYOUT_SINGLE;
        v->liveBlock.liveChannel = 0;
        v->playbackBlock.playbackChannel = 0;
        v->backupBlock.backupChannel = 0;
        gSoundRing.heardChannel.store(0);
        gSoundRing.started.store(0);
        gSoundRing.silenceValue = 0;
        gSpeakerState.audioOn.store(1);
        gBackupSeen.frames.clear();
        Audio_SetBackupHandOff(FakeBackup);
    }
    void TearDown() override
    {
        Sound_Stop();
        Audio_SetBackupHandOff(nullptr);
        Win_SetTimeSource(nullptr);
        gAlarmUntil.store(0);
    }

    void Push(const AudioFrameDesc& f)
    {
        Bytes b = AudioFrame(f);
        ASSERT_EQ(0, StreamAudio_Write(&s->audioRing, b.data(), (uint32_t)b.size()));
    }
    uint32_t RingUsed() { return StreamAudio_Used(&s->audioRing); }
    // The sound ring's queued bytes, oldest first.
    Bytes Queued()
    {
        Bytes out;
        uint32_t r = gSoundRing.readIndex.load(), w = gSoundRing.writeIndex.load();
        while (r != w) {
            out.push_back(gSoundRing.data[r]);
            r = (r + 1) % gSoundRing.size;
        }
        return out;
    }
};
