// The frame stream module: frame blocks put back in order by the reorder
// queue (by arrival with one recorder socket, by the recorder's sequence
// with two), the restart after a gap, frames the frame ring overwrote, the
// Live ring-full rule, audio frames, and the status report sent with every
// poll, byte for byte.
#include "MediaFixture.h"
#include "control/Speaker.h"
#include "media/Hooks.h"

namespace {

class VidoTest : public MediaTest {
protected:
    // Slots that hold a frame; the queued count must always equal it.
    uint32_t Occupied()
    {
        uint32_t n = 0;
        for (const TVidoSlot& s : Queue().slots) n += s.length != 0;
        return n;
    }

    // A frame named by its status value, which travels with it.
    FrameDesc Named(uint32_t id, uint32_t sequence, size_t payload = 96)
    {
        FrameDesc f;
        f.status = id;
        f.streamSequence = sequence;
        f.payload = Marked(id, payload);
        return f;
    }

    // The ids of the frames in the video ring, in ring order; each frame
    // must arrive there whole and unchanged.
    std::vector<uint32_t> DeliveredIds(const std::vector<Bytes>& sent = {})
    {
        std::vector<uint32_t> ids;
        for (const Bytes& b : DrainVideo()) {
            uint32_t id = GetU32(b, 24);
            ids.push_back(id);
            for (const Bytes& s : sent) {
                if (GetU32(s, 24) == id) {
                    EXPECT_EQ(b, s) << "frame " << id << " changed on its way";
                }
            }
        }
        return ids;
    }
};

struct ReorderRow {
    const char* name;
    uint32_t sockets;
    uint32_t lastDelivered;
    std::vector<uint32_t> sequences; // in arrival order; frame i has id i + 1
    std::vector<uint32_t> delivered; // ids in delivery order
};

TEST_F(VidoTest, ReorderTable)
{
    const ReorderRow rows[] = {
        {"one socket: arrival order whatever the sequence", 1, 0, {9, 3, 100, 1}, {1, 2, 3, 4}},
        {"one socket after earlier deliveries", 1, 41, {0, 0, 0}, {1, 2, 3}},
        {"two sockets: 5, 7, 6 as 5, 6, 7", 2, 4, {5, 7, 6}, {1, 3, 2}},
        {"two sockets: reversed", 2, 0, {4, 3, 2, 1}, {4, 3, 2, 1}},
        {"two sockets: a gap holds the rest", 2, 0, {1, 3, 4}, {1}},
        {"two sockets: a duplicate is not delivered twice", 2, 0, {1, 1, 2}, {1, 3}},
    };
    for (const ReorderRow& row : rows) {
        SCOPED_TRACE(row.name);
        Machine().socketCount = row.sockets;
        memset(&Queue(), 0, sizeof Queue());
        Queue().lastDelivered = row.lastDelivered;
        Stream_ResetChannels(S(), 0);
        std::vector<Bytes> sent;
        for (size_t i = 0; i < row.sequences.size(); ++i) {
            FrameDesc f = Named((uint32_t)i + 1, row.sequences[i]);
            sent.push_back(FrameBytes(f));
            Arrive(f);
        }
        EXPECT_EQ(DeliveredIds(), std::vector<uint32_t>{}) << "nothing reaches the stream before the tick's delivery";
        Vido_DeliverInOrder(C(0));
        EXPECT_EQ(DeliveredIds(sent), row.delivered);
        EXPECT_EQ(Queue().queuedCount, Occupied());
    }
}

TEST_F(VidoTest, AGapWaitsFor512ArrivalsThenRestartsAtTheNewest)
{
    Arrive(Named(1, 1, 32));
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds(), std::vector<uint32_t>{1});
    // Sequence 2 never comes.
    for (uint32_t seq = 3; seq <= 513; ++seq) {
        Arrive(Named(seq, seq, 32));
        Vido_DeliverInOrder(C(0));
    }
    EXPECT_TRUE(DeliveredIds().empty());
    EXPECT_EQ(Queue().queuedCount, 511u);

    // The 512th arrival without a delivery restarts the queue at itself;
    // the next frame comes in the same tick, right after the restart.
    FrameDesc newest = Named(514, 514, 32);
    Arrive(newest);
    FrameDesc next = Named(515, 515, 32);
    Arrive(next);
    EXPECT_EQ(Queue().lastDelivered, 513u);
    EXPECT_EQ(Queue().queuedCount, 2u) << "the stale frames are freed";
    EXPECT_EQ(Occupied(), 2u);
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds({FrameBytes(newest), FrameBytes(next)}), (std::vector<uint32_t>{514, 515}));
    EXPECT_EQ(Occupied(), 0u);
    EXPECT_EQ(Queue().queuedCount, 0u);

    Arrive(Named(516, 516, 32));
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds(), std::vector<uint32_t>{516});
}

TEST_F(VidoTest, ARestartKeepsTheFramesAheadOfIt)
{
    Arrive(Named(1, 1, 32));
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds(), std::vector<uint32_t>{1});
    // Sequences 2 to 1001 never come; frames far ahead fill slots 2 to 511.
    for (uint32_t k = 2; k <= 511; ++k) {
        Arrive(Named(k, 5000 + k, 32));
        Vido_DeliverInOrder(C(0));
    }
    // Slot 0: the frame after the one that restarts the queue.
    FrameDesc after = Named(1003, 1003, 32);
    Arrive(after);
    Vido_DeliverInOrder(C(0));
    EXPECT_TRUE(DeliveredIds().empty());
    FrameDesc restart = Named(1002, 1002, 32);
    Arrive(restart); // the 512th arrival without a delivery
    EXPECT_EQ(Queue().lastDelivered, 1001u);
    EXPECT_EQ(Queue().queuedCount, Occupied());
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds({FrameBytes(restart), FrameBytes(after)}), (std::vector<uint32_t>{1002, 1003}));
    EXPECT_EQ(Queue().queuedCount, Occupied());
    // the next arrivals take slots 1, 2, ...: the frame moved out of slot 0
    // is delivered, never overwritten
    Arrive(Named(1004, 1004, 32));
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds(), std::vector<uint32_t>{1004});
}

TEST_F(VidoTest, RestartWithOwnNumbersGoesOnNumberingFromTheNewest)
{
    // More than 512 frames in one tick with one recorder socket.
    Machine().socketCount = 1;
    for (uint32_t i = 1; i <= 600; ++i) Arrive(Named(i, 0, 32));
    EXPECT_EQ(Queue().queuedCount, Occupied());
    Vido_DeliverInOrder(C(0));
    std::vector<uint32_t> ids = DeliveredIds();
    std::vector<uint32_t> want;
    for (uint32_t i = 512; i <= 600; ++i) want.push_back(i);
    EXPECT_EQ(ids, want);
    Arrive(Named(601, 0, 32));
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds(), std::vector<uint32_t>{601});
}

TEST_F(VidoTest, ASlotTakenWhileItStillHoldsAFrameIsCountedOut)
{
    Arrive(Named(1000, 1000)); // far ahead; lies in slot 1
    for (uint32_t seq = 1; seq <= 512; ++seq) {
        Arrive(Named(seq, seq, 32));
        Vido_DeliverInOrder(C(0));
        DrainVideo();
    }
    // Arrival 513 took slot 1 again.
    EXPECT_EQ(Queue().queuedCount, Occupied());
    EXPECT_EQ(Queue().queuedCount, 0u);
    for (uint32_t seq = 513; seq <= 1000; ++seq) Arrive(Named(seq, seq, 32));
    Vido_DeliverInOrder(C(0));
    std::vector<uint32_t> ids = DeliveredIds();
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids.back(), 1000u);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 1000u), 1);
    EXPECT_EQ(Queue().queuedCount, Occupied());
}

TEST_F(VidoTest, AFrameTheFrameRingOverwroteIsDroppedNotDeliveredCorrupt)
{
    // 200 KB frames: twelve of them pass the 2 MB frame ring, so frame 2
    // and 3 are overwritten, and the ring's write index has passed the
    // whole of frame 2 again.
    std::vector<Bytes> sent;
    for (uint32_t seq = 2; seq <= 13; ++seq) {
        FrameDesc f = Named(seq, seq, 200000);
        sent.push_back(FrameBytes(f));
        Arrive(f);
    }
    FrameDesc first = Named(1, 1, 100);
    sent.push_back(FrameBytes(first));
    Arrive(first);
    View()->mode = VIEW_PLAYBACK; // no Live ring-full rule in the way
    Vido_DeliverInOrder(C(0));
    std::vector<uint32_t> want = {1};
    for (uint32_t seq = 4; seq <= 13; ++seq) want.push_back(seq);
    EXPECT_EQ(DeliveredIds(sent), want);
    EXPECT_EQ(Queue().queuedCount, 0u);
    EXPECT_EQ(Occupied(), 0u);
}

TEST_F(VidoTest, AFailedFrameRingWriteLeavesNoSlotBehind)
{
    // A frame larger than the frame ring takes: nothing of it is kept.
    Bytes huge = FrameBytes(Named(7, 7, CONN_FRAME_RING_SIZE));
    Queue().lastDelivered = 4;
    Vido_QueueFrame(C(0), huge.data(), (uint32_t)huge.size(), 7, 0);
    EXPECT_EQ(Occupied(), 0u);
    EXPECT_EQ(Queue().queuedCount, 0u);
    std::vector<Bytes> sent = {FrameBytes(Named(5, 5)), FrameBytes(Named(6, 6))};
    Arrive(Named(5, 5));
    Arrive(Named(6, 6));
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds(sent), (std::vector<uint32_t>{5, 6}));

    // With own numbers the number is handed back: no gap follows.
    Machine().socketCount = 1;
    Vido_QueueFrame(C(0), huge.data(), (uint32_t)huge.size(), 0, 0);
    Arrive(Named(8, 0));
    Arrive(Named(9, 0));
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds(), (std::vector<uint32_t>{8, 9}));
}

TEST_F(VidoTest, ABlockWhoseLengthDoesNotMatchItsMessageIsDropped)
{
    struct Row {
        const char* name;
        int64_t totalLength; // -1: the true length
        bool queued;
    };
    const Row rows[] = {
        {"true length", -1, true},
        {"one byte past the message", 128 + 32 + 96 + 1, false},
        {"far past the message", 0x7FFFFFFF, false},
        {"below block and frame header", 159, false},
        {"zero", 0, false},
        {"block and header only", 160, true},
        {"shorter than the message", 200, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        memset(&Queue(), 0, sizeof Queue());
        FrameDesc f = Named(1, 1);
        f.totalLength = row.totalLength;
        f.newestSecond = 77;
        Arrive(f);
        EXPECT_EQ(Queue().queuedCount, row.queued ? 1u : 0u);
        EXPECT_EQ(Occupied(), Queue().queuedCount);
        Vido_DeliverInOrder(C(0));
        std::vector<Bytes> got = DrainVideo();
        ASSERT_EQ(got.size(), row.queued ? 1u : 0u);
        if (row.queued) {
            EXPECT_EQ(got[0].size(), (size_t)GetU32(got[0], 0));
        }
    }
    // A message too short for a block is dropped too.
    memset(&Queue(), 0, sizeof Queue());
    Deliver(VidoMessage(kSession, 0, Bytes(100, 0)));
    EXPECT_EQ(Queue().arrivalCount, 0u);
}

TEST_F(VidoTest, FramesOfAnEarlierRequestTakeNoPlaceInTheOrder)
{
    // Two sockets: the viewer sent request 5 and cleared its queue; the
    // recorder numbers from 1 again, but frames 2 and 3 of request 4 were
    // still on their way. They must not stand in for request 5's 2 and 3.
    Machine().socketCount = 2;
    View()->icmdSequence = 5;
    std::vector<Bytes> sent;
    auto send = [&](uint32_t id, uint32_t sequence, uint32_t request) {
        FrameDesc f = Named(id, sequence);
        f.requestNumber = request;
        sent.push_back(FrameBytes(f));
        Arrive(f);
    };
    send(3, 1, 5);
    Vido_DeliverInOrder(C(0));
    send(1, 2, 4);
    send(4, 2, 5);
    send(2, 3, 4);
    send(5, 3, 0); // 0 answers any request
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(DeliveredIds(sent), (std::vector<uint32_t>{3, 4, 5}));
    EXPECT_EQ(Queue().queuedCount, Occupied());
}

TEST_F(VidoTest, ChannelsBeyond16TouchNoChannelState)
{
    for (uint32_t channel : {16u, 17u, 255u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(channel);
        for (TChannelState& cs : S()->channels) cs.newestSecond = 0;
        FrameDesc f = Named(1, Queue().lastDelivered + 1);
        f.channel = channel;
        f.newestSecond = 4242;
        Arrive(f);
        for (uint32_t c = 0; c < STREAM_CHANNELS; ++c)
            EXPECT_EQ(S()->channels[c].newestSecond, c == channel ? 4242u : 0u) << "channel state " << c;
        Vido_DeliverInOrder(C(0));
        DrainVideo();
    }
}

TEST_F(VidoTest, LiveEmptiesAFullVideoRingPlaybackDropsTheFrameAlone)
{
    for (uint32_t mode : {(uint32_t)VIEW_LIVE, (uint32_t)VIEW_PLAYBACK}) {
        SCOPED_TRACE(mode);
        View()->mode = mode;
        Stream_ResetChannels(S(), 0);
        TFrameRing& v = S()->videoRing;
        // Fill the video ring until a 200 KB frame no longer fits.
        Bytes filler(200000, 1);
        while (Ring_Free95(v.writeIndex, v.readIndex, v.size) >= 200200)
            ASSERT_EQ(Ring_Write(filler.data(), v.data, (uint32_t)filler.size(), &v.writeIndex, &v.readIndex, v.size),
                      0);
        uint32_t used = Ring_Used(v.writeIndex, v.readIndex, v.size);
        Arrive(Named(1, Queue().lastDelivered + 1, 200000));
        Vido_DeliverInOrder(C(0));
        if (mode == VIEW_LIVE) {
            EXPECT_EQ(v.writeIndex, 0u);
            EXPECT_EQ(v.readIndex, 0u);
        } else {
            EXPECT_EQ(Ring_Used(v.writeIndex, v.readIndex, v.size), used);
        }
    }
}

TEST_F(VidoTest, AudioFramesGoToTheAudioRingOnceVideoWasAccepted)
{
    FrameDesc a = Named(1, 1);
    a.kind = VIDO_KIND_AUDIO;
    Arrive(a);
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(StreamAudio_Used(&S()->audioRing), 0u) << "no video accepted yet";
    EXPECT_EQ(gAudioAvailable.load(), 0u);

    S()->audioWanted = 1;
    a.streamSequence = 2;
    Arrive(a);
    Vido_DeliverInOrder(C(0));
    Bytes stored(FrameBytes(a).size());
    EXPECT_EQ(StreamAudio_Used(&S()->audioRing), stored.size());
    ASSERT_EQ(StreamAudio_Read(&S()->audioRing, stored.data(), (uint32_t)stored.size()), 0);
    EXPECT_EQ(stored, FrameBytes(a));
    EXPECT_EQ(gAudioAvailable.load(), 1u);
    EXPECT_TRUE(DrainVideo().empty());

    // In Backup mode the speaker icon is not offered.
    gAudioAvailable.store(0);
    View()->mode = VIEW_BACKUP;
    a.streamSequence = 3;
    Arrive(a);
    Vido_DeliverInOrder(C(0));
    EXPECT_EQ(StreamAudio_Used(&S()->audioRing), stored.size());
    EXPECT_EQ(gAudioAvailable.load(), 0u);
}

TEST_F(VidoTest, MessagesOfUnknownSessionsOrOpsAreIgnored)
{
    Deliver(VidoMessage(kSession + 1, 0, FrameBytes(Named(1, 1))));
    Deliver(VidoMessage(kSession, 5, FrameBytes(Named(1, 1))));
    Deliver(VidoMessage(kSession, 1, FrameBytes(Named(1, 1))));
    EXPECT_EQ(Queue().arrivalCount, 0u);
}

// The 320-byte status message as the poll carries it.
Bytes StatusMessage(uint32_t session, const std::vector<std::pair<size_t, uint32_t>>& words)
{
    Bytes m(320, 0);
    PutU32(m, 0, 320);
    memcpy(&m[4], "VIDO", 4);
    PutU32(m, 32, session);
    PutU32(m, 36, 1);
    for (const auto& w : words) PutU32(m, 64 + w.first, w.second);
    PutU32(m, 8, RefByteSum(m.data() + 32, 288));
    return m;
}

// The VIDO message in the payload of the last packet sent on socket 0.
Bytes PolledStatus(FakeWinSocket& wire)
{
    if (wire.sent.empty()) return {};
    const Bytes& packet = wire.sent.back();
    for (size_t i = 64; i + 32 <= packet.size();) {
        uint32_t length = GetU32(packet, i);
        if (length < 32 || i + length > packet.size()) break;
        if (memcmp(&packet[i + 4], "VIDO", 4) == 0) return Bytes(packet.begin() + i, packet.begin() + i + length);
        i += length;
    }
    return {};
}

TEST_F(VidoTest, EveryPollCarriesTheStatusReport)
{
    // Before the first frame is taken: 262,144 bytes free.
    ASSERT_EQ(Ulcm_SendPacket(0, ULCM_POLL, kSession, 0, 0), 0);
    EXPECT_EQ(PolledStatus(Wire(0, 0)), StatusMessage(kSession, {{128, 262144}}));

    // Frames on channels 0, 3 and 16, each decoded; the last one's status
    // value stands at 136.
    struct Take {
        uint32_t channel, sequence, status;
    };
    const Take takes[] = {{0, 1, 0x11}, {0, 2, 0x12}, {3, 9, 0x13}, {16, 5, 0x14}, {0, 3, 0x15}};
    uint32_t stream = 0;
    for (const Take& t : takes) {
        FrameDesc f;
        f.channel = t.channel;
        f.headerChannel = t.channel & 15;
        f.channelSequence = t.sequence;
        f.streamSequence = ++stream;
        f.status = t.status;
        f.framePeriod = 0;
        Arrive(f);
        Vido_DeliverInOrder(C(0));
        Tick();
    }
    ASSERT_EQ(gDecodes.size(), 5u);
    TFrameRing& v = S()->videoRing;
    uint32_t free95 = Ring_Free95(v.writeIndex, v.readIndex, v.size);
    C(0)->busy[0] = 0;
    ASSERT_EQ(Ulcm_SendPacket(0, ULCM_POLL, kSession, 0, 0), 0);
    // Smoothed decode times: 10 ms each, followed from 0 as 7, 9, 9.
    EXPECT_EQ(
        PolledStatus(Wire(0, 0)),
        StatusMessage(kSession,
                      {{0, 3}, {12, 9}, {64, 9}, {76, 7}, {128, free95 - 524288}, {136, 0x15}, {144, 5}, {148, 7}}));
    EXPECT_EQ(free95, 3984588u);

    // Outside the link's logged-in, active state no status is asked for.
    C(0)->busy[0] = 0;
    C(0)->active = 0;
    size_t before = Wire(0, 0).sent.size();
    ASSERT_EQ(Ulcm_SendPacket(0, ULCM_POLL, kSession, 0, 0), 0);
    ASSERT_EQ(Wire(0, 0).sent.size(), before + 1);
    EXPECT_TRUE(PolledStatus(Wire(0, 0)).empty());
}

TEST_F(VidoTest, ARejectedFrameSetsTheStatusValueAndAFullRingReportsZero)
{
    // A frame of another request is rejected; its status value is reported.
    View()->icmdSequence = 3;
    FrameDesc f;
    f.requestNumber = 2;
    f.status = 0xABCD;
    Arrive(f);
    Vido_DeliverInOrder(C(0));
    Tick();
    EXPECT_TRUE(gDecodes.empty());
    EXPECT_EQ(Report().status, 0xABCDu);

    // Little room left in the video ring: the free-space word is 0.
    gVidoStates[0].frameTaken = 1;
    TFrameRing& v = S()->videoRing;
    v.readIndex = 0;
    v.writeIndex = v.size - 500000;
    uint8_t body[VIDO_REPORT_SIZE];
    TVidoBuild b = {0, 0, nullptr, body, sizeof body, &gVidoStates[0]};
    ASSERT_EQ(Vido_BuildStatus(&b), 256u);
    EXPECT_EQ(GetU32(Bytes(body, body + 256), 128), 0u);
}

} // namespace
