// Movie files written by tavlin-mov from dvr-sim's dumped frames, judged by
// real readers: ffprobe for the streams, ffmpeg for the decoded frames and
// the sound bytes, our own atom walker for the container sizes, and the
// watermark record undone and checked against the samples in the file.
#include "media/Watermark.h"
#include "panel/Month.h"
#include "sim_pattern.h"
#include "tests/media-mov/MovAtoms.h"
#include "tests/support/FrameDump.h"
#include "tests/support/Shell.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

using namespace mov_test;

namespace {

const uint32_t kStart = 850000000; // a recorder second in 2026

bool HaveTools() { return Shell("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") == 0; }

struct Made {
    std::string dir, dump, mov, printed;
    Bytes frames, file;
    int rc = -1;
};

// dvr-sim --dump-frames with the options, then tavlin-mov.
Made Make(const std::string& simOptions, uint32_t watermark = 1)
{
    Made m;
    m.dir = ScratchDir("tavlin-mov");
    m.dump = m.dir + "/frames";
    m.mov = m.dir + "/part.mov";
    std::string sim = std::string(DVR_SIM_PATH) + " --dump-frames " + m.dump + " --dump-start " +
                      std::to_string(kStart) + " " + simOptions;
    if (Shell(sim + " 2>&1") != 0) return m;
    ReadFile(m.dump, &m.frames);
    m.rc = Shell(std::string(TAVLIN_MOV_PATH) + " " + m.dump + " " + m.mov + " --watermark " +
                     std::to_string(watermark) + " 2>&1",
                 &m.printed);
    ReadFile(m.mov, &m.file);
    return m;
}

// ffprobe's stream entries, one map per stream.
std::vector<std::map<std::string, std::string>> Probe(const std::string& path)
{
    std::string out;
    Shell("ffprobe -v error -show_entries "
          "stream=codec_type,codec_name,profile,codec_tag_string,time_base,sample_rate,channels,nb_frames,width,"
          "height -of compact=p=0 '" +
              path + "' 2>&1",
          &out);
    std::vector<std::map<std::string, std::string>> streams;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, std::string> s;
        std::istringstream fields(line);
        std::string f;
        while (std::getline(fields, f, '|')) {
            size_t eq = f.find('=');
            if (eq != std::string::npos) s[f.substr(0, eq)] = f.substr(eq + 1);
        }
        streams.push_back(s);
    }
    return streams;
}

// Decoded pictures (yuv420p), concatenated; the command's stderr goes to err.
Bytes Decode(const std::string& path, const std::string& map, const std::string& format, std::string* err)
{
    std::string errFile = path + ".err";
    std::string out;
    Shell("ffmpeg -v error -i '" + path + "' -map " + map + " " + format + " - 2>'" + errFile + "'", &out);
    Bytes e;
    ReadFile(errFile, &e);
    if (err) *err = std::string(e.begin(), e.end());
    return Bytes(out.begin(), out.end());
}

const Atom* In(const Walk& w, const std::string& path, int track) { return w.Find(path, track); }

uint32_t Rotr(uint32_t v) { return (v >> 1) | (v << 31); }
uint32_t PowMod(uint32_t x, uint32_t e, uint32_t n)
{
    uint32_t r = 1;
    for (uint32_t i = 0; i < e; ++i) r = r * x % n;
    return r;
}

} // namespace

TEST(MovFiles, TenSecondsOfNtscReadDecodeAndSoundAsSent)
{
    if (!HaveTools()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    Made m = Make("--seconds 10 --gop 15", 0x1234ABCD);
    ASSERT_EQ(m.rc, 0) << m.printed;
    EXPECT_NE(m.printed.find("reason "), std::string::npos) << m.printed;
    std::vector<DumpUnit> units = DumpUnits(m.frames);
    ASSERT_EQ(units.size(), 350u); // 300 video, 50 sound

    // ffprobe: the three tracks as a player sees them.
    auto streams = Probe(m.mov);
    ASSERT_EQ(streams.size(), 3u);
    std::map<std::string, std::map<std::string, std::string>> byType;
    for (auto& s : streams) byType[s["codec_type"]] = s;
    EXPECT_EQ(byType["video"]["codec_name"], "h264");
    EXPECT_NE(byType["video"]["profile"].find("Baseline"), std::string::npos);
    EXPECT_EQ(byType["video"]["codec_tag_string"], "avc1");
    EXPECT_EQ(byType["video"]["time_base"], "1/600");
    EXPECT_EQ(byType["video"]["nb_frames"], "300");
    EXPECT_EQ(byType["video"]["width"], "320");
    EXPECT_EQ(byType["video"]["height"], "240");
    EXPECT_EQ(byType["audio"]["codec_name"], "pcm_u8");
    EXPECT_EQ(byType["audio"]["sample_rate"], "8000");
    EXPECT_EQ(byType["audio"]["channels"], "1");
    EXPECT_EQ(byType["subtitle"]["codec_tag_string"], "text");
    EXPECT_EQ(byType["subtitle"]["nb_frames"], "10");

    // Our walker: every size adds up, the "mdat" ends where the "moov" starts.
    Walk w = WalkFile(m.file);
    ASSERT_EQ(w.error, "");
    const Atom* mdat = w.Find("mdat");
    const Atom* moov = w.Find("moov");
    ASSERT_TRUE(mdat && moov);
    EXPECT_EQ(mdat->offset, 40u);
    EXPECT_EQ(mdat->offset + mdat->size, moov->offset);
    // The closing block ends the "mdat": "pqrs" 4,096 bytes before the "moov".
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&m.file[moov->offset - 4096]), 4), "pqrs");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&m.file[moov->offset - 4096 + 44]), 4), "tuvw");

    // Duration D 6,000 at 600 per second, "stts" {300, 20}, text time scale 3,932,160.
    const Atom* mvhd = w.Find("moov/mvhd");
    ASSERT_TRUE(mvhd);
    EXPECT_EQ(Be32(&m.file[mvhd->body() + 12]), 600u);
    EXPECT_EQ(Be32(&m.file[mvhd->body() + 16]), 6000u);
    int video = TrackOf(m.file, w, "vide"), sound = TrackOf(m.file, w, "soun"), text = TrackOf(m.file, w, "text");
    ASSERT_GE(video, 0);
    ASSERT_GE(sound, 0);
    ASSERT_GE(text, 0);
    EXPECT_EQ(Table(m.file, In(w, "moov/trak/mdia/minf/stbl/stts", video), 0, 2), (std::vector<uint32_t>{300, 20}));
    const Atom* textMdhd = In(w, "moov/trak/mdia/mdhd", text);
    ASSERT_TRUE(textMdhd);
    EXPECT_EQ(Be32(&m.file[textMdhd->body() + 12]), 3932160u);
    EXPECT_EQ(Be32(&m.file[textMdhd->body() + 16]), 6000u);
    // The fixed parts of the "moov": "moov" and "mvhd" 116 bytes, each
    // track's atoms up to its tables 530 (video, to "clap"), 424 (sound)
    // and 491 (text) bytes.
    const Atom* clap = w.Find("moov/trak/mdia/minf/stbl/stsd/avc1/clap");
    ASSERT_TRUE(clap);
    EXPECT_EQ(w.Find("moov/trak", video)->offset - moov->offset, 116u);
    EXPECT_EQ(clap->offset - w.Find("moov/trak", video)->offset, 530u);
    EXPECT_EQ(In(w, "moov/trak/mdia/minf/stbl/stts", sound)->offset - w.Find("moov/trak", sound)->offset, 424u);
    EXPECT_EQ(In(w, "moov/trak/mdia/minf/stbl/stts", text)->offset - w.Find("moov/trak", text)->offset, 491u);
    // The "avc1" entry points at the one data reference.
    const Atom* avc1 = In(w, "moov/trak/mdia/minf/stbl/stsd/avc1", 0);
    ASSERT_TRUE(avc1);
    EXPECT_EQ(Be16(&m.file[avc1->body() + 6]), 1u);
    // Key frames every 15 samples.
    std::vector<uint32_t> syncs = Table(m.file, In(w, "moov/trak/mdia/minf/stbl/stss", video), 0);
    ASSERT_EQ(syncs.size(), 20u);
    for (size_t i = 0; i < syncs.size(); ++i) EXPECT_EQ(syncs[i], 1 + 15 * i);

    // Every frame decodes without an error, and each is the picture sent:
    // the test pattern of the last key frame.
    std::string err;
    Bytes md5 = Decode(m.mov, "0:v", "-f framemd5", &err);
    EXPECT_EQ(err, "");
    std::istringstream md5Lines(std::string(md5.begin(), md5.end()));
    std::string md5Line;
    int decoded = 0;
    while (std::getline(md5Lines, md5Line))
        if (!md5Line.empty() && md5Line[0] != '#') ++decoded;
    EXPECT_EQ(decoded, 300);
    Bytes yuv = Decode(m.mov, "0:v", "-f rawvideo -pix_fmt yuv420p", &err);
    EXPECT_EQ(err, "");
    const size_t picture = 320 * 240 * 3 / 2;
    ASSERT_EQ(yuv.size(), 300 * picture);
    Bytes expected(picture);
    size_t shown = 0;
    uint32_t keyTime = 0, keyFrame = 0;
    for (const DumpUnit& u : units) {
        if (u.kind != 1) continue;
        if (u.key) {
            keyTime = u.time;
            keyFrame = u.frame;
        }
        Pattern_Fill(&expected[0], 320, &expected[320 * 240], &expected[320 * 240 * 5 / 4], 160, 320, 240, 0, keyTime,
                     keyFrame, 30);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), yuv.begin() + shown * picture)) << "frame " << shown;
        ++shown;
    }

    // The sound: exactly the kept bytes, the samples' high bytes.
    Bytes sent;
    for (const DumpUnit& u : units)
        if (u.kind == 2)
            for (uint32_t i = 0; i < ((u.bytes - 32) & ~63u) / 2; ++i)
                sent.push_back(m.frames[u.offset + 32 + 2 * i + 1]);
    EXPECT_EQ(sent.size(), 80000u);
    Bytes heard = Decode(m.mov, "0:a", "-f u8", &err);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(heard == sent);

    // The text samples: the recorder's date and time of each second.
    std::vector<uint32_t> textOffsets = Table(m.file, In(w, "moov/trak/mdia/minf/stbl/stco", text), 0);
    ASSERT_EQ(textOffsets.size(), 10u);
    for (uint32_t k = 0; k < 10; ++k) {
        TDateParts d;
        Date_FromSeconds(kStart + k, &d);
        char want[48];
        snprintf(want, sizeof want, "%04u/%02u/%02u %02u:%02u:%02u   ", d.year, d.month, d.day, d.hour, d.minute,
                 d.second);
        const uint8_t* s = &m.file[textOffsets[k]];
        EXPECT_EQ(Be16(s), 22u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(s + 2), 22), want);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(s + 28), 4), "orig");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(s + 36), 22), want);
    }

    // The watermark round trip: the checksum over the rotated words, then
    // the rotation undone, the recorder's value and the first frame's
    // format, and each transformed byte of the sums recomputed from the
    // video samples in the file.
    const uint8_t* r = &m.file[w.moovEnd];
    uint32_t sum = 0;
    for (int i = 0; i < 39; ++i) sum += Le32(r + 4 * i);
    EXPECT_EQ(Le32(r + 156), sum);
    uint8_t plain[156];
    for (int i = 0; i < 39; ++i) {
        uint32_t v = Rotr(Le32(r + 4 * i));
        memcpy(plain + 4 * i, &v, 4);
    }
    EXPECT_EQ(Le32(plain + 0), 0u);
    EXPECT_EQ(Le32(plain + 4), 0u);
    EXPECT_EQ(Le32(plain + 36), 0x1234ABCDu);
    EXPECT_EQ(plain[10], 15); // height code
    EXPECT_EQ(plain[11], 20); // width code
    std::vector<uint32_t> sizes = Table(m.file, In(w, "moov/trak/mdia/minf/stbl/stsz", video), 4);
    std::vector<uint32_t> offsets = Table(m.file, In(w, "moov/trak/mdia/minf/stbl/stco", video), 0);
    ASSERT_EQ(sizes.size(), 300u);
    ASSERT_EQ(offsets.size(), 300u);
    uint32_t videoSum = 0x1234ABCD;
    for (size_t i = 1; i < sizes.size(); ++i)
        for (uint32_t b = 0; b + 4 <= sizes[i]; b += 4) videoSum += Le32(&m.file[offsets[i] + b]);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(uint32_t(plain[136 + 2 * k] | (plain[137 + 2 * k] << 8)),
                  PowMod((videoSum >> (8 * k)) & 0xFF, 7, 893))
            << "video byte " << k;
        EXPECT_EQ(uint32_t(plain[144 + 2 * k] | (plain[145 + 2 * k] << 8)),
                  PowMod((0x1234ABCDu >> (8 * k)) & 0xFF, 7, 893))
            << "audio byte " << k;
    }
    // Each sample carries its unit's header in the trailer, 60 bytes before its end.
    size_t v = 0;
    for (const DumpUnit& u : units) {
        if (u.kind != 1) continue;
        const uint8_t* trailer = &m.file[offsets[v] + sizes[v] - 64];
        EXPECT_EQ(Be32(trailer), 2u);
        EXPECT_TRUE(std::equal(trailer + 4, trailer + 36, m.frames.begin() + u.offset)) << "sample " << v;
        ++v;
    }
}

TEST(MovFiles, PalPartsUseTheirOwnTimeScaleAndSize)
{
    if (!HaveTools()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    Made m = Make("--seconds 2 --pal --gop 25");
    ASSERT_EQ(m.rc, 0) << m.printed;
    auto streams = Probe(m.mov);
    ASSERT_GE(streams.size(), 2u);
    EXPECT_EQ(streams[0]["time_base"], "1/500");
    EXPECT_EQ(streams[0]["height"], "256");
    EXPECT_EQ(streams[0]["nb_frames"], "50");
    std::string err;
    Bytes yuv = Decode(m.mov, "0:v", "-f rawvideo -pix_fmt yuv420p", &err);
    EXPECT_EQ(err, "");
    EXPECT_EQ(yuv.size(), 50u * 320 * 256 * 3 / 2);
    Walk w = WalkFile(m.file);
    EXPECT_EQ(w.error, "");
}

// A part shorter than one second still holds every frame, and without sound
// the movie has no sound track.
TEST(MovFiles, APartShorterThanASecondIsAPlayableMovie)
{
    if (!HaveTools()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    Made whole = Make("--seconds 1 --gop 5 --no-audio");
    ASSERT_FALSE(whole.frames.empty());
    std::vector<DumpUnit> units = DumpUnits(whole.frames);
    ASSERT_GE(units.size(), 10u);
    std::string cut = whole.dir + "/cut";
    FILE* f = fopen(cut.c_str(), "wb");
    ASSERT_TRUE(f);
    fwrite(whole.frames.data(), 1, units[10].offset, f); // the first 10 frames
    fclose(f);
    std::string mov = whole.dir + "/short.mov", printed;
    ASSERT_EQ(Shell(std::string(TAVLIN_MOV_PATH) + " " + cut + " " + mov + " 2>&1", &printed), 0) << printed;
    auto streams = Probe(mov);
    ASSERT_EQ(streams.size(), 2u); // video and text
    EXPECT_EQ(streams[0]["nb_frames"], "10");
    std::string err;
    Bytes md5 = Decode(mov, "0:v", "-f framemd5", &err);
    EXPECT_EQ(err, "");
    Bytes file;
    ReadFile(mov, &file);
    Walk w = WalkFile(file);
    ASSERT_EQ(w.error, "");
    const Atom* mvhd = w.Find("moov/mvhd");
    ASSERT_TRUE(mvhd);
    EXPECT_EQ(Be32(&file[mvhd->body() + 16]), 200u); // 10 samples x 20
    const Atom* elst = w.Find("moov/trak/edts/elst");
    ASSERT_TRUE(elst);
    EXPECT_EQ(Be32(&file[elst->body() + 8]), 200u);
}

// A dump whose frames turn into garbage still gives a complete movie of
// the frames before the damage.
TEST(MovFiles, ADamagedDumpEndsThePartCleanly)
{
    if (!HaveTools()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    Made whole = Make("--seconds 2 --gop 10");
    std::vector<DumpUnit> units = DumpUnits(whole.frames);
    ASSERT_GT(units.size(), 40u);
    Bytes damaged(whole.frames.begin(), whole.frames.begin() + units[40].offset);
    for (int i = 0; i < 4096; ++i) damaged.push_back(uint8_t(i * 37 + 11));
    std::string cut = whole.dir + "/damaged", mov = whole.dir + "/damaged.mov", printed;
    FILE* f = fopen(cut.c_str(), "wb");
    ASSERT_TRUE(f);
    fwrite(damaged.data(), 1, damaged.size(), f);
    fclose(f);
    ASSERT_EQ(Shell(std::string(TAVLIN_MOV_PATH) + " " + cut + " " + mov + " 2>&1", &printed), 0) << printed;
    EXPECT_NE(printed.find("bad 1"), std::string::npos) << printed;
    Bytes file;
    ReadFile(mov, &file);
    EXPECT_EQ(WalkFile(file).error, "");
    std::string err;
    Decode(mov, "0:v", "-f framemd5", &err);
    EXPECT_EQ(err, "");
}
