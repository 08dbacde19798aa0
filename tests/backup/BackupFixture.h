// The backup controller over the view fixture: a view in Backup mode with
// its marks, a fake process clock and wall clock, generated recorder
// frames handed to the controller as the stream step holds them, and a
// scratch folder for the part files.
#pragma once
#include "../view/ViewFixture.h"
#include "control/BackupFiles.h"
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
        OpenNextPart();
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
    // Frames of seconds [from, to) at 30 per second, key frames at frame
    // number keyAt; stops early when the part changes or the backup ends.
    uint32_t FeedSpan(uint32_t from, uint32_t to, uint8_t keyAt, uint8_t w = 20, uint8_t h = 15)
    {
        uint32_t fed = 0;
        uint32_t part = gBackupBlock.part;
        for (uint32_t t = from; t < to; ++t)
            for (uint8_t n = 0; n < 30; ++n) {
                FrameSpec f{t, n, n == keyAt};
                f.width = w;
                f.height = h;
                Feed(MakeVideo(f));
                ++fed;
                if (gBackupBlock.part != part ||
                    (gBackupBlock.state != BACKUP_STATE_WRITE && gBackupBlock.state != BACKUP_STATE_SETTLE))
                    return fed;
            }
        return fed;
    }
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
