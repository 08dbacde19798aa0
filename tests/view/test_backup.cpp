// Backup start and stop through the view: what is refused, what a start
// sets up, the backup block the recorder receives either way, the backup
// button's cancelled choice and the progress shown in 64-bit arithmetic.
#include "ViewFixture.h"
#include "media/Backup.h"
#include "panel/Yuv2.h"
#include <string>

namespace {

class BackupTest : public ViewTest {
protected:
    void SetUp() override
    {
        ViewTest::SetUp();
        Force(VIEW_BACKUP);
        V()->backupBlock.backupChannel = 2;
        V()->backupBlock.backupStart = 100000;
        V()->backupBlock.backupEnd = 101800;
        S()->displayTime = 99000;
    }
};

TEST_F(BackupTest, StartArmsTheBackupAndTellsTheRecorder)
{
    RunAllChannels();
    gBackupBlock.part = 4;
    EXPECT_EQ(Backup_StartStop(V(), 1, "/tmp/ch2.mov"), 1);
    EXPECT_EQ(gBackupBlock.state, 1u);
    EXPECT_EQ(gBackupBlock.part, 0u);
    EXPECT_EQ(gBackupSizeOffset, 0u);
    EXPECT_STREQ(gBackupBlock.chosenName, "/tmp/ch2.mov");
    EXPECT_EQ(S()->displayTime, 100000u);
    EXPECT_EQ(WaitingSlots().size(), (size_t)STREAM_CHANNELS);
    EXPECT_EQ(V()->backupBlock.backupArmed, (uint32_t)BACKUP_RUNNING);
    Bytes m = OnlyQueued();
    ASSERT_EQ(m.size(), 128u);
    EXPECT_TRUE(ChecksumHolds(m));
    EXPECT_EQ(GetU32(m, 40), 1024u);
    EXPECT_EQ(GetU32(m, 44), 2u);
    EXPECT_EQ(GetU32(m, 64 + 8), 2u);
    EXPECT_EQ(GetU32(m, 64 + 12), 1u);
    EXPECT_EQ(GetU32(m, 64 + 16), 100000u);
    EXPECT_EQ(GetU32(m, 64 + 20), 101800u);

    // Stopping: state 4, the block goes out again with the flag off.
    EXPECT_EQ(Backup_StartStop(V(), 0, "/tmp/ch2.mov"), 0);
    EXPECT_EQ(gBackupBlock.state, 4u);
    EXPECT_EQ(V()->backupBlock.backupArmed, 0u);
    m = OnlyQueued();
    ASSERT_EQ(m.size(), 128u);
    EXPECT_EQ(GetU32(m, 64 + 12), 0u);
}

TEST_F(BackupTest, RefusedStartsStillSendTheBlock)
{
    const std::string longest(1023, 'n');
    const std::string tooLong(1024, 'n');
    const struct {
        const char* what;
        uint32_t start, end;
        const char* name;
        uint32_t on;
        int result;
    } cases[] = {
        {"marks equal", 100000, 100000, "a.mov", 1, 0},
        {"start after end", 100010, 100000, "a.mov", 1, 0},
        {"name of 1024", 100000, 101800, tooLong.c_str(), 1, 0},
        {"name of 1023", 100000, 101800, longest.c_str(), 1, 1},
        {"no name", 100000, 101800, nullptr, 1, 1},
        {"on is neither 0 nor 1", 100000, 101800, "a.mov", 2, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        V()->backupBlock.backupStart = k.start;
        V()->backupBlock.backupEnd = k.end;
        V()->backupBlock.backupArmed = BACKUP_STEP;
        memset(gBackupBlock.chosenName, 'z', sizeof gBackupBlock.chosenName);
        gBackupBlock.state = 0;
        EXPECT_EQ(Backup_StartStop(V(), k.on, k.name), k.result);
        EXPECT_EQ(V()->backupBlock.backupArmed, (uint32_t)k.result);
        EXPECT_EQ(gBackupBlock.state, k.result ? 1u : 4u);
        Bytes m = OnlyQueued();
        ASSERT_EQ(m.size(), 128u);
        EXPECT_EQ(GetU32(m, 40), 1024u);
        EXPECT_EQ(GetU32(m, 64 + 12), (uint32_t)k.result);
        if (k.on == 1) {
            // The name field is cleared for every start and takes a name
            // that fits with its zero.
            EXPECT_EQ(gBackupBlock.chosenName[sizeof gBackupBlock.chosenName - 1], 0);
            size_t n = k.name ? strlen(k.name) : 0;
            EXPECT_EQ(strlen(gBackupBlock.chosenName), n < 1024 ? n : 0u);
        }
    }
}

TEST_F(BackupTest, NoStreamRecordRefusesWithoutSending)
{
    C(0)->stream = nullptr;
    EXPECT_EQ(Backup_StartStop(V(), 1, "a.mov"), 0);
    EXPECT_TRUE(Queued(0).empty());
    EXPECT_EQ(Backup_StartStop(nullptr, 1, "a.mov"), 0);
    C(0)->stream = S();
}

TEST_F(BackupTest, ButtonWithoutAChosenFileShowsFullAndStaysOff)
{
    // No file is chosen: the bar shows 100 %, the flags stay off and the
    // recorder hears that no backup runs.
    IE_ST2 = 0;
    IE_ST = 1;
    IE_percentage = 40;
    gPanelLevel = 2;
    EXPECT_EQ(Backup_Toggle(), 0);
    EXPECT_EQ(IE_percentage, 100);
    EXPECT_EQ(IE_ST2, 0);
    EXPECT_EQ(IE_ST, 0);
    EXPECT_EQ(gPanelLevel, 1);
    EXPECT_EQ(gBackupPartCount, 0u);
    EXPECT_EQ(gBackupBlock.state, 4u);
    Bytes m = OnlyQueued();
    ASSERT_EQ(m.size(), 128u);
    EXPECT_EQ(GetU32(m, 64 + 12), 0u);

    // A second press while running stops.
    IE_ST2 = 1;
    V()->backupBlock.backupArmed = BACKUP_RUNNING;
    EXPECT_EQ(Backup_Toggle(), 0);
    EXPECT_EQ(V()->backupBlock.backupArmed, 0u);
    EXPECT_EQ(OnlyQueued().size(), 128u);
}

TEST_F(BackupTest, ProgressOfTheSpanPassed)
{
    const struct {
        uint32_t start, end, streamTime;
        int32_t percent;
    } cases[] = {
        {100000, 101800, 100900, 50},
        {100000, 101800, 100018, 1},
        {100000, 101800, 100017, 0},
        {100000, 101800, 101800, 100},
        {100000, 101800, 200000, 100}, // past the end it stays 100
        {100000, 101800, 100000, 0},
        {100000, 101800, 99000, 0},  // before the start
        {100000, 100000, 100500, 0}, // no span: no division
        {100000, 99000, 100500, 0},
        // Spans and distances whose product with 100 leaves 32 bits.
        {0x10000000u, 0xF0000000u, 0x80000000u, 50},
        {1, 0xFFFFFFFFu, 0xFFFFFFFEu, 99},
        {1, 0xFFFFFFFFu, 0x80000000u, 50},
        {1, 100000001, 50000001, 50},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.start << ".." << k.end << " at " << k.streamTime);
        V()->backupBlock.backupArmed = BACKUP_RUNNING;
        V()->backupBlock.backupStart = k.start;
        V()->backupBlock.backupEnd = k.end;
        S()->displayTime = k.streamTime;
        IE_percentage = -7;
        gLastDrawn[0] = gLastDrawn[1] = 5;
        Backup_TimerStep(); // connection 0's view
        EXPECT_EQ(IE_percentage, k.percent);
        EXPECT_EQ(gLastDrawn[0], -2);
        EXPECT_EQ(gLastDrawn[1], -2);
    }
}

TEST_F(BackupTest, ProgressOnlyWhileABackupRunsInBackupMode)
{
    S()->displayTime = 100900;
    const struct {
        uint32_t mode, armed;
    } idle[] = {
        {VIEW_BACKUP, BACKUP_OFF},
        {VIEW_BACKUP, BACKUP_STEP},
        {VIEW_PLAYBACK, BACKUP_RUNNING},
        {VIEW_LIVE, BACKUP_RUNNING},
    };
    for (const auto& k : idle) {
        Force(k.mode);
        V()->backupBlock.backupArmed = k.armed;
        IE_percentage = 42;
        gLastDrawn[0] = 5;
        Backup_ComputeProgress(V());
        EXPECT_EQ(IE_percentage, 42);
        EXPECT_EQ(gLastDrawn[0], 5);
    }
    Backup_ComputeProgress(nullptr);
}

TEST_F(BackupTest, ModeChangeEndsTheBackup)
{
    ASSERT_EQ(Backup_StartStop(V(), 1, "b.mov"), 1);
    Queued(0);
    View_KeyAction(0, 16, VIEW_LIVE, 1, 0, 0);
    EXPECT_EQ(gBackupBlock.state, 4u);
    EXPECT_EQ(V()->backupBlock.backupArmed, 0u);
    Bytes m = OnlyQueued();
    EXPECT_EQ(GetU32(m, 40), 256u);
}

} // namespace
