// Recorder data gone wrong: valid "VIDO" messages (video and audio frames
// of several channels, every view mode, one and two recorder sockets) are
// mutated by a fixed pseudo-random sequence (flipped bytes, messages cut
// at every length class, length, channel and sequence words overwritten
// with extreme values) and fed through the whole receive side: the module
// dispatch, the reorder queue, the stream step with the fake decoder and
// backup writer, and the audio take on the fake sound device. The
// sanitizer build catches any read or write out of bounds; the checks here
// keep every ring index inside its ring and the reorder queue's count true.
#include "MediaFixture.h"
#include "control/Speaker.h"
#include "media/Audio.h"
#include "media/SoundRing.h"
#include "platform/dsound/DSound.h"

namespace {

// xorshift64*: the same sequence on every run.
struct Rng {
    uint64_t s;
    uint32_t Next()
    {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return (uint32_t)((s * 0x2545F4914F6CDD1Dull) >> 32);
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
};

const uint32_t kExtremes[] = {0, 1, 127, 128, 159, 160, 0x3FFFF, 0x40000, 0x7FFFFFFF, 0xFFFFFFFF};

// Message offsets of the words a recorder could get wrong: module header,
// sub-header, frame block (at 64) and frame header (at 192).
const uint32_t kWords[] = {
    0,       8,       32,      36,                                               // length, checksum, session, op
    64 + 0,  64 + 8,  64 + 12, 64 + 20,  64 + 24,  64 + 32,  64 + 36,  64 + 40,  // block
    64 + 48, 64 + 52,                                                            // kind, request number
    192 + 0, 192 + 4, 192 + 8, 192 + 12, 192 + 16, 192 + 20, 192 + 24, 192 + 28, // frame header
};

// Lengths a message is cut to: around the module header, the sub-header,
// the frame block and the frame header.
const uint32_t kCuts[] = {0, 1, 4, 8, 12, 31, 32, 33, 36, 40, 63, 64, 65, 68, 127, 191, 192, 193, 223, 224, 225};

// The message's checksum over what its length word covers, when that is
// a real length.
void FixChecksum(Bytes& m)
{
    if (m.size() < 12) return;
    uint32_t length = GetU32(m, 0);
    if (length < 32 || length > m.size()) return;
    uint32_t covered = length - 32;
    PutU32(m, 8, covered <= 1024 ? RefByteSum(m.data() + 32, covered) : RefSparse(m.data() + 32, covered));
}

void SetLength(Bytes& m)
{
    if (m.size() >= 4) PutU32(m, 0, (uint32_t)m.size());
}

// Backup-mode audio frames, handed over by the stream step's audio take.
size_t gAudioBackups = 0;
int RecordAudioBackup(TStreamRecord* s)
{
    gAudioBackups += s->heldLength != 0;
    return RecordBackup(s);
}

class MutationTest : public MediaTest {
protected:
    Rng rng{0x7A51C0DE2026ull};
    uint32_t streamSequence = 1;
    uint32_t channelSequence[17] = {};
    uint32_t recorderTime = 100000;
    uint32_t frameNumber = 0;
    // What got through, so that a run that reaches nothing cannot pass.
    size_t decoded = 0, backedUp = 0, audioTaken = 0;

    void SetUp() override
    {
        MediaTest::SetUp();
        DSound_ForceDevice(SOUND_DEVICE_FAKE);
        Sound_Stop();
        FakeSound_Reset();
        gSoundRing.heardChannel.store(0);
        gSoundRing.started.store(0);
        gSpeakerState.audioOn.store(1);
        Audio_SetBackupHandOff(RecordAudioBackup);
        gAudioBackups = 0;
        View()->icmdSequence = 9;
        View()->liveBlock.liveLayout = LAYOUT_SINGLE;
        View()->liveBlock.liveChannel = 0;
        View()->playbackBlock.playbackChannel = 0;
        View()->backupBlock.backupChannel = 0;
        for (uint32_t& n : channelSequence) n = 1;
    }

    void TearDown() override
    {
        Sound_Stop();
        Audio_SetBackupHandOff(nullptr);
        MediaTest::TearDown();
    }

    uint32_t SourceFor(uint32_t mode)
    {
        if (rng.OneIn(40)) return rng.Below(4);
        switch (mode) {
        case VIEW_LIVE: return SOURCE_LIVE;
        case VIEW_LOCAL_PLAYBACK: return SOURCE_LOCAL_FILE;
        default: return SOURCE_RECORDED;
        }
    }

    // A valid frame of the kind the recorder sends in this mode; kind 0
    // video, 2 audio, 1 either.
    FrameDesc ValidFrame(uint32_t mode, uint32_t kind = 1)
    {
        static const uint32_t videoChannels[] = {0, 0, 0, 1, 1, 2, 3, 7, 15, 16};
        static const uint32_t payloads[] = {0, 1, 31, 32, 33, 96, 500, 1000, 3000, 9000};
        FrameDesc f;
        bool audio = kind == 1 ? rng.OneIn(3) : kind == 2;
        f.kind = audio ? 2 : 0;
        f.headerKind = audio ? 2 : 1;
        f.channel = audio ? rng.Below(2) : videoChannels[rng.Below(10)];
        f.headerChannel = f.channel & 15;
        f.source = SourceFor(mode);
        f.type = rng.OneIn(3) ? 0 : 1;
        f.framePeriod = rng.OneIn(40) ? rng.Next() : 33 + rng.Below(10);
        f.channelSequence = channelSequence[f.channel]++;
        f.streamSequence = streamSequence++;
        f.requestNumber = rng.OneIn(4) ? View()->icmdSequence : 0;
        if (++frameNumber >= 30) {
            frameNumber = 0;
            recorderTime += 1;
        }
        f.time = recorderTime;
        f.frameNumber = frameNumber;
        f.newestSecond = recorderTime + rng.Below(3);
        f.newestFrame = rng.Below(30);
        f.timeScale = rng.OneIn(4) ? 0 : (rng.OneIn(2) ? 600 : 500);
        f.timeOffset = (int32_t)rng.Below(3) - 1;
        f.fieldMode = rng.Below(2);
        if (audio) {
            // Sound travels a little behind its video, as the recorder sends it.
            f.time = recorderTime - 1;
            uint32_t units = 1 + rng.Below(120); // 64 to 7,680 bytes with the header
            f.payload = Marked(f.streamSequence, 64 * units - 32);
        } else {
            // Now and then the largest block the stream takes, or one byte more.
            uint32_t n = rng.OneIn(150) ? STREAM_MAX_BLOCK - 160 - rng.Below(2) : payloads[rng.Below(10)];
            f.payload = Marked(f.streamSequence, n);
        }
        return f;
    }

    // One valid message, then one to three mutations of it. Its numbers are
    // handed out again to the next valid frame, so that a broken message
    // does not leave a gap in the recorder's sequence.
    Bytes Mutated(uint32_t mode, uint32_t kind = 1)
    {
        FrameDesc f = ValidFrame(mode, kind);
        streamSequence -= 1;
        channelSequence[f.channel] -= 1;
        Bytes m = VidoMessage(kSession, 0, FrameBytes(f));
        uint32_t mutations = 1 + rng.Below(3);
        bool keepLength = true;
        for (uint32_t i = 0; i < mutations; ++i) {
            switch (rng.Below(5)) {
            case 0: { // flip bytes
                uint32_t flips = 1 + rng.Below(4);
                for (uint32_t k = 0; k < flips && !m.empty(); ++k)
                    m[rng.Below((uint32_t)m.size())] ^= (uint8_t)(1 + rng.Below(255));
                break;
            }
            case 1: { // cut at a length class, or anywhere
                uint32_t cut = rng.OneIn(3) ? rng.Below((uint32_t)m.size() + 1) : kCuts[rng.Below(sizeof kCuts / 4)];
                if (cut < m.size()) m.resize(cut);
                if (rng.OneIn(2) && m.size() >= 68) PutU32(m, 64, (uint32_t)m.size() - 64); // the block agrees
                break;
            }
            case 2: { // an extreme value in a word that matters
                uint32_t at = kWords[rng.Below(sizeof kWords / 4)];
                if (at == 0) keepLength = false;
                if (at + 4 <= m.size()) PutU32(m, at, kExtremes[rng.Below(sizeof kExtremes / 4)]);
                break;
            }
            case 3: { // an extreme unit length (frame header bytes 18 and 19)
                uint32_t v = kExtremes[rng.Below(sizeof kExtremes / 4)];
                if (m.size() >= 192 + 20) {
                    m[192 + 18] = (uint8_t)v;
                    m[192 + 19] = (uint8_t)(v >> 8);
                }
                break;
            }
            default: { // the block's total length off by a little
                if (m.size() >= 68) PutU32(m, 64, GetU32(m, 64) + rng.Below(65) - 32);
                break;
            }
            }
        }
        if (keepLength) SetLength(m);
        if (!rng.OneIn(8)) FixChecksum(m);
        return m;
    }

    // Puts bytes straight into a stream ring, as a producer that got its
    // lengths wrong would.
    void PushVideo(const Bytes& b)
    {
        TFrameRing& v = S()->videoRing;
        if (!b.empty()) Ring_Write(b.data(), v.data, (uint32_t)b.size(), &v.writeIndex, &v.readIndex, v.size);
    }
    void PushAudio(const Bytes& b)
    {
        if (!b.empty()) StreamAudio_Write(&S()->audioRing, b.data(), (uint32_t)b.size());
    }

    // A frame as it would lie in a stream ring (block first): valid, or
    // mutated, now and then with the module header still in front.
    Bytes RingBytes(uint32_t mode, uint32_t kind)
    {
        if (rng.OneIn(4)) return FrameBytes(ValidFrame(mode, kind));
        Bytes m = Mutated(mode, kind);
        if (!rng.OneIn(8)) m.erase(m.begin(), m.begin() + std::min<size_t>(64, m.size()));
        return m;
    }

    // The view words the recorder's own blocks carry, now and then at
    // their extremes.
    void ShakeView()
    {
        TViewRecord* v = View();
        uint32_t e = kExtremes[rng.Below(sizeof kExtremes / 4)];
        switch (rng.Below(6)) {
        case 0: v->liveBlock.liveChannel = rng.OneIn(2) ? e : rng.Below(3); break;
        case 1: v->liveBlock.liveLayout = rng.OneIn(2) ? e : rng.Below(4); break;
        case 2: v->playbackBlock.playbackChannel = rng.OneIn(2) ? e : rng.Below(3); break;
        case 3: v->playbackBlock.playbackDirection = (int32_t)e; break;
        case 4: v->backupBlock.backupChannel = rng.OneIn(2) ? e : rng.Below(3); break;
        default: gSoundRing.heardChannel.store(rng.OneIn(2) ? SOUND_HEARD_NONE : (int32_t)rng.Below(2)); break;
        }
    }

    // The view words back to a single live channel 0 that is heard.
    void CalmView()
    {
        TViewRecord* v = View();
        v->liveBlock.liveLayout = LAYOUT_SINGLE;
        v->liveBlock.liveChannel = 0;
        v->playbackBlock.playbackChannel = 0;
        v->backupBlock.backupChannel = 0;
        if (gSoundRing.heardChannel.load() > 1) gSoundRing.heardChannel.store(0);
    }

    // One tick of the viewer: the queue's delivery, the stream step, the
    // audio thread's pass with the device moving on.
    void Run()
    {
        Vido_DeliverInOrder(C(0));
        gFakeTick += 20 + rng.Below(60);
        Audio_PublishViews();
        Stream_Pump();
        uint32_t before = gSoundRing.writeIndex.load();
        for (uint32_t n = 0; n < AUDIO_TAKE_PER_PASS; ++n)
            if (Audio_TakeFrame(S()) == 1) break;
        audioTaken += gSoundRing.writeIndex.load() != before;
        for (uint32_t n = 0; n < 4; ++n) Sound_Feed();
        FakeSound_Advance(rng.Below(2048));
        // The status report the next poll carries, from whatever the
        // frames left in the state: always the one 320-byte message.
        Conn_ResetSendRing(0);
        Vido_Send(kSession, VIDO_OP_STATUS, nullptr, 0, rng.Below(2), 0);
        const TRingDesc* send = C(0)->sendRing;
        EXPECT_EQ(320u, Ring_Used(send->writeIndex, send->readIndex, send->size));
        decoded += gDecodes.size();
        backedUp += gBackups.size();
        gDecodes.clear();
        gBackups.clear();
    }

    static bool Inside(uint32_t write, uint32_t read, uint32_t size) { return write < size && read < size; }

    void CheckInvariants()
    {
        const TFrameRing& v = S()->videoRing;
        ASSERT_TRUE(Inside(v.writeIndex, v.readIndex, v.size)) << "video ring " << v.writeIndex << " " << v.readIndex;
        const TStreamAudioRing& a = S()->audioRing;
        ASSERT_TRUE(Inside(a.writeIndex.load(), a.readIndex.load(), a.size)) << "audio ring";
        const TRingDesc& f = C(0)->frameRing;
        ASSERT_TRUE(Inside(f.writeIndex, f.readIndex, f.size)) << "frame ring";
        ASSERT_TRUE(Inside(gSoundRing.writeIndex.load(), gSoundRing.readIndex.load(), gSoundRing.size)) << "sound ring";
        ASSERT_LE(S()->heldLength, (uint32_t)STREAM_RING_SIZE);
        uint32_t occupied = 0;
        for (const TVidoSlot& slot : Queue().slots) occupied += slot.length != 0;
        ASSERT_EQ(occupied, Queue().queuedCount) << "queued count";
        ASSERT_LE(Queue().arrivalsSinceDelivery, (uint32_t)VIDO_SLOTS);
    }
};

// Every base message cut at every length class, each length once as the
// module header says and once as the block says, in every mode.
TEST_F(MutationTest, EveryCutOfEveryMessageIsSafe)
{
    for (uint32_t mode = 0; mode < VIEW_MODE_COUNT; ++mode) {
        SCOPED_TRACE(mode);
        View()->mode = mode;
        for (uint32_t sockets = 1; sockets <= 2; ++sockets) {
            Machine().socketCount = sockets;
            for (uint32_t base = 0; base < 4; ++base) {
                Bytes whole = VidoMessage(kSession, 0, FrameBytes(ValidFrame(mode)));
                for (uint32_t cut : kCuts) {
                    for (uint32_t blockAgrees = 0; blockAgrees < 2; ++blockAgrees) {
                        Bytes m = whole;
                        if (cut < m.size()) m.resize(cut);
                        if (blockAgrees && m.size() >= 68) PutU32(m, 64, (uint32_t)m.size() - 64);
                        SetLength(m);
                        FixChecksum(m);
                        Deliver(m);
                        Run();
                        ASSERT_NO_FATAL_FAILURE(CheckInvariants());
                    }
                }
                Deliver(whole);
                Run();
                ASSERT_NO_FATAL_FAILURE(CheckInvariants());
            }
        }
    }
}

// Mutated messages, one to three per payload, now and then raw bytes put
// straight into the stream rings, the view's words shaken, the channels
// reset, in every mode (and a mode word no mode has) with one and two
// recorder sockets.
TEST_F(MutationTest, SeededMutationsKeepEveryRingInBounds)
{
    const uint32_t modes[] = {VIEW_LIVE, VIEW_PLAYBACK, VIEW_BACKUP, VIEW_LOCAL_PLAYBACK, VIEW_SETUP, 7};
    uint32_t round = 0;
    for (uint32_t mode : modes) {
        for (uint32_t sockets = 1; sockets <= 2; ++sockets) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " sockets " << sockets);
            View()->mode = mode;
            Machine().socketCount = sockets;
            for (uint32_t i = 0; i < 600; ++i, ++round) {
                SCOPED_TRACE(round);
                Bytes payload;
                uint32_t messages = rng.Below(3);
                for (uint32_t k = 0; k < messages; ++k) {
                    // Valid frames keep the stream going between the broken ones.
                    Bytes m = !rng.OneIn(3) ? VidoMessage(kSession, 0, FrameBytes(ValidFrame(mode))) : Mutated(mode);
                    payload.insert(payload.end(), m.begin(), m.end());
                }
                if (rng.OneIn(4) && payload.size() > 1) payload.resize(rng.Below((uint32_t)payload.size()));
                Deliver(payload);
                if (rng.OneIn(6)) {
                    if (rng.OneIn(2)) PushVideo(RingBytes(mode, 0));
                    else PushAudio(RingBytes(mode, 2));
                }
                if (rng.OneIn(10)) ShakeView();
                else if (rng.OneIn(4)) CalmView();
                if (rng.OneIn(40)) Stream_ResetChannels(S(), rng.Below(20));
                Run();
                ASSERT_NO_FATAL_FAILURE(CheckInvariants());
            }
        }
    }
    EXPECT_GT(decoded, 100u);
    EXPECT_GT(backedUp, 100u);
    EXPECT_GT(audioTaken, 10u);
    EXPECT_GT(gAudioBackups, 10u);
}

// Mutated frames put straight into the stream's rings, as a producer that
// got its lengths wrong would leave them: the stream step and both audio
// takes must step over whatever they find. The audio frames are stamped
// so that they are heard when they are sound.
TEST_F(MutationTest, MutatedFramesStraightInTheStreamRings)
{
    const uint32_t modes[] = {VIEW_LIVE, VIEW_PLAYBACK, VIEW_BACKUP, VIEW_LOCAL_PLAYBACK};
    size_t stored = 0;
    uint32_t round = 0;
    for (uint32_t mode : modes) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        View()->mode = mode;
        for (uint32_t i = 0; i < 500; ++i, ++round) {
            SCOPED_TRACE(round);
            CalmView();
            for (TChannelState& cs : S()->channels) {
                cs.videoTime.store(0);
                cs.startSecond.store(0);
                cs.startFrame.store(0);
            }
            if (rng.OneIn(8)) gSoundRing.heardChannel.store(SOUND_HEARD_NONE);
            for (uint32_t k = 0; k < 2; ++k) PushAudio(RingBytes(mode, 2));
            PushVideo(RingBytes(mode, 0));
            uint32_t before = gSoundRing.writeIndex.load();
            Run();
            stored += gSoundRing.writeIndex.load() != before;
            ASSERT_NO_FATAL_FAILURE(CheckInvariants());
        }
    }
    EXPECT_GT(stored, 100u);
    EXPECT_GT(gAudioBackups, 50u);
    EXPECT_GT(decoded + backedUp, 100u);
}

} // namespace
