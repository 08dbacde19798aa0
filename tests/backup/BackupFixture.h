// The backup controller over the view fixture: a view in Backup mode with
// its marks, a fake process clock and wall clock, generated recorder
// frames handed to the controller as the stream step holds them, and a
// scratch folder for the part files.
#pragma once
#include "../view/ViewFixture.h"
#include "../media-mov/MovAtoms.h"
#include "control/BackupFiles.h"
#include "media/Audio.h"
#include "media/Backup.h"
#include "media/Mov.h"
#include "media/OutFile.h"
#include "media/Watermark.h"
#include "platform/vcl/Dialogs.h"
#include "panel/Month.h"
#include "platform/win/Win.h"
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

inline uint32_t gBackupFakeMs = 1000;
inline int64_t gBackupFakeNow = 1308126600; // 2011-06-15 08:30:00 UTC
inline uint32_t BackupFakeTick() { return gBackupFakeMs; }
inline int64_t BackupFakeNow() { return gBackupFakeNow; }

// A recorder frame: header and a small H.264-looking payload.
struct FrameSpec {
    uint32_t time;
    uint8_t number;
    bool key;
    uint8_t width = 20, height = 15;
    int32_t offset = 0;
};

inline Bytes MakeVideo(const FrameSpec& f)
{
    Bytes b(128, 0);
    TDvrFrameHeader h = {};
    h.magic = FRAME_MAGIC;
    h.time = f.time;
    h.frameNumber = f.number;
    h.kindBits = FRAME_KIND_VIDEO << 6;
    h.height = f.height;
    h.width = f.width;
    h.typeUnits = (uint8_t)((f.key ? 0 : 1) << 4);
    h.unitLength = 2;
    h.sourceBits = SOURCE_RECORDED << 5;
    h.timeScaleBits = (20 * 30) << 5;
    h.timeOffset = f.offset;
    memcpy(b.data(), &h, sizeof h);
    b[32 + 3] = 92; // NAL length
    b[32 + 4] = f.key ? 0x65 : 0x41;
    for (size_t i = 37; i < b.size(); ++i) b[i] = (uint8_t)(i * 7);
    return b;
}

// A recorder sound frame of 1,600 samples (200 ms, six frame times at 30
// per second) whose kept bytes are all fill.
inline Bytes MakeSound(uint32_t time, uint8_t number, uint8_t fill = 0x40)
{
    Bytes b(3264, 0);
    TDvrFrameHeader h = {};
    h.magic = FRAME_MAGIC;
    h.time = time;
    h.frameNumber = number;
    h.kindBits = FRAME_KIND_AUDIO << 6;
    h.unitLength = 51;
    h.sourceBits = SOURCE_RECORDED << 5;
    h.timeScaleBits = (20 * 30) << 5;
    memcpy(b.data(), &h, sizeof h);
    for (int i = 0; i < 1600; ++i) b[32 + 2 * i + 1] = fill;
    return b;
}

inline Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline uint32_t Be32(const Bytes& b, size_t at)
{
    return at + 4 <= b.size() ? (uint32_t)b[at] << 24 | (uint32_t)b[at + 1] << 16 | (uint32_t)b[at + 2] << 8 | b[at + 3]
                              : 0;
}

using mov_test::PartSpan;
using mov_test::ReadPart;

class BackupTest : public ViewTest {
protected:
    static constexpr uint32_t kStart = 361355400; // the recorder time of gBackupFakeNow
    std::string dir;
    std::vector<std::string> folders;
    static BackupTest* current;

    void SetUp() override
    {
        ViewTest::SetUp();
        setenv("TZ", "UTC", 1);
        tzset();
        setenv("TAVLIN_WINVER", "5.1", 1);
        gBackupFakeMs = 1000;
        gBackupFakeNow = 1308126600;
        Win_SetTickSource(BackupFakeTick);
        Win_SetTimeSource(BackupFakeNow);
        char tmpl[] = "/tmp/backup-test-XXXXXX";
        dir = mkdtemp(tmpl);
        current = this;
        folders.clear();
        Backup_SetFolderOpener([](const char* f) {
            current->folders.push_back(f);
            return 0;
        });
        memset(gWatermarkAnswer, 0, sizeof gWatermarkAnswer);
        Vcl_ClearDialogLog();
        Vcl_SetDialogHook(nullptr);
        gBackupPartBroken = 0;
        StreamAudio_Drain(&S()->audioRing);
    }
    void TearDown() override
    {
        Backup_SetState(S(), BACKUP_STATE_IDLE); // a part still open is closed here
        Backup_SetFolderOpener(nullptr);
        Vcl_SetDialogHook(nullptr);
        Win_SetTickSource(nullptr);
        Win_SetTimeSource(nullptr);
        OutFile_Close();
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0) {}
        unsetenv("TAVLIN_WINVER");
        ViewTest::TearDown();
    }

    // A backup of channel 0 from kStart to end, into name; runs up to the
    // settling state (the recorder answers the watermark at once).
    void Start(const std::string& name, uint32_t end = kStart + 4000)
    {
        Force(VIEW_BACKUP);
        V()->backupBlock.backupChannel = 0;
        V()->backupBlock.backupStart = kStart;
        V()->backupBlock.backupEnd = end;
        ASSERT_EQ(Backup_StartStop(V(), 1, name.c_str()), 1);
        Audio_PublishViews(); // the sound the stream step takes goes by the view
        OpenNextPart();
    }
    // A sound frame as the frame module stores it in the stream's audio ring.
    void Queue(const Bytes& sound)
    {
        Bytes block(128, 0);
        PutU32(block, 0, (uint32_t)(128 + sound.size()));
        PutU32(block, 48, VIDO_KIND_AUDIO);
        block.insert(block.end(), sound.begin(), sound.end());
        ASSERT_EQ(StreamAudio_Write(&S()->audioRing, block.data(), (uint32_t)block.size()), 0);
    }
    // The stream step's take of the sound in the ring; the frames taken.
    int TakeSound()
    {
        int n = 0;
        while (n < 100000 && Stream_TakeAudioFrame(S()) == 0) ++n;
        return n;
    }
    // Frames of seconds [from, to) at 30 per second with a key frame at
    // frame number keyAt, and after every sixth video frame the sound frame
    // of its time in the ring, as the recorder sends them; the sound is
    // taken every takeEvery frames (0: never). Stops early as FeedSpan does.
    uint32_t FeedWithSound(uint32_t from, uint32_t to, uint8_t keyAt, int takeEvery, uint8_t w = 20)
    {
        return FeedFrames(from, to, keyAt, true, takeEvery, w, 15);
    }
    // Runs the controller until the next part settles.
    void OpenNextPart()
    {
        for (int i = 0; i < 8 && gBackupBlock.state != BACKUP_STATE_SETTLE; ++i) {
            Backup_OnFrame(S());
            if (gBackupBlock.state == BACKUP_STATE_OPEN) {
                uint32_t value = 0x1234;
                memcpy(gWatermarkAnswer + WATERMARK_VALUE_OFFSET, &value, 4);
            }
        }
    }
    // Hands one frame to the controller as the stream step holds it.
    int Feed(const Bytes& f)
    {
        memcpy(S()->heldBuffer, f.data(), f.size());
        S()->heldLength = (uint32_t)f.size();
        return Backup_OnFrame(S());
    }
    // One tick without a frame.
    int Idle()
    {
        S()->heldLength = 0;
        return Backup_OnFrame(S());
    }
    // A key frame for each of the first count seconds, one every stepMs on
    // the fake clock, as a recorder sending at that pace does.
    void FeedPacedKeyFrames(uint32_t count, uint32_t stepMs)
    {
        uint32_t base = gBackupFakeMs;
        for (uint32_t k = 0; k < count; ++k) {
            gBackupFakeMs = base + stepMs * k;
            Feed(MakeVideo({kStart + k, 0, true}));
        }
    }
    // Frames of seconds [from, to) at 30 per second, key frames at frame
    // number keyAt; stops early when the part changes or the backup ends.
    uint32_t FeedSpan(uint32_t from, uint32_t to, uint8_t keyAt, uint8_t w = 20, uint8_t h = 15)
    {
        return FeedFrames(from, to, keyAt, false, 0, w, h);
    }
    // The frames of FeedSpan, with the sound frames of FeedWithSound when
    // withSound is set.
    uint32_t FeedFrames(uint32_t from, uint32_t to, uint8_t keyAt, bool withSound, int takeEvery, uint8_t w, uint8_t h)
    {
        uint32_t fed = 0;
        uint32_t part = gBackupBlock.part;
        for (uint32_t t = from; t < to; ++t)
            for (uint8_t n = 0; n < 30; ++n) {
                FrameSpec f{t, n, n == keyAt};
                f.width = w;
                f.height = h;
                Feed(MakeVideo(f));
                if (withSound && n % 6 == 0) Queue(MakeSound(t, n, (uint8_t)(0x10 + (t * 5 + n / 6) % 200)));
                ++fed;
                if (takeEvery > 0 && fed % (uint32_t)takeEvery == 0) TakeSound();
                if (gBackupBlock.part != part ||
                    (gBackupBlock.state != BACKUP_STATE_WRITE && gBackupBlock.state != BACKUP_STATE_SETTLE))
                    return fed;
            }
        return fed;
    }
    // Runs the controller through a part change (the watermark answered at
    // once) until the next part settles or writes, or the backup ends.
    void Pump()
    {
        for (int i = 0; i < 32; ++i) {
            uint32_t st = gBackupBlock.state;
            if (st == BACKUP_STATE_IDLE || st == BACKUP_STATE_LINK) return;
            if ((st == BACKUP_STATE_WRITE || st == BACKUP_STATE_SETTLE) && S()->heldLength == 0) return;
            if (st == BACKUP_STATE_OPEN) {
                uint32_t value = 0x1234;
                memcpy(gWatermarkAnswer + WATERMARK_VALUE_OFFSET, &value, 4);
            }
            Backup_OnFrame(S());
        }
    }
    // The frames at positions [from, to) (second x 30 + frame number), a key
    // frame at keyAt and every gop frames after it; after every sixth video
    // frame its sound frame in the ring when sound is set, taken by the
    // stream step every takeEvery frames (0: never). Part changes run
    // through as the stream step runs them; stops when the backup ends. The
    // frames fed.
    uint32_t RunPos(uint64_t from, uint64_t to, uint32_t gop, uint64_t keyAt, bool sound = false, uint8_t w = 20,
                    int takeEvery = 1)
    {
        uint32_t fed = 0;
        for (uint64_t pos = from; pos < to; ++pos) {
            uint32_t t = (uint32_t)(pos / 30);
            uint8_t n = (uint8_t)(pos % 30);
            FrameSpec f{t, n, pos >= keyAt && (pos - keyAt) % gop == 0};
            f.width = w;
            Feed(MakeVideo(f));
            if (sound && pos % 6 == 0) Queue(MakeSound(t, n, SoundFill(pos)));
            ++fed;
            if (takeEvery > 0 && fed % (uint32_t)takeEvery == 0) TakeSound();
            Pump();
            if (gBackupBlock.state == BACKUP_STATE_IDLE || !Backup_Active()) return fed;
        }
        return fed;
    }
    // Whole seconds [from, to), a key frame at frame phase of second from and
    // every gop frames after it.
    uint32_t Run(uint32_t from, uint32_t to, uint32_t gop, bool sound = false, uint8_t w = 20, int takeEvery = 1,
                 uint32_t phase = 0)
    {
        return RunPos((uint64_t)from * 30, (uint64_t)to * 30, gop, (uint64_t)from * 30 + phase, sound, w, takeEvery);
    }
    // The kept bytes of the sound frame at a position.
    static uint8_t SoundFill(uint64_t pos) { return (uint8_t)(0x10 + (pos / 6) % 200); }
    // Runs the ticks after a part or the backup ended.
    void Settle(int ticks = 6)
    {
        for (int i = 0; i < ticks; ++i) Backup_OnFrame(S());
    }
    std::vector<std::string> Messages()
    {
        std::vector<std::string> out;
        for (const TVclDialogRecord& r : Vcl_DialogLog())
            if (r.Kind == vdkShowMessage || r.Kind == vdkMessageBox) out.push_back(r.Text);
        return out;
    }
    // A finished part: "mdat" size patched to the closing block's end, "moov" after it.
    static bool Complete(const Bytes& f)
    {
        if (f.size() < 48 || memcmp(&f[44], "mdat", 4) != 0) return false;
        uint32_t media = Be32(f, 40);
        return media > 8 && 40 + (size_t)media + 8 <= f.size() && memcmp(&f[40 + media + 4], "moov", 4) == 0;
    }
};
inline BackupTest* BackupTest::current = nullptr;
