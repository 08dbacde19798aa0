// Decoder channels fed with real libx264 streams in "avc1" framing: the
// pictures must equal ffmpeg's own decoding (framemd5), two channels
// decode independently, damaged input (cut parameter sets among it) raises
// the failed-slice status and never crashes, a picture size that changes
// with every frame is followed, and pictures beyond the pool's size are
// refused.
#include "media/Decoder.h"
#include "media/Stream.h"
#include "tests/support/AvcStream.h"
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include <random>

using namespace avcstream;

namespace {

struct TSeen {
    std::vector<std::string> sums;
    uint32_t width = 0, height = 0;
};
TSeen gSeen[2];

std::string PictureMd5(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t ys, uint32_t cs, uint32_t w,
                       uint32_t h)
{
    AVMD5* md5 = av_md5_alloc();
    av_md5_init(md5);
    for (uint32_t r = 0; r < h; r++) av_md5_update(md5, y + (size_t)r * ys, w);
    for (const uint8_t* p : {u, v})
        for (uint32_t r = 0; r < (h + 1) / 2; r++) av_md5_update(md5, p + (size_t)r * cs, (w + 1) / 2);
    uint8_t digest[16];
    av_md5_final(md5, digest);
    av_free(md5);
    char hex[33];
    for (int i = 0; i < 16; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

void Sink(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t ys, uint32_t cs, uint32_t w, uint32_t h)
{
    TSeen& s = gSeen[gDecoderChannel & 1];
    s.sums.push_back(PictureMd5(y, u, v, ys, cs, w, h));
    s.width = w;
    s.height = h;
}

int Decode(const Bytes& unit, uint32_t channel)
{
    gDecodeConnection = (int32_t)channel;
    return Decoder_DecodeFrame(unit.data(), (uint32_t)unit.size(), channel);
}

struct TStream {
    std::string path;
    std::vector<Bytes> units;
    std::vector<std::string> sums;
};

TStream Make(const std::string& dir, const std::string& name, int w, int h, int frames, const std::string& extra = "",
             const std::string& source = "testsrc2")
{
    TStream s;
    s.path = dir + "/" + name + ".h264";
    Bytes annexB;
    if (!MakeAnnexB(s.path, w, h, frames, extra, source) || !ReadFile(s.path, &annexB)) return s;
    s.units = AccessUnits(annexB);
    s.sums = FrameMd5(s.path);
    return s;
}

class DecoderTest : public ::testing::Test {
protected:
    static std::string dir;
    static void SetUpTestSuite()
    {
        dir = TempDir();
        ASSERT_EQ(FrameBuf_Init(640, 512), 0);
        ASSERT_EQ(Decoder_OpenChannel(0), 0);
        ASSERT_EQ(Decoder_OpenChannel(1), 0);
        Decoder_SetPictureSink(Sink);
    }
    static void TearDownTestSuite()
    {
        Decoder_SetPictureSink(nullptr);
        Shell("rm -rf '" + dir + "'");
    }
    void SetUp() override
    {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg with libx264 is not installed";
        gSeen[0] = TSeen();
        gSeen[1] = TSeen();
        gSliceStatus = 0;
    }
};
std::string DecoderTest::dir;

// Runs first: nothing is decoded before the pool exists.
TEST(DecoderBeforePool, FramesAreIgnoredUntilThePoolExists)
{
    if (gPicturePool) GTEST_SKIP() << "the pool was made by an earlier test";
    static const uint8_t unit[8] = {0, 0, 0, 4, 0x65, 0x88, 0x84, 0x00};
    EXPECT_EQ(Decoder_DecodeFrame(unit, sizeof unit, 0), 0);
}

TEST_F(DecoderTest, PicturesEqualFfmpegsOwnDecoding)
{
    struct Case {
        int w, h, frames;
        const char* extra;
    } cases[] = {
        {176, 144, 12, "-g 5"},          // key frame every 5 pictures
        {352, 288, 8, "-refs 4 -g 100"}, // four reference pictures
        {640, 480, 5, ""},
        {704, 576, 4, ""},          // the largest picture accepted
        {320, 240, 6, "-slices 3"}, // several slices per picture
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.extra);
        TStream s = Make(dir, "ref", c.w, c.h, c.frames, c.extra);
        ASSERT_EQ(s.sums.size(), (size_t)c.frames);
        ASSERT_EQ(s.units.size(), (size_t)c.frames);
        gSeen[0] = TSeen();
        for (size_t i = 0; i < s.units.size(); i++) {
            EXPECT_EQ(Decode(s.units[i], 0), 1) << "unit " << i; // no picture is held back
            EXPECT_LE(PicturePool_SlotsInUse(0), (uint32_t)POOL_SLOTS_PER_CHANNEL);
        }
        EXPECT_EQ(gSeen[0].sums, s.sums);
        EXPECT_EQ(gSeen[0].width, (uint32_t)c.w);
        EXPECT_EQ(gSeen[0].height, (uint32_t)c.h);
        EXPECT_EQ(gSliceStatus, 0);
    }
}

TEST_F(DecoderTest, TwoChannelsDecodeIndependently)
{
    TStream a = Make(dir, "a", 352, 288, 10, "-g 4");
    TStream b = Make(dir, "b", 176, 144, 10, "-g 3", "mandelbrot");
    ASSERT_EQ(a.units.size(), 10u);
    ASSERT_EQ(b.units.size(), 10u);
    for (size_t i = 0; i < 10; i++) {
        EXPECT_EQ(Decode(a.units[i], 0), 1);
        EXPECT_EQ(Decode(b.units[i], 1), 1);
    }
    EXPECT_EQ(gSeen[0].sums, a.sums);
    EXPECT_EQ(gSeen[1].sums, b.sums);
    EXPECT_GT(PicturePool_SlotsInUse(1), 0u);
    EXPECT_LE(PicturePool_SlotsInUse(1), (uint32_t)POOL_SLOTS_PER_CHANNEL);
}

TEST_F(DecoderTest, SizeChangeTakesTheDecodedSize)
{
    // Without the stream's key-frame word, a new size still shows with its
    // own first picture.
    TStream small = Make(dir, "s", 176, 144, 2, "");
    TStream large = Make(dir, "l", 352, 288, 2, "");
    gStreamRecords[0].keyFrameWord = 0;
    ASSERT_EQ(Decode(small.units[0], 0), 1);
    EXPECT_EQ(gSeen[0].width, 176u);
    ASSERT_EQ(Decode(large.units[0], 0), 1);
    EXPECT_EQ(gSeen[0].width, 352u);
    EXPECT_EQ(gSeen[0].height, 288u);
    EXPECT_EQ(gSeen[0].sums.back(), large.sums[0]);
    ASSERT_EQ(Decode(small.units[0], 0), 1);
    EXPECT_EQ(gSeen[0].width, 176u);
    EXPECT_EQ(gSeen[0].sums.back(), small.sums[0]);
}

// Each slot is handed to the decoder again and again with the reference
// the pool kept from its last picture: a long stream with reference
// pictures still equals ffmpeg's decoding, through a reset in its middle,
// and once the decoder and the display have let go every slot is free.
TEST_F(DecoderTest, SlotsGoRoundAndComeBackFree)
{
    TStream s = Make(dir, "round", 352, 288, 60, "-refs 4 -g 10 -sc_threshold 0");
    ASSERT_EQ(s.units.size(), 60u);
    for (size_t i = 0; i < s.units.size(); i++) {
        if (i == 30) Decoder_ResetChannel(0); // picture 30 is a key frame
        EXPECT_EQ(Decode(s.units[i], 0), 1) << "unit " << i;
        EXPECT_LE(PicturePool_SlotsInUse(0), (uint32_t)POOL_SLOTS_PER_CHANNEL);
    }
    EXPECT_EQ(gSeen[0].sums, s.sums);
    EXPECT_GT(PicturePool_SlotsInUse(0), 0u);
    Decoder_ResetChannel(0);
    EXPECT_EQ(PicturePool_SlotsInUse(0), 0u);
    // And the slots serve the next stream.
    gSeen[0] = TSeen();
    TStream next = Make(dir, "after", 176, 144, 12, "-g 5");
    for (const Bytes& u : next.units) EXPECT_EQ(Decode(u, 0), 1);
    EXPECT_EQ(gSeen[0].sums, next.sums);
}

TEST_F(DecoderTest, LargerPicturesAreRefused)
{
    TStream big = Make(dir, "big", 720, 576, 3, "");
    ASSERT_EQ(big.units.size(), 3u);
    for (const Bytes& u : big.units) EXPECT_EQ(Decode(u, 0), 0);
    EXPECT_TRUE(gSeen[0].sums.empty());
    EXPECT_EQ(gSliceStatus, -1);
    // The channel goes on with pictures that fit.
    gSliceStatus = 0;
    TStream ok = Make(dir, "ok", 704, 576, 2, "");
    for (const Bytes& u : ok.units) EXPECT_EQ(Decode(u, 0), 1);
    EXPECT_EQ(gSeen[0].sums, ok.sums);
}

TEST_F(DecoderTest, MoreReferencesThanThePoolHoldsAreRefusedNotOverwritten)
{
    // Sixteen reference pictures do not fit in a channel's slots: the
    // pictures that find no free slot fail (and say so) instead of taking
    // a slot still in use; the ones before decode as ffmpeg decodes them,
    // and the channel recovers with the next stream.
    TStream many = Make(dir, "m", 176, 144, 20, "-refs 16 -g 100");
    ASSERT_EQ(many.units.size(), 20u);
    uint32_t shown = 0;
    for (const Bytes& u : many.units) {
        shown += (uint32_t)Decode(u, 0);
        EXPECT_LE(PicturePool_SlotsInUse(0), (uint32_t)POOL_SLOTS_PER_CHANNEL);
    }
    EXPECT_EQ(gSliceStatus, -1);
    ASSERT_GE(gSeen[0].sums.size(), 5u);
    for (size_t i = 0; i < 5; i++) EXPECT_EQ(gSeen[0].sums[i], many.sums[i]) << "picture " << i;
    gSliceStatus = 0;
    gSeen[0] = TSeen();
    TStream ok = Make(dir, "k", 176, 144, 4, "");
    for (const Bytes& u : ok.units) EXPECT_EQ(Decode(u, 0), 1);
    EXPECT_EQ(gSeen[0].sums, ok.sums);
}

TEST_F(DecoderTest, RefusesWhatItCannotTake)
{
    TStream s = Make(dir, "r", 176, 144, 1, "");
    ASSERT_EQ(s.units.size(), 1u);
    const Bytes& u = s.units[0];
    EXPECT_EQ(Decoder_DecodeFrame(nullptr, 10, 0), 0);
    EXPECT_EQ(Decoder_DecodeFrame(u.data(), 0, 0), 0);
    EXPECT_EQ(Decoder_DecodeFrame(u.data(), (uint32_t)u.size(), 2), 0);
    EXPECT_EQ(Decoder_DecodeFrame(u.data(), (uint32_t)u.size(), 0xFFFFFFFFu), 0);
    EXPECT_EQ(Decoder_DecodeFrame(u.data(), DECODER_INPUT_MAX + 1, 0), 0);
    gDecodeConnection = 3;
    EXPECT_EQ(Decoder_DecodeFrame(u.data(), (uint32_t)u.size(), 0), 0);
    EXPECT_EQ(Decoder_OpenChannel(2), -1);
    EXPECT_EQ(Decoder_OpenChannel(3), -1);
    EXPECT_TRUE(gSeen[0].sums.empty());
    EXPECT_EQ(Decode(u, 0), 1);
}

TEST_F(DecoderTest, DamagedInputRaisesTheSliceStatusAndNeverCrashes)
{
    TStream s = Make(dir, "d", 352, 288, 10, "-g 100");
    ASSERT_EQ(s.units.size(), 10u);
    std::mt19937 random(7);
    uint32_t flagged = 0, damaged = 0;
    for (int round = 0; round < 30; round++) {
        // A clean key frame, then damaged pictures.
        gSliceStatus = 0;
        Decode(s.units[0], 0);
        EXPECT_EQ(gSliceStatus, 0);
        for (size_t i = 1; i < s.units.size(); i++) {
            Bytes u = s.units[i];
            if (round % 3 == 0) {
                // Flip bytes of the slice data (behind the length and the slice header).
                for (int k = 0; k < 8; k++) u[16 + random() % (u.size() - 16)] ^= (uint8_t)(1 + random() % 255);
            } else if (round % 3 == 1) {
                u.resize(8 + random() % (u.size() - 8)); // cut short
            } else {
                for (int k = 0; k < 4; k++) u[random() % u.size()] = (uint8_t)random(); // anywhere, lengths too
            }
            gSliceStatus = 0;
            Decode(u, 0);
            damaged++;
            if (gSliceStatus == -1) flagged++;
        }
    }
    EXPECT_GE(flagged, damaged * 3 / 4) << flagged << " of " << damaged;
    // Clean input decodes as before.
    gSeen[0] = TSeen();
    gSliceStatus = 0;
    for (const Bytes& u : s.units) EXPECT_EQ(Decode(u, 0), 1);
    EXPECT_EQ(gSeen[0].sums, s.sums);
    EXPECT_EQ(gSliceStatus, 0);
}

// The NAL units of an access unit in "avc1" framing: offset and size of
// each unit's bytes (behind its length).
std::vector<std::pair<size_t, size_t>> NalUnits(const Bytes& unit)
{
    std::vector<std::pair<size_t, size_t>> nals;
    for (size_t at = 0; at + 4 <= unit.size();) {
        size_t n = (size_t)unit[at] << 24 | (size_t)unit[at + 1] << 16 | (size_t)unit[at + 2] << 8 | unit[at + 3];
        if (at + 4 + n > unit.size()) break;
        nals.push_back({at + 4, n});
        at += 4 + n;
    }
    return nals;
}

TEST_F(DecoderTest, TruncatedParameterSetsNeverCrash)
{
    // The key frame's sequence and picture parameter sets cut short, both
    // with their length field telling the cut size and with it still
    // telling the whole size (a length beyond the end of the frame).
    TStream s = Make(dir, "t", 352, 288, 4, "-g 100");
    ASSERT_EQ(s.units.size(), 4u);
    std::vector<std::pair<size_t, size_t>> nals = NalUnits(s.units[0]);
    ASSERT_GE(nals.size(), 3u);
    uint32_t cases = 0;
    for (size_t k = 0; k < nals.size(); k++) {
        int type = s.units[0][nals[k].first] & 0x1F;
        if (type != 7 && type != 8) continue;
        for (size_t keep = 0; keep < nals[k].second; keep++)
            for (bool fixLength : {true, false}) {
                Bytes u(s.units[0].begin(), s.units[0].begin() + (long)(nals[k].first + keep));
                if (fixLength) {
                    size_t at = nals[k].first - 4;
                    u[at] = (uint8_t)(keep >> 24);
                    u[at + 1] = (uint8_t)(keep >> 16);
                    u[at + 2] = (uint8_t)(keep >> 8);
                    u[at + 3] = (uint8_t)keep;
                    // The rest of the frame behind the cut parameter set.
                    u.insert(u.end(), s.units[0].begin() + (long)(nals[k].first + nals[k].second), s.units[0].end());
                }
                Decode(u, 0);
                for (size_t i = 1; i < s.units.size(); i++) Decode(s.units[i], 0);
                cases++;
                EXPECT_LE(PicturePool_SlotsInUse(0), (uint32_t)POOL_SLOTS_PER_CHANNEL);
                if (gSeen[0].width) {
                    EXPECT_LE(gSeen[0].width, (uint32_t)DECODER_MAX_WIDTH);
                    EXPECT_LE(gSeen[0].height, (uint32_t)DECODER_MAX_HEIGHT);
                }
            }
    }
    EXPECT_GT(cases, 8u);
    // A clean stream decodes as ffmpeg decodes it.
    gSeen[0] = TSeen();
    gSliceStatus = 0;
    for (const Bytes& u : s.units) EXPECT_EQ(Decode(u, 0), 1);
    EXPECT_EQ(gSeen[0].sums, s.sums);
    EXPECT_EQ(gSliceStatus, 0);
}

TEST_F(DecoderTest, PictureSizeChangingEveryFrame)
{
    // Key frames of a different size every frame, the smallest (one
    // macroblock) and the largest accepted among them, cropped sizes too:
    // each picture is ffmpeg's own decoding of its frame.
    const int sizes[][2] = {{16, 16}, {704, 576}, {48, 32}, {350, 290}, {176, 144}, {702, 574}};
    const size_t kinds = sizeof sizes / sizeof sizes[0];
    std::vector<TStream> intra, inter;
    for (size_t k = 0; k < kinds; k++) {
        std::string name = "c" + std::to_string(k);
        intra.push_back(Make(dir, name + "i", sizes[k][0], sizes[k][1], 4, "-g 1"));
        inter.push_back(Make(dir, name + "p", sizes[k][0], sizes[k][1], 4, "-g 100"));
        ASSERT_EQ(intra.back().units.size(), 4u);
        ASSERT_EQ(inter.back().units.size(), 4u);
    }
    for (size_t frame = 0; frame < 4; frame++)
        for (size_t k = 0; k < kinds; k++) {
            SCOPED_TRACE(testing::Message() << sizes[k][0] << "x" << sizes[k][1] << " frame " << frame);
            gStreamRecords[0].keyFrameWord = k & 1; // with and without the stream's word
            ASSERT_EQ(Decode(intra[k].units[frame], 0), 1);
            EXPECT_EQ(gSeen[0].width, (uint32_t)sizes[k][0]);
            EXPECT_EQ(gSeen[0].height, (uint32_t)sizes[k][1]);
            EXPECT_EQ(gSeen[0].sums.back(), intra[k].sums[frame]);
        }
    EXPECT_EQ(gSliceStatus, 0);
    // Predicted frames of one size after a picture of another refer to
    // pictures that are not there: they may fail, but never crash and
    // never report a size beyond the pool's.
    for (int round = 0; round < 3; round++)
        for (size_t frame = 0; frame < 4; frame++)
            for (size_t k = 0; k < kinds; k++) {
                const TStream& s = (round + k) % 2 ? inter[k] : intra[(k + 1) % kinds];
                gSeen[0].width = gSeen[0].height = 0;
                if (Decode(s.units[frame], 0) == 1) {
                    EXPECT_LE(gSeen[0].width, (uint32_t)DECODER_MAX_WIDTH);
                    EXPECT_LE(gSeen[0].height, (uint32_t)DECODER_MAX_HEIGHT);
                }
                EXPECT_LE(PicturePool_SlotsInUse(0), (uint32_t)POOL_SLOTS_PER_CHANNEL);
            }
    // The channel settles on the next clean stream.
    gSeen[0] = TSeen();
    gSliceStatus = 0;
    for (const Bytes& u : inter[3].units) EXPECT_EQ(Decode(u, 0), 1);
    EXPECT_EQ(gSeen[0].sums, inter[3].sums);
}

} // namespace
