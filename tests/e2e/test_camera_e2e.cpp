// dvr-sim's cameras and microphones through the viewer's real link, frame
// stream module and stream step, up to the decoder hand-off: the frames of
// the chosen channel arrive in order, one frame interval apart, decode to
// exactly the recorder's test pattern, and sound frames of the channel wait
// in the audio ring stamped on its video clock.
#include "control/Session.h"
#include "control/View.h"
#include "link/Conn.h"
#include "link/Icmd.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include "tests/support/AvcDecoder.h"
#include "tests/support/LinkLoop.h"
#include "tests/support/SimProcess.h"
#include "tests/support/StreamLoop.h"
#include "tools/dvr-sim/sim_pattern.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <vector>

namespace {

using namespace avc_test;

// What the stream step handed to the decoder, with the held frame's facts.
struct HandOff {
    Bytes data;
    uint32_t channel; // block channel
    uint32_t time;    // header time and frame number
    uint32_t frameNumber;
    uint32_t source;
    int64_t ms; // when it was handed on
};

std::vector<HandOff> gHanded;

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int RecordDecode(const uint8_t* buffer, uint32_t length, uint32_t)
{
    const TStreamRecord* s = &gStreamRecords[0];
    gHanded.push_back(
        {Bytes(buffer, buffer + length), s->heldChannel, s->heldTime, s->heldFrameNumber, s->lastSource, NowMs()});
    return 0;
}

int RecordBackup(TStreamRecord*) { return 0; }

// The stream loop recording every hand-off.
struct StreamLoop : FrameStreamLoop {
    StreamLoop() : FrameStreamLoop(RecordDecode, RecordBackup) { gHanded.clear(); }
};

constexpr uint32_t kFps = 30;

uint64_t FrameCount(const HandOff& h) { return uint64_t(h.time) * kFps + h.frameNumber; }

bool IsKey(const HandOff& h) { return h.data.size() > 4 && (h.data[4] & 0x1F) == 7; }

// The hand-offs of one channel and source from the first key frame on.
std::vector<HandOff> RunOf(uint32_t channel, uint32_t source, size_t from = 0)
{
    std::vector<HandOff> run;
    for (size_t i = from; i < gHanded.size(); i++) {
        const HandOff& h = gHanded[i];
        if (h.channel != channel || h.source != source) continue;
        if (run.empty() && !IsKey(h)) continue;
        run.push_back(h);
    }
    return run;
}

// Every frame follows the one before by one frame interval of recorder
// time, was handed on no sooner than about a frame interval after it, and
// decodes to the pattern of its last key frame.
void ExpectPacedPattern(const std::vector<HandOff>& run, uint32_t channel, int step)
{
    ASSERT_GE(run.size(), 2u);
    Decoder dec(20, 15);
    ASSERT_TRUE(dec.ok());
    Planes want(0, 0), got(0, 0);
    for (size_t i = 0; i < run.size(); i++) {
        SCOPED_TRACE("frame " + std::to_string(i) + " at " + std::to_string(run[i].time) + "." +
                     std::to_string(run[i].frameNumber));
        if (i > 0) {
            EXPECT_EQ(int64_t(FrameCount(run[i]) - FrameCount(run[i - 1])), step);
        }
        if (IsKey(run[i])) {
            want = Planes(320, 240);
            Pattern_Fill(want.y.data(), 320, want.u.data(), want.v.data(), 160, 320, 240, channel, run[i].time,
                         run[i].frameNumber, kFps);
        }
        ASSERT_TRUE(dec.Decode(run[i].data, &got));
        EXPECT_EQ(FirstDifference(want, got), "");
    }
    // Paced: n frames take at least half of their n - 1 intervals (the
    // recorder never sends ahead of its clock).
    int64_t span = run.back().ms - run.front().ms;
    EXPECT_GE(span, int64_t(run.size() - 1) * 1000 / kFps / 2);
}

void SendLive(uint32_t channel)
{
    TConnection* c = &gConnections[0];
    c->view->mode = VIEW_LIVE;
    c->view->liveBlock.liveLayout = 0;
    c->view->liveBlock.liveChannel = channel;
    c->view->liveBlock.liveChannelMask = (1u << channel) | 0x80000000u;
    Stream_ResetChannels(c->stream, channel + 1);
    Icmd_Send(c->session, 2, ICMD_LIVE, 0);
}

// Prints the sim's lines after a failed wait.
bool WaitOrDump(SimProcess& sim, const std::function<bool()>& done)
{
    if (Application_ProcessMessagesUntil(done, kWaitLimitMs)) return true;
    const std::vector<std::string>& lines = sim.lines();
    size_t from = lines.size() > 40 ? lines.size() - 40 : 0;
    for (size_t i = from; i < lines.size(); i++) fprintf(stderr, "SIM %s\n", lines[i].c_str());
    fprintf(stderr, "handed %zu\n", gHanded.size());
    return false;
}

// One recorder socket (the viewer numbers the frames as they come) and
// two (it puts them in the recorder's stream order).
class LiveCamera : public testing::TestWithParam<const char*> {};

TEST_P(LiveCamera, ChannelsArriveInOrderPacedAndDecodeToThePattern)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--channels", "4", "--gop", "4", "--sockets", GetParam()}));
    StreamLoop loop;
    loop.Connect(sim.port());

    // Once the viewer reports its stream status, channel 0 comes live.
    ASSERT_TRUE(WaitOrDump(sim, [&] { return RunOf(0, 0).size() >= 8; }));
    EXPECT_TRUE(sim.Seen("vido start session="));

    // Channel 2 is asked for: from its first key frame on only channel 2
    // is handed on, frame after frame.
    SendLive(2);
    size_t mark = gHanded.size();
    ASSERT_TRUE(WaitOrDump(sim, [&] { return RunOf(2, 0, mark).size() >= 20; }));
    std::vector<HandOff> run = RunOf(2, 0, mark);
    ExpectPacedPattern(run, 2, 1);
    size_t firstKey = mark;
    while (firstKey < gHanded.size() && !(gHanded[firstKey].channel == 2 && IsKey(gHanded[firstKey]))) firstKey++;
    for (size_t i = firstKey; i < gHanded.size(); i++) EXPECT_EQ(gHanded[i].channel, 2u) << "hand-off " << i;
    // One key frame in four, the others skip.
    size_t keys = 0;
    for (const HandOff& h : run) keys += IsKey(h) ? 1 : 0;
    EXPECT_EQ(keys, (run.size() + 3) / 4);
}

INSTANTIATE_TEST_SUITE_P(Sockets, LiveCamera, testing::Values("1", "2"));

TEST(CameraEndToEnd, PlaybackSendsRecordedFramesFromTheAskedTime)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--channels", "4", "--no-audio", "--recordings", "always"}));
    StreamLoop loop;
    loop.Connect(sim.port());
    ASSERT_TRUE(WaitOrDump(sim, [&] { return RunOf(0, 0).size() >= 2; }));

    TConnection* c = &gConnections[0];
    const uint32_t start = 845000000;
    c->view->mode = VIEW_PLAYBACK;
    c->view->playbackBlock.playbackChannel = 3;
    c->view->playbackBlock.playbackRun = 1;
    c->view->playbackBlock.playbackDirection = 1;
    c->view->playbackBlock.playbackTime = start;
    Stream_ResetChannels(c->stream, 0);
    Icmd_Send(c->session, 2, ICMD_PLAYBACK, 0);
    size_t mark = gHanded.size();
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return RunOf(3, 1, mark).size() >= 12; }, kWaitLimitMs));
    std::vector<HandOff> run = RunOf(3, 1, mark);
    EXPECT_EQ(run.front().time, start);
    EXPECT_EQ(run.front().frameNumber, 0u);
    ExpectPacedPattern(run, 3, 1);
}

TEST(CameraEndToEnd, SoundOfTheLiveChannelWaitsInTheAudioRingOnItsVideoClock)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--tone", "500"}));
    StreamLoop loop;
    loop.Connect(sim.port());
    ASSERT_TRUE(WaitOrDump(sim, [&] { return RunOf(0, 0).size() >= 2; }));
    SendLive(1);
    size_t mark = gHanded.size();
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return RunOf(1, 0, mark).size() >= 14; }, kWaitLimitMs));

    // Nothing takes sound here, so every frame stored since the stream
    // wanted it is still in the ring: blocks of kind 2 for channel 1 (and
    // channel 0 from before the switch).
    TStreamAudioRing* ring = &gStreamRecords[0].audioRing;
    std::vector<HandOff> run = RunOf(1, 0, mark);
    uint32_t frames = 0;
    uint64_t lastCount = 0;
    while (StreamAudio_Used(ring) >= 160) {
        uint8_t block[128], header[32];
        ASSERT_EQ(StreamAudio_Read(ring, block, sizeof block), 0);
        ASSERT_EQ(StreamAudio_Read(ring, header, sizeof header), 0);
        uint32_t total;
        memcpy(&total, block, 4);
        ASSERT_GE(total, 160u);
        Bytes payload(total - 160);
        ASSERT_EQ(StreamAudio_Read(ring, payload.data(), (uint32_t)payload.size()), 0);
        uint32_t channel, kind, time, units = header[18] | header[19] << 8;
        memcpy(&channel, block + 20, 4);
        memcpy(&kind, block + 48, 4);
        memcpy(&time, header + 4, 4);
        EXPECT_EQ(kind, 2u);
        EXPECT_EQ(header[11] >> 6, 2);
        EXPECT_EQ(total, 128 + 64 * units);
        if (channel != 1) continue;
        frames++;
        // Stamped with a video frame of the channel: one every 200 ms.
        uint64_t count = uint64_t(time) * kFps + header[8];
        if (lastCount) {
            EXPECT_EQ(count - lastCount, 6u);
        }
        lastCount = count;
        // The kept bytes (odd offsets) are an 8-bit tone around 128.
        uint32_t kept = (64 * units - 64) / 2;
        ASSERT_EQ(kept, 1600u);
        int lo = 255, hi = 0;
        for (uint32_t i = 0; i < kept; i++) {
            lo = std::min(lo, int(payload[2 * i + 1]));
            hi = std::max(hi, int(payload[2 * i + 1]));
        }
        EXPECT_LE(lo, 72);
        EXPECT_GE(hi, 184);
    }
    // 14 video frames make at least two sound frames of 6 frames each.
    EXPECT_GE(frames, 2u);
}

Bytes ReadAll(const std::string& path)
{
    Bytes data;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
        fclose(f);
    }
    return data;
}

TEST(CameraEndToEnd, CameraFileTravelsWithItsOwnParameterSetsAndDecodesAsItself)
{
    // A Baseline, CAVLC stream of 24 numbered frames, a key frame every 8.
    const std::string file = testing::TempDir() + "camera_e2e.h264";
    const std::string make = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=30 "
                             "-frames:v 24 -c:v libx264 -profile:v baseline -pix_fmt yuv420p -g 8 -bf 0 "
                             "-f h264 " +
                             file;
    ASSERT_EQ(system(make.c_str()), 0);
    std::vector<Planes> reference = DecodeAnnexB(ReadAll(file));
    ASSERT_EQ(reference.size(), 24u);

    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--camera", file, "--no-audio"}));
    StreamLoop loop;
    loop.Connect(sim.port());
    ASSERT_TRUE(WaitOrDump(sim, [&] { return RunOf(0, 0).size() >= 30; }));
    std::vector<HandOff> run = RunOf(0, 0);
    remove(file.c_str());

    // The file's pictures follow each other, round and round.
    Decoder dec(20, 15);
    ASSERT_TRUE(dec.ok());
    Planes got(0, 0);
    ASSERT_TRUE(dec.Decode(run[0].data, &got));
    size_t at = 0;
    while (at < reference.size() && FirstDifference(reference[at], got) != "") at++;
    ASSERT_LT(at, reference.size()) << "the first picture is none of the file's";
    EXPECT_EQ(at % 8, 0u); // a key frame of the file
    for (size_t i = 1; i < run.size(); i++) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(FrameCount(run[i]) - FrameCount(run[i - 1]), 1u);
        ASSERT_TRUE(dec.Decode(run[i].data, &got));
        EXPECT_EQ(FirstDifference(reference[(at + i) % reference.size()], got), "");
    }
    // Key frames carry the viewer's parameter sets and then the file's own.
    ASSERT_TRUE(IsKey(run[0]));
    uint32_t sps = 0;
    for (size_t p = 0; p + 4 < run[0].data.size();) {
        uint32_t n =
            uint32_t(run[0].data[p]) << 24 | run[0].data[p + 1] << 16 | run[0].data[p + 2] << 8 | run[0].data[p + 3];
        if ((run[0].data[p + 4] & 0x1F) == 7) sps++;
        p += 4 + n;
    }
    EXPECT_EQ(sps, 2u);
}

} // namespace
