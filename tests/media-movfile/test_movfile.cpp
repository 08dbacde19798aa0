// The movie reader and local playback against real files: dvr-sim dumps a
// backup's frames, tavlin-mov writes them as a movie with the viewer's
// writer, and the reader must give every video unit back as it was sent,
// index the key frames per second, step by 5 s, verify the watermark
// record and feed frames through the VIDO path whose decoded pictures
// equal ffmpeg's of the same file. Truncated, damaged and foreign files
// must be refused or played in part, never read out of bounds.
#include "../media-stream/MediaFixture.h"
#include "ddns/Md5.h"
#include "media/LocalPlay.h"
#include "media/MovFile.h"
#include "media/Watermark.h"
#include "tests/media-mov/MovAtoms.h"
#include "tests/support/AvcDecoder.h"
#include "tests/support/FrameDump.h"
#include "tests/support/Shell.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>

namespace {

using mov_test::Walk;
using mov_test::WalkFile;

const uint32_t kStart = 850000000; // a recorder second in 2026

bool HaveFfmpeg() { return Shell("command -v ffmpeg >/dev/null") == 0; }

// The dump's video units.
std::vector<DumpUnit> VideoUnits(const Bytes& d)
{
    std::vector<DumpUnit> units;
    for (const DumpUnit& u : DumpUnits(d))
        if (u.kind == 1) units.push_back(u);
    return units;
}

struct Made {
    std::string dir, mov;
    Bytes frames, file;
    bool ok = false;
};

Made Make(const std::string& simOptions, uint32_t watermark = 0x5A17C0DE)
{
    Made m;
    m.dir = ScratchDir("tavlin-movfile");
    std::string dump = m.dir + "/frames";
    m.mov = m.dir + "/part.mov";
    if (Shell(std::string(DVR_SIM_PATH) + " --dump-frames " + dump + " --dump-start " + std::to_string(kStart) + " " +
              simOptions + " >/dev/null 2>&1") != 0)
        return m;
    std::string out;
    if (Shell(std::string(TAVLIN_MOV_PATH) + " " + dump + " " + m.mov + " --watermark " + std::to_string(watermark) +
                  " 2>&1",
              &out) != 0)
        return m;
    m.ok = ReadFile(dump, &m.frames) && ReadFile(m.mov, &m.file);
    return m;
}

bool WriteBytes(const std::string& path, const Bytes& b, size_t n)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(b.data(), 1, n, f) == n;
    return fclose(f) == 0 && ok;
}

// Runs the index step until it is idle again (bounded).
void Index()
{
    for (int i = 0; i < 10000 && gLocalFile.indexState != LOCAL_INDEX_IDLE; ++i) LocalPlay_BuildIndex();
}

// Every sample read as the feed reads it; the count that read.
uint32_t ReadAll(const char* name)
{
    static uint8_t out[MOVFILE_WORK_SIZE];
    uint32_t good = 0;
    for (uint32_t i = 0; i < gMovReadTables.sampleCount; ++i) {
        uint32_t n = MovFile_ReadSample(i, out, sizeof out, name);
        if (n) {
            EXPECT_EQ(n, gMovReadTables.sampleSizes[i] - 32);
            good += 1;
        }
    }
    return good;
}

class MovFileTest : public MediaTest {
protected:
    void SetUp() override
    {
        MediaTest::SetUp();
        Watermark_InitKeys();
        memset(&gLocalFile, 0, sizeof gLocalFile);
        MovFile_Clear();
    }
};

// --- Round trip ------------------------------------------------------------------

TEST_F(MovFileTest, EverySampleReadsBackAsTheUnitSentAndTheIndexHoldsTheKeyFrames)
{
    Made m = Make("--seconds 10 --gop 30");
    ASSERT_TRUE(m.ok);
    std::vector<DumpUnit> units = VideoUnits(m.frames);
    ASSERT_EQ(units.size(), 300u);

    ASSERT_EQ(LocalPlay_Arm(m.mov.c_str()), 0);
    EXPECT_EQ(gLocalFile.sampleCount, 300u);
    EXPECT_EQ(gMovReadTables.frameRate, 30u);
    EXPECT_EQ(gMovReadTables.syncCount, 10u);

    uint8_t params[H264_PARAM_SETS_MAX];
    uint32_t paramsLength = 0;
    ASSERT_EQ(H264_MakeParamSets(m.frames[units[0].offset + 13], m.frames[units[0].offset + 12], params, &paramsLength,
                                 H264_FORM_AVC1),
              0);
    static uint8_t out[MOVFILE_WORK_SIZE];
    uint32_t counter = 0; // the writer numbers P frames 1, 2, ... after each key frame, modulo 16
    for (uint32_t i = 0; i < 300; ++i) {
        Bytes sent(m.frames.begin() + units[i].offset, m.frames.begin() + units[i].offset + units[i].bytes);
        if (units[i].key) counter = 1;
        else H264_SetFrameNumber(sent.data() + 32, units[i].bytes - 32, counter++ % 16);
        const uint8_t* unit = sent.data();
        uint32_t n = MovFile_ReadSample(i, out, sizeof out, m.mov.c_str());
        uint32_t lead = i == 0 ? paramsLength : 0;
        ASSERT_EQ(n, units[i].bytes + lead) << "sample " << i;
        // The header as sent, marked as coming from a local file.
        Bytes header(unit, unit + 32);
        header[23] |= 0x60;
        EXPECT_EQ(Bytes(out, out + 32), header) << "sample " << i;
        EXPECT_EQ((out[23] >> 5) & 3, 3);
        // The payload without the trailer, its NAL length as sent.
        if (i == 0) {
            EXPECT_TRUE(std::equal(params, params + paramsLength, out + 32));
        }
        EXPECT_TRUE(std::equal(unit + 32, unit + units[i].bytes, out + 32 + lead)) << "sample " << i;
        uint8_t h[32];
        EXPECT_EQ(MovFile_ReadSampleHeader(i, h, m.mov.c_str()), n);
    }

    Index();
    EXPECT_EQ(gLocalFile.firstTime, kStart);
    EXPECT_EQ(gLocalFile.lastTime, kStart + 9);
    EXPECT_EQ(gLocalFile.indexLength, 9u);
    for (uint32_t s = 0; s < 10; ++s) EXPECT_EQ(gLocalFile.index[s], 1 + 30 * s) << "second " << s;
    EXPECT_EQ(gLocalFile.index[10], 0u);
    EXPECT_EQ(gLocalFile.watermark, (uint32_t)LOCAL_MARK_GOOD);
    EXPECT_EQ(gLocalFile.playState, 1u);
    EXPECT_EQ(gLocalFile.playRequest, 1u);
    EXPECT_EQ(gLocalFile.currentTime, kStart);
}

// Key frames 2 s apart: entries at 0, 2, 4, ..., and the seeks of the
// panel's steps from there.
TEST_F(MovFileTest, KeyFramesTwoSecondsApartAndTheSeekSteps)
{
    Made m = Make("--seconds 20 --gop 60");
    ASSERT_TRUE(m.ok);
    ASSERT_EQ(LocalPlay_Arm(m.mov.c_str()), 0);
    Index();
    ASSERT_EQ(gLocalFile.firstTime, kStart);
    ASSERT_EQ(gLocalFile.lastTime, kStart + 19);
    EXPECT_EQ(gLocalFile.indexLength, 18u);
    for (uint32_t s = 0; s < 20; ++s) EXPECT_EQ(gLocalFile.index[s], s % 2 == 0 ? 1 + 30 * s : 0) << "second " << s;

    struct Case {
        const char* what;
        uint32_t from; // current time, seconds after the first
        int32_t step;
        uint32_t at;    // current time after the step
        int32_t sample; // what plays
    } cases[] = {
        {"first time, step back stays", 0, -1, 0, 0},
        {"first time, play on", 0, 0, 0, 0},
        {"odd second plays from the key frame before", 3, 0, 3, 60},
        {"one step on from 1 s", 1, 1, 6, 180},
        {"one step on to an odd second", 2, 1, 7, 180},
        {"one step back", 12, -1, 7, 180},
        {"past the end stops at the last time", 17, 1, 19, 540},
        {"far back stops at the first time", 9, -3, 0, 0},
        {"last time, step on", 19, 1, 19, 540},
    };
    for (const Case& c : cases) {
        gLocalFile.currentTime = kStart + c.from;
        EXPECT_EQ(MovFile_SeekStep(&gLocalFile, c.step), c.sample) << c.what;
        EXPECT_EQ(gLocalFile.currentTime, kStart + c.at) << c.what;
    }
    TLocalFile empty{};
    empty.firstTime = 5;
    empty.lastTime = 4;
    EXPECT_EQ(MovFile_SeekStep(&empty, 1), -1);
}

// --- Through the frame stream path -----------------------------------------------

struct Pictures {
    std::vector<std::string> md5;
};

std::string Md5Hex(const avc_test::Planes& p)
{
    TMd5Context ctx;
    Md5_Init(&ctx);
    Md5_Update(&ctx, p.y.data(), (uint32_t)p.y.size());
    Md5_Update(&ctx, p.u.data(), (uint32_t)p.u.size());
    Md5_Update(&ctx, p.v.data(), (uint32_t)p.v.size());
    Md5_Final(&ctx);
    char hex[33];
    for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", ctx.digest[i]);
    return hex;
}

// ffmpeg's per-frame MD5s of the file's video.
std::vector<std::string> FfmpegFrameMd5(const std::string& path)
{
    std::string out;
    Shell("ffmpeg -v error -i '" + path + "' -map 0:v -fps_mode passthrough -pix_fmt yuv420p -f framemd5 - 2>/dev/null",
          &out);
    std::vector<std::string> md5;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        size_t comma = line.rfind(',');
        if (comma == std::string::npos) continue;
        std::string h = line.substr(comma + 1);
        h.erase(std::remove(h.begin(), h.end(), ' '), h.end());
        md5.push_back(h);
    }
    return md5;
}

TEST_F(MovFileTest, FramesFedThroughTheStreamPathDecodeAsFfmpegDecodesTheFile)
{
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is needed";
    const struct {
        const char* sim;
        uint32_t frames, rate, widthCode, heightCode;
    } cases[] = {
        {"--seconds 4 --gop 15", 120, 30, 40, 30},
        {"--seconds 3 --gop 25 --pal", 75, 25, 44, 36},
    };
    for (const auto& c : cases) {
        Made m = Make(c.sim);
        ASSERT_TRUE(m.ok) << c.sim;
        Stream_Reset();
        gDecodes.clear();
        memset(&gLocalFile, 0, sizeof gLocalFile);
        View()->mode = VIEW_LOCAL_PLAYBACK;
        ASSERT_EQ(LocalPlay_Arm(m.mov.c_str()), 0) << c.sim;
        EXPECT_EQ(gMovReadTables.frameRate, c.rate) << c.sim;
        for (int t = 0; t < 3000 && gLocalFile.endFlag == 0; ++t) Tick(10);
        EXPECT_EQ(gLocalFile.endFlag, 1u) << c.sim;
        EXPECT_EQ(gLocalFile.playState, 0u) << c.sim;
        for (int t = 0; t < 20; ++t) Tick(10); // the last frame is still due
        ASSERT_EQ(gDecodes.size(), c.frames) << c.sim;
        for (const HandOff& d : gDecodes) EXPECT_EQ(d.channel, 0u);

        avc_test::Decoder decoder(c.widthCode, c.heightCode);
        ASSERT_TRUE(decoder.ok());
        std::vector<std::string> ours;
        for (const HandOff& d : gDecodes) {
            avc_test::Planes p(0, 0);
            if (decoder.Decode(d.bytes, &p)) ours.push_back(Md5Hex(p));
        }
        std::vector<std::string> want = FfmpegFrameMd5(m.mov);
        ASSERT_EQ(want.size(), c.frames) << c.sim;
        EXPECT_EQ(ours, want) << c.sim;
    }
}

TEST_F(MovFileTest, PlayButtonsStepFiveSecondsAndPauseHolds)
{
    Made m = Make("--seconds 20 --gop 30");
    ASSERT_TRUE(m.ok);
    View()->mode = VIEW_LOCAL_PLAYBACK;
    ASSERT_EQ(LocalPlay_Arm(m.mov.c_str()), 0);
    auto timeOfLast = [&]() { return S()->displayTime; };
    for (int t = 0; t < 400 && timeOfLast() != kStart + 1; ++t) Tick(10);
    EXPECT_EQ(timeOfLast(), kStart + 1);

    // Pause: nothing more is fed.
    LocalPlay_PlayButton(1);
    for (int t = 0; t < 20; ++t) Tick(10);
    size_t held = gDecodes.size();
    for (int t = 0; t < 50; ++t) Tick(10);
    EXPECT_EQ(gDecodes.size(), held);

    // Step on while paused: one frame, the key frame 5 s on.
    LocalPlay_PlayButton(2);
    for (int t = 0; t < 50; ++t) Tick(10);
    EXPECT_EQ(gDecodes.size(), held + 1);
    EXPECT_EQ(timeOfLast(), kStart + 6);
    // Back again, then play on from there.
    LocalPlay_PlayButton(0);
    for (int t = 0; t < 50; ++t) Tick(10);
    EXPECT_EQ(timeOfLast(), kStart + 1);
    LocalPlay_PlayButton(3);
    for (int t = 0; t < 400; ++t) Tick(10);
    EXPECT_GE(timeOfLast(), kStart + 3);

    // Leaving mode 4 stops it.
    View_SetMode(View(), VIEW_LIVE);
    EXPECT_EQ(gLocalFile.playState, 0u);
    size_t n = gDecodes.size();
    View()->mode = VIEW_LOCAL_PLAYBACK;
    for (int t = 0; t < 50; ++t) Tick(10);
    EXPECT_EQ(gDecodes.size(), n);
}

// --- Watermark -------------------------------------------------------------------

TEST_F(MovFileTest, AnAlteredSampleOrRecordFailsTheWatermarkButStillPlays)
{
    Made m = Make("--seconds 3 --gop 30");
    ASSERT_TRUE(m.ok);
    Walk w = WalkFile(m.file);
    ASSERT_TRUE(w.error.empty()) << w.error;
    const mov_test::Atom* stco = w.Find("moov/trak/mdia/minf/stbl/stco", 0);
    ASSERT_NE(stco, nullptr);
    std::vector<uint32_t> offsets = mov_test::Table(m.file, stco, 0);
    ASSERT_GT(offsets.size(), 40u);

    struct Case {
        const char* what;
        size_t at;
        uint8_t flip;
        uint32_t verdict;
    } cases[] = {
        {"as written", 0, 0, LOCAL_MARK_GOOD},
        {"a byte of sample 40", offsets[40] + 50, 0x10, LOCAL_MARK_BAD},
        {"the recorder's value", w.moovEnd + 36, 0x01, LOCAL_MARK_BAD},
        {"a signed byte of the video sum", w.moovEnd + 136, 0x04, LOCAL_MARK_BAD},
        {"the checksum", w.moovEnd + 157, 0x80, LOCAL_MARK_BAD},
    };
    for (const Case& c : cases) {
        Bytes f = m.file;
        f[c.at] ^= c.flip;
        std::string path = m.dir + "/altered.mov";
        ASSERT_TRUE(WriteBytes(path, f, f.size()));
        ASSERT_EQ(LocalPlay_Arm(path.c_str()), 0) << c.what;
        Index();
        EXPECT_EQ(gLocalFile.watermark, c.verdict) << c.what;
        EXPECT_EQ(gLocalFile.playState, 1u) << c.what; // it plays either way
    }
}

// --- Damaged and foreign files ---------------------------------------------------

TEST_F(MovFileTest, AFileTruncatedAtAnyAtomBoundaryIsRefusedOrPlaysWhatItHolds)
{
    Made m = Make("--seconds 2 --gop 15");
    ASSERT_TRUE(m.ok);
    Walk w = WalkFile(m.file);
    ASSERT_TRUE(w.error.empty()) << w.error;
    const mov_test::Atom* stco = w.Find("moov/trak/mdia/minf/stbl/stco", 0);
    ASSERT_NE(stco, nullptr);
    size_t tablesEnd = stco->offset + stco->size;
    std::set<size_t> cuts = {0, 4, 8, 40, 47, 48, m.file.size() - 1};
    for (const mov_test::Atom& a : w.atoms) {
        cuts.insert(a.offset);
        cuts.insert(a.offset + 8);
        cuts.insert(a.offset + a.size);
        if (a.offset > 0) cuts.insert(a.offset - 1);
    }
    for (size_t k = 0; k < 4; ++k) cuts.insert(w.moovEnd + 40 * k);
    std::string path = m.dir + "/cut.mov";
    for (size_t cut : cuts) {
        if (cut > m.file.size()) continue;
        ASSERT_TRUE(WriteBytes(path, m.file, cut));
        int armed = LocalPlay_Arm(path.c_str());
        if (cut < tablesEnd) {
            EXPECT_EQ(armed, -1) << "cut at " << cut;
            continue;
        }
        ASSERT_EQ(armed, 0) << "cut at " << cut;
        Index();
        EXPECT_EQ(ReadAll(path.c_str()), gMovReadTables.sampleCount) << "cut at " << cut;
        EXPECT_EQ(gLocalFile.watermark, cut >= w.moovEnd + 160 ? (uint32_t)LOCAL_MARK_GOOD : (uint32_t)LOCAL_MARK_BAD)
            << "cut at " << cut;
    }
}

TEST_F(MovFileTest, DamagedTablesAreRefusedOrReadWithinTheFile)
{
    Made m = Make("--seconds 2 --gop 15");
    ASSERT_TRUE(m.ok);
    Walk w = WalkFile(m.file);
    ASSERT_TRUE(w.error.empty()) << w.error;
    const mov_test::Atom* stss = w.Find("moov/trak/mdia/minf/stbl/stss", 0);
    const mov_test::Atom* stsz = w.Find("moov/trak/mdia/minf/stbl/stsz", 0);
    const mov_test::Atom* stco = w.Find("moov/trak/mdia/minf/stbl/stco", 0);
    ASSERT_TRUE(stss && stsz && stco);
    auto put = [](Bytes& f, size_t at, uint32_t v) {
        f[at] = uint8_t(v >> 24), f[at + 1] = uint8_t(v >> 16), f[at + 2] = uint8_t(v >> 8), f[at + 3] = uint8_t(v);
    };
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        bool refused;
    } cases[] = {
        {"sync count past the cap", stss->offset + 12, 4097, true},
        {"sync count past its atom", stss->offset + 12, 1000, true},
        {"sample count past the cap", stsz->offset + 16, 65537, true},
        {"sample count past its atom", stsz->offset + 16, 61, true},
        {"stsz size past the moov", stsz->offset, 0x7FFFFFF0, true},
        {"stsz size below its header", stsz->offset, 12, true},
        {"offset count unlike the sizes", stco->offset + 12, 59, true},
        {"a sample size of 4 GB", stsz->offset + 20 + 4 * 7, 0xFFFFFFFF, false},
        {"a sample size past the work buffer", stsz->offset + 20 + 4 * 8, 0x00200000, false},
        {"a sample size of 63", stsz->offset + 20 + 4 * 9, 63, false},
        {"an offset past the file", stco->offset + 16 + 4 * 10, 0xFFFFFF00, false},
        {"an offset in the file head", stco->offset + 16 + 4 * 11, 4, false},
        {"moov size of zero", w.Find("moov")->offset, 0, true},
        {"media length past the file", 40, 0x7FFFFFFF, true},
        {"media length of zero", 40, 0, true},
    };
    std::string path = m.dir + "/damaged.mov";
    for (const Case& c : cases) {
        Bytes f = m.file;
        put(f, c.at, c.value);
        ASSERT_TRUE(WriteBytes(path, f, f.size()));
        int armed = LocalPlay_Arm(path.c_str());
        EXPECT_EQ(armed == -1, c.refused) << c.what;
        if (armed != 0) continue;
        Index();
        EXPECT_EQ(ReadAll(path.c_str()), gMovReadTables.sampleCount - 1) << c.what; // the damaged one is skipped
        EXPECT_NE(gLocalFile.watermark, (uint32_t)LOCAL_MARK_UNKNOWN) << c.what;
    }

    // Random damage anywhere in the moov (seeded): never a read outside.
    std::mt19937 rng(19);
    const mov_test::Atom* moov = w.Find("moov");
    for (int round = 0; round < 150; ++round) {
        Bytes f = m.file;
        for (int k = 0; k < 1 + round % 8; ++k) f[moov->offset + rng() % moov->size] = uint8_t(rng());
        ASSERT_TRUE(WriteBytes(path, f, f.size()));
        if (LocalPlay_Arm(path.c_str()) != 0) continue;
        EXPECT_LE(gMovReadTables.sampleCount, (uint32_t)MOVFILE_SAMPLE_CAP);
        Index();
        ReadAll(path.c_str());
    }
}

TEST_F(MovFileTest, AMovieNotWrittenByTheViewerIsRefused)
{
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is needed";
    Made m = Make("--seconds 2 --gop 15");
    ASSERT_TRUE(m.ok);
    const char* ways[] = {"-f mov", "-f mov -movflags faststart", "-f mp4"};
    for (const char* way : ways) {
        std::string path = m.dir + "/ffmpeg.mov";
        ASSERT_EQ(Shell("ffmpeg -v error -y -i '" + m.mov + "' -map 0:v -c copy " + way + " '" + path + "' 2>&1"), 0)
            << way;
        EXPECT_EQ(LocalPlay_Arm(path.c_str()), -1) << way;
        EXPECT_EQ(gLocalFile.indexState, (uint32_t)LOCAL_INDEX_IDLE) << way;
        EXPECT_EQ(gMovReadTables.sampleCount, 0u) << way;
    }
    EXPECT_EQ(LocalPlay_Arm((m.dir + "/none.mov").c_str()), -1);
    EXPECT_EQ(LocalPlay_Arm(""), -1);
    std::string longName(LOCAL_NAME_SIZE + 10, 'a');
    EXPECT_EQ(LocalPlay_Arm(longName.c_str()), -1);
}

// --- A synthetic file for the index's limit ----------------------------------------

struct Synthetic {
    Bytes f;
    void U32(uint32_t v)
    {
        f.push_back(uint8_t(v >> 24)), f.push_back(uint8_t(v >> 16)), f.push_back(uint8_t(v >> 8)),
            f.push_back(uint8_t(v));
    }
    void Tag(const char* t) { f.insert(f.end(), t, t + 4); }
};

// A file laid out as the writer lays it out, with 96-byte samples whose
// trailer headers carry the given times (all key frames).
Bytes SyntheticFile(const std::vector<uint32_t>& times)
{
    Synthetic s;
    s.U32(32), s.Tag("ftyp"), s.Tag("qt  "), s.U32(0x20050300), s.Tag("qt  "), s.U32(0), s.U32(0), s.U32(0);
    s.U32(8), s.Tag("wide");
    s.U32(0), s.Tag("mdat");
    std::vector<uint32_t> offsets;
    for (uint32_t t : times) {
        offsets.push_back((uint32_t)s.f.size());
        s.U32(28); // NAL length covering the trailer
        for (int i = 0; i < 28; ++i) s.f.push_back(0x65);
        Bytes trailer(64, 0);
        trailer[3] = 2;
        uint8_t* h = &trailer[4];
        h[3] = 3;
        memcpy(h + 4, &t, 4);
        h[11] = 0x40, h[12] = 30, h[13] = 40, h[18] = 2;
        s.f.insert(s.f.end(), trailer.begin(), trailer.end());
    }
    s.f.resize(s.f.size() + 4096, 0);
    uint32_t media = (uint32_t)s.f.size() - 40;
    s.f[40] = uint8_t(media >> 24), s.f[41] = uint8_t(media >> 16), s.f[42] = uint8_t(media >> 8),
    s.f[43] = uint8_t(media);
    size_t moov = s.f.size();
    uint32_t n = (uint32_t)times.size();
    s.U32(0), s.Tag("moov");
    s.U32(108), s.Tag("mvhd");
    for (int i = 0; i < 3; ++i) s.U32(0);
    s.U32(600);
    s.f.resize(moov + 116, 0);
    s.U32(16 + 4 * n), s.Tag("stss"), s.U32(0), s.U32(n);
    for (uint32_t i = 0; i < n; ++i) s.U32(i + 1);
    s.U32(28), s.Tag("stsc"), s.U32(0), s.U32(1), s.U32(1), s.U32(1), s.U32(1);
    s.U32(20 + 4 * n), s.Tag("stsz"), s.U32(0), s.U32(0), s.U32(n);
    for (uint32_t i = 0; i < n; ++i) s.U32(96);
    s.U32(16 + 4 * n), s.Tag("stco"), s.U32(0), s.U32(n);
    for (uint32_t o : offsets) s.U32(o);
    uint32_t size = (uint32_t)(s.f.size() - moov);
    s.f[moov] = uint8_t(size >> 24), s.f[moov + 1] = uint8_t(size >> 16), s.f[moov + 2] = uint8_t(size >> 8),
    s.f[moov + 3] = uint8_t(size);
    s.f.resize(s.f.size() + 160 + 512 - (s.f.size() + 160) % 512, 0);
    return s.f;
}

TEST_F(MovFileTest, IndexingStopsAtFourHoursOfSeconds)
{
    const uint32_t t0 = kStart;
    Bytes f = SyntheticFile({t0, t0 + 1, t0 + 7200, t0 + 14399, t0 + 14400, t0 + 20000});
    std::string dir = ScratchDir("tavlin-movfile"), path = dir + "/long.mov";
    ASSERT_TRUE(WriteBytes(path, f, f.size()));
    ASSERT_EQ(LocalPlay_Arm(path.c_str()), 0);
    EXPECT_EQ(gLocalFile.sampleCount, 6u);
    Index();
    EXPECT_EQ(gLocalFile.indexLength, (uint32_t)LOCAL_INDEX_SECONDS);
    EXPECT_EQ(gLocalFile.index[0], 1u);
    EXPECT_EQ(gLocalFile.index[1], 2u);
    EXPECT_EQ(gLocalFile.index[7200], 3u);
    EXPECT_EQ(gLocalFile.index[14399], 4u);
    EXPECT_EQ(gLocalFile.lastTime, t0 + 14400);                    // the sample that filled it, not the one after
    EXPECT_EQ(gLocalFile.watermark, (uint32_t)LOCAL_MARK_UNKNOWN); // not every sample was summed
    // A seek to the end stays inside the index.
    gLocalFile.currentTime = t0 + 14000;
    EXPECT_EQ(MovFile_SeekStep(&gLocalFile, 1000), 3);
    EXPECT_EQ(gLocalFile.currentTime, t0 + 14400);
    gLocalFile.currentTime = t0 + 7300;
    EXPECT_EQ(MovFile_SeekStep(&gLocalFile, 0), 2);
}

TEST(MovFileNal, LengthsArePutToTheBytesPresent)
{
    struct Case {
        Bytes in, out;
        uint32_t changed;
    } cases[] = {
        {{0, 0, 0, 2, 9, 9}, {0, 0, 0, 2, 9, 9}, 0},
        {{0, 0, 0, 66, 9, 9}, {0, 0, 0, 2, 9, 9}, 1},
        {{0, 0, 0, 1, 7, 0, 0, 0, 70, 9, 9}, {0, 0, 0, 1, 7, 0, 0, 0, 2, 9, 9}, 1},
        {{0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0}, 1},
        {{0, 0}, {0, 0}, 0},
        {{}, {}, 0},
    };
    for (Case& c : cases) {
        Bytes b = c.in;
        EXPECT_EQ(MovFile_FixNalLengths(b.data(), (uint32_t)b.size()), c.changed);
        EXPECT_EQ(b, c.out);
    }
}

} // namespace
