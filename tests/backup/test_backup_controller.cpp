// The backup controller: the settled offset, part names and starts, parts
// split at 30 minutes and at size changes on key frames, the silence stop,
// the finish of a stopped part, and failures that end the backup.
#include "BackupFixture.h"

TEST(BackupOffset, ThreeFramesAgree)
{
    struct Case {
        int32_t a, b, c, want;
    } cases[] = {
        {7, 7, 9, 7}, {7, 9, 9, 9}, {7, 9, 7, 7}, {5, 6, 7, 7}, {0, 0, 0, 0},
        {-3, -3, 4, -3}, {70000, 1, 1, 0}, {1, 1, -65537, 0}, {65536, 65536, 2, 65536},
    };
    for (const Case& k : cases) {
        int32_t o[3] = {k.a, k.b, k.c};
        EXPECT_EQ(Backup_SettleOffset(o, 3), k.want) << k.a << "," << k.b << "," << k.c;
    }
}

TEST(BackupNames, PartsFromTheChosenName)
{
    struct Case {
        const char* chosen;
        uint32_t part;
        uint32_t size;
        int rc;
        const char* want;
    } cases[] = {
        {"/a/b.mov", 0, 64, 0, "/a/b.mov"},
        {"/a/b.mov", 1, 64, 0, "/a/b(1).mov"},
        {"/a/b.mov", 10, 64, 0, "/a/b(10).mov"},
        {"/a/b.mov", 4294967295u, 64, 0, "/a/b(4294967295).mov"},
        {"/a/b.mov.mov", 2, 64, 0, "/a/b(2).mov"},
        {"/a/b", 0, 64, -1, ""},
        {"/a/b.mov", 123, 12, -1, ""}, // "/a/b(123).mov" needs 14 bytes
        {"/a/b.mov", 12, 13, 0, "/a/b(12).mov"},
    };
    for (const Case& k : cases) {
        char out[64];
        memset(out, 'x', sizeof out);
        EXPECT_EQ(Backup_PartFileName(k.chosen, k.part, out, k.size), k.rc) << k.chosen << " " << k.part;
        EXPECT_STREQ(out, k.want);
    }
}

TEST_F(BackupTest, StartBufferIsBounded)
{
    // Large sound frames fill the 4 MB; the one that would pass it is refused.
    Bytes sound(1 << 20, 0);
    TDvrFrameHeader h = {};
    h.magic = FRAME_MAGIC;
    h.kindBits = FRAME_KIND_AUDIO << 6;
    memcpy(sound.data(), &h, sizeof h);
    gBackupBlock.bufferUse = 0;
    Start(dir + "/b.mov");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Backup_BufferFrame(sound.data(), 0, (uint32_t)sound.size()), 0);
    EXPECT_EQ(Backup_BufferFrame(sound.data(), 0, 64), -1);
    EXPECT_EQ(gBackupBlock.bufferUse, (uint32_t)BACKUP_START_BUFFER);
    // The table holds as many frames as it has entries.
    Start(dir + "/c.mov");
    uint32_t taken = 0;
    while (Backup_BufferFrame(sound.data(), 0, 64) == 0 && taken < 10000) ++taken;
    EXPECT_EQ(taken, (uint32_t)BACKUP_START_ENTRIES);
}

TEST_F(BackupTest, OffsetSettlesFromTheFirstThreeVideoFrames)
{
    Start(dir + "/o.mov");
    int32_t offsets[] = {7, 9, 9, 3};
    for (uint8_t i = 0; i < 4; ++i) {
        FrameSpec f{kStart, i, i == 0};
        f.offset = offsets[i];
        Feed(MakeVideo(f));
    }
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_WRITE);
    EXPECT_EQ(gBackupTimeOffset, 9);
    EXPECT_EQ(gMovWriter.startTime, kStart - 9);
    EXPECT_EQ(gMovWriter.samples, 4u);
}

TEST_F(BackupTest, ThirtyMinutesEndThePartAtTheNextKeyFrame)
{
    std::string chosen = dir + "/long.mov";
    Start(chosen, kStart + 2000);
    // Key frames at frame 15 of every second: the 30 minutes are full at
    // second 1800 frame 0, and the part goes on to frame 15 there.
    FeedSpan(kStart, kStart + 1800, 15);
    EXPECT_EQ(gBackupBlock.part, 0u);
    for (uint8_t n = 0; n < 15; ++n) {
        Feed(MakeVideo({kStart + 1800, n, false}));
        EXPECT_EQ(S()->heldLength, 0u) << "P frame " << (int)n << " is dropped";
        EXPECT_EQ(gBackupBlock.part, 0u);
    }
    EXPECT_EQ(gMovWriter.samples, 54000u);
    EXPECT_EQ(Feed(MakeVideo({kStart + 1800, 15, true})), 1);
    EXPECT_EQ(gBackupBlock.part, 1u);
    EXPECT_EQ(gBackupPartCount, 1u);
    EXPECT_NE(S()->heldLength, 0u) << "the key frame waits for the next part";
    OpenNextPart();
    EXPECT_EQ(gMovWriter.startTime, kStart + 1800 - 1);
    Backup_OnFrame(S()); // the held key frame is the next part's first
    FeedSpan(kStart + 1801, kStart + 1802, 15);
    EXPECT_EQ(gMovWriter.firstTime, kStart + 1800);
    EXPECT_EQ(gMovWriter.firstFrameNumber, 15u);
    EXPECT_EQ(std::string(gBackupBlock.partName), dir + "/long(1).mov");
    EXPECT_TRUE(Complete(ReadAll(chosen)));
    EXPECT_TRUE(Exists(dir + "/long(1).mov"));
}

TEST_F(BackupTest, WithoutAWatermarkAnswerThePartStartsAfterTenSecondsWithValueZero)
{
    // What an earlier backup's answer left in the record does not count.
    gWatermarkRecord.value = 0x5A5A5A5A;
    memset(gWatermarkAnswer, 0, sizeof gWatermarkAnswer);
    std::string chosen = dir + "/silent-recorder.mov";
    Force(VIEW_BACKUP);
    V()->backupBlock.backupChannel = 0;
    V()->backupBlock.backupStart = kStart;
    V()->backupBlock.backupEnd = kStart + 3;
    ASSERT_EQ(Backup_StartStop(V(), 1, chosen.c_str()), 1);
    const int64_t asked = gBackupFakeNow;
    Idle(); // the request goes out, the wait begins
    ASSERT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_OPEN);
    EXPECT_EQ(gWatermarkRecord.value, 0u);
    // The frames the recorder sends meanwhile stay in the stream.
    for (int64_t second = 0; second < 10; ++second) {
        gBackupFakeNow = asked + second;
        gBackupFakeMs += 1000;
        Bytes f = MakeVideo({kStart, 0, true});
        EXPECT_EQ(Feed(f), 1) << second << " s: the frame waits";
        EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_OPEN) << second << " s";
        EXPECT_FALSE(Exists(chosen)) << second << " s";
    }
    // Ten seconds after the request the part opens without an answer.
    gBackupFakeNow = asked + 10;
    Idle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_SETTLE);
    EXPECT_TRUE(Exists(chosen));
    EXPECT_EQ(gWatermarkRecord.value, 0u);
    // An answer now is too late for this part.
    uint32_t late = 0x1234;
    memcpy(gWatermarkAnswer + WATERMARK_VALUE_OFFSET, &late, 4);
    FeedSpan(kStart, kStart + 4, 0);
    EXPECT_EQ(gWatermarkRecord.value, 0u);
    EXPECT_EQ(gMovWriter.samples, 91u) << "seconds 0 to 2 and the end mark's frame";
    Settle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    Bytes file = ReadAll(chosen);
    ASSERT_TRUE(Complete(file));
    // The record behind the "moov": the watermark value 0, signed (0
    // rotates to 0), and the sums seeded with it.
    size_t moovAt = 40 + Be32(file, 40);
    size_t record = moovAt + Be32(file, moovAt);
    ASSERT_LE(record + WATERMARK_SIZE, file.size());
    EXPECT_EQ(GetU32(file, record + WATERMARK_VALUE_OFFSET), 0u);
}

TEST_F(BackupTest, SizeChangeAtAKeyFrameEndsThePart)
{
    Start(dir + "/size.mov");
    FeedSpan(kStart, kStart + 5, 0);
    // A P frame of another size is dropped; the key frame of that size ends the part.
    Feed(MakeVideo({kStart + 5, 0, false, 22, 15}));
    EXPECT_EQ(gBackupBlock.part, 0u);
    EXPECT_EQ(S()->heldLength, 0u);
    Feed(MakeVideo({kStart + 5, 1, true, 22, 15}));
    EXPECT_EQ(gBackupBlock.part, 1u);
    EXPECT_EQ(gBackupSizeOffset, 5u - 0u + 1u);
    Settle(1); // the finish
    EXPECT_TRUE(Complete(ReadAll(dir + "/size.mov")));
    OpenNextPart();
    EXPECT_EQ(gMovWriter.startTime, kStart + 5) << "the second of the size change is in the next part";
    EXPECT_EQ(std::string(gBackupBlock.partName), dir + "/size(1).mov");
    // The key frame that ended the part begins the next one.
    EXPECT_NE(S()->heldLength, 0u);
    Backup_OnFrame(S());
    FeedSpan(kStart + 6, kStart + 8, 0, 22, 15);
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_WRITE);
    EXPECT_EQ(gMovWriter.width, 22u * 16);
    EXPECT_EQ(gMovWriter.firstTime, kStart + 5);
    EXPECT_EQ(gMovWriter.firstFrameNumber, 1u);
}

TEST_F(BackupTest, SilenceOf15001MsFinishesThePart)
{
    std::string chosen = dir + "/quiet.mov";
    Start(chosen);
    FeedSpan(kStart, kStart + 2, 0);
    gBackupFakeMs += 15000;
    Idle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_WRITE) << "15,000 ms is not yet silence";
    gBackupFakeMs += 1;
    Idle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_FINISH);
    Settle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    EXPECT_EQ(V()->backupBlock.backupArmed, 0u);
    EXPECT_TRUE(Complete(ReadAll(chosen)));
    EXPECT_EQ(IE_percentage, 100);
    EXPECT_EQ(IE_ST2, 0);
    EXPECT_EQ(folders, std::vector<std::string>{dir + "/"});
    EXPECT_TRUE(Messages().empty());
}

TEST_F(BackupTest, EndMarkFinishesTheBackup)
{
    std::string chosen = dir + "/end.mov";
    Start(chosen, kStart + 3);
    FeedSpan(kStart, kStart + 4, 0);
    Settle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    EXPECT_TRUE(Complete(ReadAll(chosen)));
}

TEST_F(BackupTest, StopsFinishThePartInHand)
{
    // A stop from the view code and a change of view mode both leave a
    // complete file behind.
    for (int how = 0; how < 2; ++how) {
        std::string chosen = dir + "/stop" + std::to_string(how) + ".mov";
        Start(chosen);
        FeedSpan(kStart, kStart + 3, 0);
        ASSERT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_WRITE);
        if (how == 0) Backup_StartStop(V(), 0, "");
        else View_SetMode(V(), VIEW_LIVE);
        EXPECT_FALSE(Backup_PartOpen());
        EXPECT_TRUE(Complete(ReadAll(chosen))) << how;
        EXPECT_EQ(IE_percentage, 100);
        Force(VIEW_BACKUP);
        Settle();
    }
}

TEST_F(BackupTest, AFolderThatCannotBeWrittenEndsWithAMessage)
{
    Start(dir + "/missing/x.mov");
    Settle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    EXPECT_FALSE(Exists(dir + "/missing/x.mov"));
    std::vector<std::string> m = Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_NE(m[0].find("cannot be created"), std::string::npos) << m[0];
    EXPECT_TRUE(folders.empty()) << "no finished part is shown";
}

TEST_F(BackupTest, AFullDiskEndsWithAMessageAndNoCompleteFile)
{
    std::string chosen = dir + "/full.mov";
    ASSERT_EQ(symlink("/dev/full", chosen.c_str()), 0);
    Start(chosen);
    FeedSpan(kStart, kStart + 2, 0);
    Settle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    std::vector<std::string> m = Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_NE(m[0].find("could not be written"), std::string::npos) << m[0];
    EXPECT_TRUE(folders.empty());
}

TEST_F(BackupTest, ThreePartsOpenTheirFoldersAfterTheLast)
{
    std::string chosen = dir + "/three.mov";
    Start(chosen, kStart + 40);
    uint8_t w = 20;
    for (int part = 0; part < 3; ++part) {
        uint32_t from = kStart + 1 + 10 * (uint32_t)part;
        FeedSpan(from, from + 8, 0, w, 15);
        EXPECT_TRUE(folders.empty());
        if (part < 2) {
            w += 2;
            Feed(MakeVideo({from + 8, 0, true, w, 15}));
            ASSERT_EQ(gBackupBlock.part, (uint32_t)part + 1);
            Settle(1);
            OpenNextPart();
        }
    }
    Backup_StartStop(V(), 0, "");
    Settle();
    EXPECT_EQ(folders, (std::vector<std::string>{dir + "/", dir + "/", dir + "/"}));
    for (const char* name : {"/three.mov", "/three(1).mov", "/three(2).mov"})
        EXPECT_TRUE(Complete(ReadAll(dir + name))) << name;
    EXPECT_EQ(gBackupPartCount, 0u);
}
