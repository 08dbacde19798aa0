// The movie writer against its limits, its failures and damaged frames,
// with frames built here; the files it writes are read back by ffmpeg and
// by our atom walker. Also the watermark's key set, transform and signing.
#include "media/Mov.h"
#include "tests/support/Scratch.h"
#include "media/OutFile.h"
#include "media/Watermark.h"
#include "tests/media-mov/MovAtoms.h"
#include "tests/support/Shell.h"
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <cstdlib>
#include <numeric>

using namespace mov_test;

namespace {

const uint32_t kT0 = 850000000;

bool HaveFfmpeg() { return Shell("command -v ffmpeg >/dev/null") == 0; }

std::string Scratch()
{
    static const std::string dir = ScratchDir("tavlin-movw");
    return dir;
}

struct UnitFields {
    uint32_t kind = 1; // 1 video, 2 sound
    uint32_t time = kT0;
    uint32_t frame = 0;
    bool key = true;
    uint32_t width = 20, height = 15;
    uint32_t payload = 32; // bytes after the header; a multiple of 64 plus 32
    uint32_t further = 0;  // further units the header announces
    uint32_t mode = 0;     // field mode
    uint8_t fill = 0;      // sound: the kept byte
};

// One unit: the 32-byte header and its payload (video: one NAL unit behind
// its length; sound: 16-bit samples whose high bytes are fill).
Bytes Unit(const UnitFields& u)
{
    Bytes b(32 + u.payload, 0);
    b[3] = 3;
    for (int i = 0; i < 4; ++i) b[4 + i] = uint8_t(u.time >> (8 * i));
    b[8] = uint8_t(u.frame);
    b[11] = uint8_t(u.kind << 6);
    if (u.kind == 1) {
        b[12] = uint8_t(u.height);
        b[13] = uint8_t(u.width);
    }
    b[14] = uint8_t(u.mode << 2);
    b[15] = uint8_t(((u.key ? 0 : 1) << 4) | (u.further & 15));
    uint32_t units = (32 + u.payload) / 64;
    b[18] = uint8_t(units);
    b[19] = uint8_t(units >> 8);
    b[23] = 1 << 5;
    uint32_t scale = 600 << 5;
    for (int i = 0; i < 4; ++i) b[24 + i] = uint8_t(scale >> (8 * i));
    if (u.kind == 1) {
        uint32_t nal = u.payload - 4;
        b[32] = uint8_t(nal >> 24);
        b[33] = uint8_t(nal >> 16);
        b[34] = uint8_t(nal >> 8);
        b[35] = uint8_t(nal);
        b[36] = u.key ? 0x65 : 0x41;
        b[37] = 0x9A;
        b[38] = 0x01;
    } else {
        for (uint32_t i = 1; i < u.payload; i += 2) b[32 + i] = u.fill;
    }
    return b;
}

UnitFields Video(uint32_t n, bool key = true)
{
    UnitFields u;
    u.time = kT0 + n / 30;
    u.frame = n % 30;
    u.key = key;
    return u;
}

UnitFields Sound(uint32_t time, uint32_t frame, uint8_t fill, uint32_t samples = 1600)
{
    UnitFields u;
    u.kind = 2;
    u.time = time;
    u.frame = frame;
    u.fill = fill;
    u.payload = 2 * samples + 32;
    return u;
}

// A part file: the writer set up as the backup controller sets it up.
std::string Begin(const std::string& name, uint32_t start = kT0, uint32_t end = kT0 + 3600)
{
    Watermark_InitKeys();
    std::string path = Scratch() + "/" + name;
    EXPECT_EQ(OutFile_Create(path.c_str()), 0);
    Mov_Init(start, end);
    memset(&gMovClosing, 0, sizeof gMovClosing);
    return path;
}

// Accounts and writes one frame buffer as the controller does: the
// accounting's answer (-1 refused), else the writer's.
int FeedIn(Bytes& frame)
{
    int r = Mov_AccountFrame(frame.data(), (uint32_t)frame.size());
    if (r == -1) return -100;
    return Mov_WriteFrame(frame.data(), (uint32_t)frame.size());
}
int Feed(Bytes frame) { return FeedIn(frame); }

// Closing block, "moov", watermark, "mdat" size; true when all succeeded.
bool Finish()
{
    uint32_t media = Mov_WriteHead();
    bool ok = media != 0 && Mov_Finish(0) == 0 && Mov_WriteMediaLength(media) == 0;
    return OutFile_Close() == 0 && ok;
}

Bytes FileBytes(const std::string& path)
{
    Bytes b;
    ReadFile(path, &b);
    return b;
}

} // namespace

TEST(MovWriter, TheSyncTableEndsThePartAtIts4096thKeyFrame)
{
    std::string path = Begin("syncs.mov");
    uint32_t n = 0;
    int r = 0;
    for (; n < 5000; ++n) {
        r = Feed(Unit(Video(n)));
        if (r == -100) break;
        ASSERT_GT(r, 0) << n;
    }
    EXPECT_EQ(n, 4095u);
    EXPECT_EQ(gMovClosing.reason, (uint32_t)MOV_STOP_SYNC_FULL);
    EXPECT_EQ(gMovClosing.value, 4096u);
    EXPECT_EQ(gMovClosing.limit, 4096u);
    ASSERT_TRUE(Finish());
    Bytes f = FileBytes(path);
    Walk w = WalkFile(f);
    ASSERT_EQ(w.error, "");
    EXPECT_EQ(Table(f, w.Find("moov/trak/mdia/minf/stbl/stss"), 0).size(), 4095u);
    // The closing record carries the reason.
    const Atom* moov = w.Find("moov");
    ASSERT_TRUE(moov);
    EXPECT_EQ(Le32(&f[moov->offset - 4096 + 4]), 5u);
}

TEST(MovWriter, FramesPastTheEndAreRefusedAfterFiveSeconds)
{
    struct Case {
        uint32_t secondsPastEnd;
        int account; // Mov_AccountFrame
    } cases[] = {{0, 0}, {4, 0}, {5, 0}, {6, -1}, {3600, -1}, {0xFFFFFFF0u, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondsPastEnd);
        Begin("late.mov", kT0, kT0 + 10);
        UnitFields u = Video(0);
        u.time = kT0 + 10 + c.secondsPastEnd;
        if (u.time < kT0) u.time = 0xFFFFFFFF;
        Bytes b = Unit(u);
        EXPECT_EQ(Mov_AccountFrame(b.data(), (uint32_t)b.size()), c.account);
        EXPECT_EQ(gMovClosing.reason, c.account == -1 ? (uint32_t)MOV_STOP_PAST_END : 0u);
        OutFile_Close();
    }
    // A video frame at the end mark is written and ends the part.
    Begin("end.mov", kT0, kT0 + 1);
    EXPECT_GT(Feed(Unit(Video(0))), 0);
    EXPECT_EQ(Feed(Unit(Video(30))), 0);
    EXPECT_EQ(gMovWriter.samples, 2u + 29u); // the 29 frames between are filled
    EXPECT_TRUE(Finish());
}

TEST(MovWriter, SoundGapsArePaddedWithTheLastKeptByte)
{
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is needed";
    std::string path = Begin("sound.mov");
    // The sound units: time, frame, kept byte; and the sound they leave.
    struct Step {
        uint32_t time, frame;
        uint8_t fill;
        uint32_t padded; // bytes of the last kept byte written in front
    } steps[] = {
        {kT0, 0, 0x40, 0},      // at the video's start
        {kT0, 6, 0x41, 0},      // 0.2 s later: no gap
        {kT0, 15, 0x42, 800},   // 0.1 s missing: padded
        {kT0, 23, 0x43, 0},     // 0.06 s missing: not padded
        {kT0 + 1, 20, 0x44, 0}, // older than... no: later; expected 13,333, written 6,400
        {kT0 + 6, 0, 0x45, 0},  // a gap of about 5 s, padded in chunks of at most one second
        {kT0 + 5, 0, 0x46, 0},  // older than the last unit: skipped
    };
    Bytes want;
    uint32_t written = 0;
    ASSERT_GT(Feed(Unit(Video(0))), 0);
    for (const Step& s : steps) {
        int64_t expected = ((int64_t)(s.time - kT0) * 30 + s.frame) * 8000 / 30;
        bool skipped = s.fill == 0x46;
        if (!skipped && expected - written >= 800) {
            uint8_t last = want.empty() ? 0x80 : want.back();
            want.insert(want.end(), size_t(expected - written), last);
            written = (uint32_t)expected;
        }
        if (!skipped) {
            want.insert(want.end(), 1600, s.fill);
            written += 1600;
        }
        ASSERT_GT(Feed(Unit(Sound(s.time, s.frame, s.fill))), 0);
    }
    ASSERT_GT(Feed(Unit(Video(7 * 30))), 0);
    EXPECT_EQ(gMovWriter.soundBytes, (uint32_t)want.size());
    // No chunk is longer than a second.
    for (uint32_t e = 0; e < gMovWriter.soundEntries; ++e) EXPECT_LE(gMovWriter.soundEntryTable[e][1], 8000u);
    ASSERT_TRUE(Finish());
    std::string out;
    ASSERT_EQ(Shell("ffmpeg -v error -i '" + path + "' -map 0:a -f u8 - 2>/dev/null", &out), 0);
    EXPECT_TRUE(Bytes(out.begin(), out.end()) == want) << out.size() << " " << want.size();
    Bytes f = FileBytes(path);
    EXPECT_EQ(WalkFile(f).error, "");
}

// A write that fails stops the part; the part never gets the closing
// block, "moov", watermark or "mdat" size, so nothing takes it for whole.
TEST(MovWriter, AFailedWriteStopsThePartAndLeavesItIncomplete)
{
    // Every write fails.
    Watermark_InitKeys();
    ASSERT_EQ(OutFile_Create("/dev/full"), 0);
    Mov_Init(kT0, kT0 + 100);
    EXPECT_EQ(Feed(Unit(Video(0))), 0);
    EXPECT_EQ(gMovClosing.reason, (uint32_t)MOV_STOP_WRITE_FAILED);
    EXPECT_EQ(gMovWriter.failed, 1u);
    EXPECT_EQ(Feed(Unit(Video(1))), 0);
    EXPECT_EQ(Mov_WriteHead(), 0u);
    EXPECT_EQ(Mov_Finish(0), -1);
    EXPECT_EQ(Mov_WriteMediaLength(1234), -1);
    OutFile_Close();

    // The disk fills up while the "moov" is written.
    std::string path = Begin("full.mov");
    for (uint32_t n = 0; n < 60; ++n) ASSERT_GT(Feed(Unit(Video(n, n % 10 == 0))), 0);
    uint32_t media = Mov_WriteHead();
    ASSERT_NE(media, 0u);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = {gMovWriter.position + 100, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    int finish = Mov_Finish(0);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(finish, -1);
    EXPECT_EQ(gMovClosing.reason, (uint32_t)MOV_STOP_WRITE_FAILED);
    EXPECT_EQ(Mov_WriteMediaLength(media), -1);
    OutFile_Close();
    Bytes f = FileBytes(path);
    ASSERT_GE(f.size(), 48u);
    EXPECT_EQ(Be32(&f[40]), 0u); // the "mdat" size was never written
    EXPECT_NE(WalkFile(f).error, "");
    if (HaveFfmpeg()) {
        EXPECT_NE(Shell("ffprobe -v error '" + path + "' >/dev/null 2>&1"), 0);
    }
}

// Damaged headers and unit counts that the buffer does not hold end the
// buffer with -1 without reading past it; the writer then waits for a key
// frame.
TEST(MovWriter, DamagedHeadersEndTheBufferWithinItsBytes)
{
    struct Case {
        const char* what;
        void (*damage)(Bytes*);
    } cases[] = {
        {"fifteen further units announced, one held", [](Bytes* b) { (*b)[15] |= 15; }},
        {"unit length 65535 in a 64-byte buffer", [](Bytes* b) { (*b)[18] = (*b)[19] = 0xFF; }},
        {"unit length 0", [](Bytes* b) { (*b)[18] = (*b)[19] = 0; }},
        {"bad magic", [](Bytes* b) { (*b)[3] = 4; }},
        {"kind 3", [](Bytes* b) { (*b)[11] = 0xC0; }},
        {"video without a time", [](Bytes* b) { (*b)[4] = (*b)[5] = (*b)[6] = (*b)[7] = 0; }},
        {"video without a width", [](Bytes* b) { (*b)[13] = 0; }},
        {"shorter than a header", [](Bytes* b) { b->resize(31); }},
        {"second unit cut short",
         [](Bytes* b) {
             (*b)[15] |= 1;
             Bytes more = Unit(Video(2, false));
             b->insert(b->end(), more.begin(), more.begin() + 40);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Begin("damaged.mov");
        ASSERT_GT(Feed(Unit(Video(0))), 0);
        Bytes b = Unit(Video(1, false));
        c.damage(&b);
        // Exactly the damaged bytes: the sanitizers see any read past them.
        uint8_t* exact = (uint8_t*)malloc(b.size() ? b.size() : 1);
        memcpy(exact, b.data(), b.size());
        EXPECT_EQ(Mov_WriteFrame(exact, (uint32_t)b.size()), -1);
        free(exact);
        uint32_t samples = gMovWriter.samples;
        EXPECT_GT(Feed(Unit(Video(2, false))), 0);
        EXPECT_EQ(gMovWriter.samples, samples); // a P frame waits for a key frame
        EXPECT_GT(Feed(Unit(Video(3, true))), 0);
        EXPECT_GT(gMovWriter.samples, samples);
        EXPECT_TRUE(Finish());
    }
}

// Whatever the frames announce, no table is written past its cap.
TEST(MovWriter, UnitCountsNearTheCapsAreRefusedBeforeWriting)
{
    Begin("caps.mov");
    ASSERT_GT(Feed(Unit(Video(0))), 0);
    gMovWriter.syncs = MOV_SYNC_CAP - 16;
    Bytes b = Unit(Video(1));
    b[15] |= 15; // sixteen units
    EXPECT_EQ(Mov_AccountFrame(b.data(), (uint32_t)b.size()), -1);
    EXPECT_EQ(gMovClosing.reason, (uint32_t)MOV_STOP_SYNC_FULL);
    gMovWriter.syncs = 1;
    gMovWriter.samples = MOV_SAMPLE_CAP - 1;
    EXPECT_EQ(Mov_AccountFrame(b.data(), (uint32_t)b.size()), -1);
    EXPECT_EQ(gMovClosing.reason, (uint32_t)MOV_STOP_SAMPLES_FULL);
    // Written anyway, a frame fills the table's last entry and no more.
    Bytes one = Unit(Video(1));
    EXPECT_GT(Mov_WriteFrame(one.data(), (uint32_t)one.size()), 0);
    EXPECT_EQ(gMovWriter.samples, (uint32_t)MOV_SAMPLE_CAP);
    Bytes next = Unit(Video(2));
    EXPECT_EQ(Mov_WriteFrame(next.data(), (uint32_t)next.size()), -1);
    EXPECT_EQ(gMovWriter.samples, (uint32_t)MOV_SAMPLE_CAP);
    gMovWriter.samples = 1;
    gMovWriter.textSamples = MOV_TEXT_CAP - 1;
    EXPECT_EQ(Mov_AccountFrame(b.data(), (uint32_t)b.size()), -1);
    EXPECT_EQ(gMovClosing.reason, (uint32_t)MOV_STOP_TEXT_FULL);
    // A time jump the text table cannot hold is refused by the writer.
    gMovWriter.textSamples = 1;
    UnitFields jump = Video(0);
    jump.time = kT0 + 9000;
    Bytes j = Unit(jump);
    EXPECT_EQ(Mov_WriteFrame(j.data(), (uint32_t)j.size()), -1);
    EXPECT_EQ(gMovClosing.reason, (uint32_t)MOV_STOP_TEXT_FULL);
    EXPECT_EQ(gMovWriter.textSamples, 1u);
    OutFile_Close();
}

TEST(MovWriter, AChangedFieldGeometryIsNoted)
{
    struct Case {
        uint32_t mode;
        uint32_t reason;
    } cases[] = {{0, 0}, {1, 0}, {2, 13}, {3, 11}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Begin("geometry.mov");
        ASSERT_GT(Feed(Unit(Video(0))), 0);
        UnitFields u = Video(1);
        u.mode = c.mode;
        Bytes b = Unit(u);
        EXPECT_EQ(Mov_AccountFrame(b.data(), (uint32_t)b.size()), 0);
        EXPECT_EQ(gMovClosing.reason, c.reason);
        Bytes s = Unit(Sound(kT0, 1, 0x80)); // sound keeps the first frame's values
        memset(&gMovClosing, 0, sizeof gMovClosing);
        EXPECT_EQ(Mov_AccountFrame(s.data(), (uint32_t)s.size()), 0);
        EXPECT_EQ(gMovClosing.reason, 0u);
        OutFile_Close();
    }
}

// The NAL length that covers the trailer is the payload's last unit's; a
// payload of one unit, or one whose lengths do not add up, gets its leading
// length rewritten to unit length + 28.
TEST(MovWriter, TheLastNalUnitRunsOnThroughTheTrailer)
{
    std::string path = Begin("nal.mov");
    Bytes key = Unit(Video(0));
    Bytes two = Unit(Video(1, false));
    two.resize(32 + 96);
    two[18] = 2;
    // 8-byte NAL unit, then one of 80 bytes.
    uint8_t lengths[] = {0, 0, 0, 8, 0x06, 1, 2, 3, 4, 5, 6, 7};
    memcpy(&two[32], lengths, sizeof lengths);
    two[44] = 0;
    two[45] = 0;
    two[46] = 0;
    two[47] = 80;
    two[48] = 0x41;
    Bytes wild = Unit(Video(2, false));
    wild[32] = 0x7F; // a leading length far past the payload
    ASSERT_GT(Feed(key), 0);
    Bytes before = two;
    ASSERT_GT(FeedIn(two), 0);
    // The caller's buffer keeps its lengths (only the frame number moves).
    EXPECT_TRUE(std::equal(before.begin() + 32, before.begin() + 36, two.begin() + 32));
    EXPECT_TRUE(std::equal(before.begin() + 44, before.end(), two.begin() + 44));
    ASSERT_GT(Feed(wild), 0);
    uint32_t at1 = gMovWriter.chunkOffsets[1], at2 = gMovWriter.chunkOffsets[2];
    ASSERT_TRUE(Finish());
    Bytes f = FileBytes(path);
    EXPECT_EQ(Be32(&f[at1]), 8u);
    EXPECT_EQ(Be32(&f[at1 + 12]), 80u + 64u);
    EXPECT_EQ(Be32(&f[at2]), 64u + 28u);
    // The first sample: the SPS and PPS in front, then the unit.
    uint32_t at0 = gMovWriter.chunkOffsets[0];
    EXPECT_EQ(f[at0 + 4], 0x67);
    EXPECT_EQ(gMovWriter.sampleSizes[0], 64u + 32u + gMovWriter.params0Length);
}

// A part that begins before a key frame: the units before it are not
// written (no file head, no sample), and the file starts with that key
// frame, its parameter sets in front, as the movie's first sample.
TEST(MovWriter, UnitsBeforeTheFirstKeyFrameAreNotWritten)
{
    std::string path = Begin("first-key.mov");
    for (uint32_t n = 0; n < 5; ++n) {
        EXPECT_GT(Feed(Unit(Video(n, false))), 0) << n;
        EXPECT_EQ(gMovWriter.samples, 0u) << n;
        EXPECT_EQ(gMovWriter.started, 0u) << n;
    }
    EXPECT_EQ(FileBytes(path).size(), 0u) << "nothing is written before the key frame";
    for (uint32_t n = 5; n < 10; ++n) ASSERT_GT(Feed(Unit(Video(n, n == 5))), 0) << n;
    EXPECT_EQ(gMovWriter.samples, 5u);
    EXPECT_EQ(gMovWriter.firstTime, kT0);
    EXPECT_EQ(gMovWriter.firstFrameNumber, 5u);
    ASSERT_TRUE(Finish());

    Bytes f = FileBytes(path);
    Walk w = WalkFile(f);
    ASSERT_EQ(w.error, "");
    std::vector<uint32_t> sizes = Table(f, w.Find("moov/trak/mdia/minf/stbl/stsz"), 4);
    std::vector<uint32_t> syncs = Table(f, w.Find("moov/trak/mdia/minf/stbl/stss"), 0);
    std::vector<uint32_t> chunks = Table(f, w.Find("moov/trak/mdia/minf/stbl/stco"), 0);
    ASSERT_EQ(sizes.size(), 5u);
    EXPECT_EQ(syncs, std::vector<uint32_t>{1});
    ASSERT_EQ(chunks.size(), 5u);
    // The first sample: SPS and PPS, then the key frame's slice; the
    // others are the P frames' slices.
    ASSERT_LT(chunks[0] + 8, f.size());
    EXPECT_EQ(f[chunks[0] + 4] & 31, 7) << "the SPS first";
    uint32_t spsLength = Be32(&f[chunks[0]]);
    uint32_t ppsAt = chunks[0] + 4 + spsLength;
    EXPECT_EQ(f[ppsAt + 4] & 31, 8) << "then the PPS";
    uint32_t sliceAt = ppsAt + 4 + Be32(&f[ppsAt]);
    EXPECT_EQ(f[sliceAt + 4], 0x65) << "then the key frame";
    for (size_t k = 1; k < chunks.size(); ++k) EXPECT_EQ(f[chunks[k] + 4], 0x41) << "sample " << k + 1;
    // A sample is its unit (64 bytes here) and the 32-byte trailer.
    EXPECT_EQ(sizes[0], sliceAt - chunks[0] + 64 + 32);
    for (size_t k = 1; k < sizes.size(); ++k) EXPECT_EQ(sizes[k], 64u + 32u) << k;
}

TEST(Watermark, KeysTransformAndSigning)
{
    Watermark_InitKeys();
    EXPECT_EQ(gWatermarkKeys.modulus, 893u);
    EXPECT_EQ(gWatermarkKeys.totient, 780u);
    EXPECT_LT(gWatermarkKeys.exponent, 10u);
    EXPECT_EQ(std::gcd(gWatermarkKeys.exponent, 780u), 1u);
    EXPECT_EQ(gWatermarkKeys.exponent * gWatermarkKeys.inverse % 780, 1u);
    EXPECT_EQ(Watermark_Transform(0), 0u);
    EXPECT_EQ(Watermark_Transform(1), 1u);
    for (uint32_t x = 0; x < 256; ++x) EXPECT_LT(Watermark_Transform(x), 893u);

    TWatermarkRecord r;
    memset(&r, 0xFF, sizeof r);
    r.videoSum = 0x00010203;
    r.audioSum = 0x01000001;
    memcpy(&r.recorder12[0], "\x01\x00\x00\x80", 4); // the word 0x80000001
    Watermark_SignRecord(&r);
    uint32_t word12;
    memcpy(&word12, (uint8_t*)&r + 12, 4);
    EXPECT_EQ(word12, 3u);
    EXPECT_EQ(r.videoSum, 0u); // zero rotates to zero
    EXPECT_EQ(r.audioSum, 0u);
    uint32_t sum = 0;
    for (int i = 0; i < 39; ++i) {
        uint32_t w;
        memcpy(&w, (uint8_t*)&r + 4 * i, 4);
        sum += w;
    }
    EXPECT_EQ(r.checksum, sum);
    // The transformed bytes, rotated with their words.
    auto unrotated = [&](const uint16_t* at, int k) {
        uint32_t w;
        memcpy(&w, (const uint8_t*)at + (k / 2) * 4, 4);
        w = (w >> 1) | (w << 31);
        return k % 2 ? w >> 16 : w & 0xFFFF;
    };
    const uint32_t video[4] = {3, 2, 1, 0}, audio[4] = {1, 0, 0, 1};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(unrotated(r.videoSigned, k), Watermark_Transform(video[k]));
        EXPECT_EQ(unrotated(r.audioSigned, k), Watermark_Transform(audio[k]));
    }
}

// The recorder's block reaches the record only while a part waits for it.
TEST(Watermark, ALateAnswerStaysOutOfTheRecord)
{
    memset(&gWatermarkRecord, 0, sizeof gWatermarkRecord);
    Watermark_Request(0, 2);
    EXPECT_EQ(gWatermarkRequest, 2u);
    EXPECT_EQ(Watermark_Poll(), 0u);
    for (int i = 0; i < WATERMARK_SIZE; ++i) gWatermarkAnswer[i] = uint8_t(i);
    uint32_t value = 0x27262524;
    EXPECT_EQ(Watermark_Poll(), value);
    Begin("late-answer.mov"); // the part starts: the wait is over
    memset(gWatermarkAnswer, 0x55, sizeof gWatermarkAnswer);
    EXPECT_EQ(Watermark_Poll(), value);
    EXPECT_EQ(gWatermarkRecord.recorder40[0], 40);
    // The file head seeds the sums with the value.
    ASSERT_GT(Feed(Unit(Video(0))), 0);
    EXPECT_EQ(gWatermarkRecord.videoSum, value);
    EXPECT_EQ(gWatermarkRecord.audioSum, value);
    EXPECT_EQ(gWatermarkRecord.heightCode, 15);
    EXPECT_EQ(gWatermarkRecord.widthCode, 20);
    OutFile_Close();
}

// The controller creates the part file and closes it again before the
// writer starts; every write then finds the file by its name.
TEST(MovWriter, APartFileClosedAfterItsCreationTakesTheWrites)
{
    std::string path = Begin("reopened.mov");
    ASSERT_EQ(OutFile_Close(), 0);
    EXPECT_EQ(std::string(OutFile_Name()), path);
    for (uint32_t n = 0; n < 45; ++n) ASSERT_GT(Feed(Unit(Video(n, n % 15 == 0))), 0);
    ASSERT_TRUE(Finish());
    Bytes f = FileBytes(path);
    Walk w = WalkFile(f);
    ASSERT_EQ(w.error, "");
    EXPECT_EQ(Table(f, w.Find("moov/trak/mdia/minf/stbl/stsz"), 4).size(), 45u);
    // A name that cannot be created leaves no file current.
    EXPECT_EQ(OutFile_Create("/nonexistent-dir/part.mov"), -1);
    EXPECT_EQ(std::string(OutFile_Name()), "");
    uint8_t byte = 0;
    EXPECT_EQ(OutFile_WriteAtPos(&byte, 1), -1);
}

// With every table at its cap the "moov" still fits its buffer, every
// table holds exactly its cap, and a buffer one byte short is refused.
TEST(MovWriter, TheMoovOfFullTablesFitsAndAddsUp)
{
    Begin("full-tables.mov");
    ASSERT_GT(Feed(Unit(Video(0))), 0);
    ASSERT_GT(Feed(Unit(Sound(kT0, 0, 0x80))), 0);
    TMovWriter& w = gMovWriter;
    w.samples = MOV_SAMPLE_CAP;
    w.syncs = MOV_SYNC_CAP;
    w.soundChunks = MOV_SOUND_CHUNK_CAP;
    w.soundEntries = MOV_SOUND_ENTRY_CAP;
    w.textSamples = MOV_TEXT_CAP;
    w.soundBytes = 1800u * 8000u;
    Bytes moov(MOV_MOOV_MAX);
    uint32_t n = Mov_BuildMoov(moov.data(), (uint32_t)moov.size());
    ASSERT_GT(n, 0u);
    moov.resize(n);
    Walk walk;
    WalkRange(moov, 0, moov.size(), "", &walk);
    ASSERT_EQ(walk.error, "");
    EXPECT_EQ(Be32(&moov[0]), n);
    EXPECT_EQ(Table(moov, walk.Find("moov/trak/mdia/minf/stbl/stss"), 0).size(), (size_t)MOV_SYNC_CAP);
    EXPECT_EQ(Table(moov, walk.Find("moov/trak/mdia/minf/stbl/stsz"), 4).size(), (size_t)MOV_SAMPLE_CAP);
    EXPECT_EQ(Table(moov, walk.Find("moov/trak/mdia/minf/stbl/stco", 1), 0).size(), (size_t)MOV_SOUND_CHUNK_CAP);
    EXPECT_EQ(Table(moov, walk.Find("moov/trak/mdia/minf/stbl/stsc", 1), 0, 3).size(), 3u * 10922u);
    EXPECT_EQ(Table(moov, walk.Find("moov/trak/mdia/minf/stbl/stco", 2), 0).size(), (size_t)MOV_TEXT_CAP);
    Bytes small(n - 1);
    EXPECT_EQ(Mov_BuildMoov(small.data(), (uint32_t)small.size()), 0u);
    OutFile_Close();
}

// Parts follow one another in one process: each starts afresh from its
// own first key frame and size, and a part without a reason of its own
// carries the last one noted in the process.
TEST(MovWriter, ASecondPartStartsAfreshAndCarriesTheLastReason)
{
    std::string first = Begin("part0.mov", kT0, kT0 + 1);
    for (uint32_t n = 0; n < 30; ++n) ASSERT_GT(Feed(Unit(Video(n, n % 10 == 0))), 0);
    EXPECT_EQ(Feed(Unit(Video(30 * 7))), -100); // 6 s past the end
    ASSERT_TRUE(Finish());

    Watermark_InitKeys();
    std::string second = Scratch() + "/part1.mov";
    ASSERT_EQ(OutFile_Create(second.c_str()), 0);
    Mov_Init(kT0 + 100, kT0 + 200); // the reason stays
    for (uint32_t n = 0; n < 45; ++n) {
        UnitFields u = Video(3000 + n, n % 15 == 0);
        u.width = 40;
        u.height = 30;
        ASSERT_GT(Feed(Unit(u)), 0) << n;
    }
    ASSERT_TRUE(Finish());
    for (const std::string& path : {first, second}) {
        Bytes f = FileBytes(path);
        Walk w = WalkFile(f);
        ASSERT_EQ(w.error, "") << path;
        const Atom* moov = w.Find("moov");
        EXPECT_EQ(Le32(&f[moov->offset - 4096 + 4]), (uint32_t)MOV_STOP_PAST_END) << path;
        const Atom* tkhd = w.Find("moov/trak/tkhd");
        const Atom* stsz = w.Find("moov/trak/mdia/minf/stbl/stsz");
        bool isFirst = path == first;
        EXPECT_EQ(Be32(&f[tkhd->body() + 76]) >> 16, isFirst ? 320u : 640u) << path;
        EXPECT_EQ(Table(f, stsz, 4).size(), isFirst ? 30u : 45u) << path;
        const Atom* mvhd = w.Find("moov/mvhd");
        EXPECT_EQ(Be32(&f[mvhd->body() + 4]), isFirst ? kT0 : kT0 + 100) << path; // creation: the first video time
    }
}
