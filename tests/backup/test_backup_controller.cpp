// The backup controller: the settled offset, part names and starts, parts
// split at 30 minutes and at size changes on key frames, the silence stop,
// the finish of a stopped part, and failures that end the backup.
#include "BackupFixture.h"

TEST(BackupOffset, ThreeFramesAgree)
{
    struct Case {
        int32_t a, b, c, want;
    } cases[] = {
        {7, 7, 9, 7},     {7, 9, 9, 9},      {7, 9, 7, 7},
        {5, 6, 7, 7},     {0, 0, 0, 0},      {-3, -3, 4, -3},
        {70000, 1, 1, 0}, {1, 1, -65537, 0}, {65536, 65536, 2, 65536},
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

TEST(BackupNames, OnlyTheFileNamesOwnExtensionIsCut)
{
    struct Case {
        const char* chosen;
        uint32_t part;
        int rc;
        const char* want;
    } cases[] = {
        {"/home/u/my.movies/clip.mov", 0, 0, "/home/u/my.movies/clip.mov"},
        {"/home/u/my.movies/clip.mov", 1, 0, "/home/u/my.movies/clip(1).mov"},
        {"/a/b.mov.mov", 0, 0, "/a/b.mov.mov"},
        {"/a/b.mov.mov", 2, 0, "/a/b.mov(2).mov"},
        {"C:\\x.mov\\y.MOV", 3, 0, "C:\\x.mov\\y(3).MOV"}, // any case, kept as chosen
        {"/a.mov/b", 0, -1, ""},                           // no extension of its own
        {"/a.mov/b.movie", 1, -1, ""},
        {"/a/.mov", 1, 0, "/a/(1).mov"},
    };
    for (const Case& k : cases) {
        char out[128];
        EXPECT_EQ(Backup_PartFileName(k.chosen, k.part, out, sizeof out), k.rc) << k.chosen << " " << k.part;
        EXPECT_STREQ(out, k.want) << k.chosen;
    }
}

TEST_F(BackupTest, ABackupIntoAFolderNamedWithMovWritesTheChosenFile)
{
    std::string folder = dir + "/my.movies";
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    std::string chosen = folder + "/clip.mov";
    Start(chosen, kStart + 3);
    FeedSpan(kStart, kStart + 4, 0);
    Settle();
    EXPECT_TRUE(Complete(ReadAll(chosen)));
    EXPECT_FALSE(Exists(dir + "/my.mov")) << "a file the user never chose";
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

TEST_F(BackupTest, ThirtyMinutesGoOnUpToTheKeyFrameThatStartsTheNextPart)
{
    std::string chosen = dir + "/long.mov";
    Start(chosen, kStart + 2000);
    // Key frames at frame 15 of every second: the 30 minutes are full at
    // second 1800 frame 0, and the part goes on to frame 15 there.
    FeedSpan(kStart, kStart + 1800, 15);
    EXPECT_EQ(gBackupBlock.part, 0u);
    for (uint8_t n = 0; n < 15; ++n) {
        Feed(MakeVideo({kStart + 1800, n, false}));
        EXPECT_EQ(gBackupBlock.part, 0u);
    }
    // 54,000 frames from the first key frame on: 53,985 before the mark and
    // the 15 P frames after it, in the part in hand.
    EXPECT_EQ(gMovWriter.samples, 54000u);
    EXPECT_EQ(gMovWriter.lastVideoTime, kStart + 1800);
    EXPECT_EQ(gMovWriter.lastVideoFrame, 14u);
    EXPECT_EQ(Feed(MakeVideo({kStart + 1800, 15, true})), 1);
    EXPECT_EQ(gBackupBlock.part, 1u);
    EXPECT_EQ(gBackupPartCount, 1u);
    EXPECT_NE(S()->heldLength, 0u) << "the key frame waits for the next part";
    OpenNextPart();
    EXPECT_EQ(gMovWriter.startTime, kStart + 1800);
    Backup_OnFrame(S()); // the held key frame is the next part's first
    FeedSpan(kStart + 1801, kStart + 1802, 15);
    EXPECT_EQ(gMovWriter.firstTime, kStart + 1800);
    EXPECT_EQ(gMovWriter.firstFrameNumber, 15u);
    EXPECT_EQ(std::string(gBackupBlock.partName), dir + "/long(1).mov");
    EXPECT_TRUE(Complete(ReadAll(chosen)));
    PartSpan p0 = ReadPart(chosen);
    ASSERT_TRUE(p0.ok);
    EXPECT_EQ(p0.lastTime, kStart + 1800);
    EXPECT_EQ(p0.lastFrame, 14u) << "nothing lost between the parts";
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

TEST_F(BackupTest, SilenceEndsTheBackupOnceTheRecorderHadTimeForTheRest)
{
    std::string chosen = dir + "/quiet.mov";
    Start(chosen, kStart + 10);
    // A frame a second, sent at real time: the seven seconds left take the
    // recorder 7 s, so it may stay silent for twice that and 15 s more.
    FeedPacedKeyFrames(4, 1000);
    gBackupFakeMs += 2 * 7000 + 15000;
    Idle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_WRITE) << "the recorder may still be in a gap";
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
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "The backup ended before its end mark (the recorder sent nothing more): the copy reaches "
                             "2011/06/15 08:30:03, in " +
                                 chosen + ".");
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

// --- What a backup copies: every second of its span, sound with its pictures --------

// The sound of a part against its pictures, in bytes of 8000 Hz sound.
static double SoundLead(const PartSpan& p) { return (double)p.soundBytes - p.frames * 8000.0 / 30.0; }
// A part that ends at the end mark's frame has the sound up to it: the
// recorder sends that frame's own sound after it.
static bool SoundToTheEndMark(const PartSpan& p) { return SoundLead(p) <= 1.0 && SoundLead(p) >= -8000.0 / 30 - 1; }

TEST_F(BackupTest, APartHoldsTheSoundOfItsWholeSpanHoweverLateTheSoundIsTaken)
{
    // takeEvery 0: the stream step never got to the sound before the end
    // mark's frame closed the part, as on a busy machine or at a high
    // sending speed; 1: the sound goes in as it comes.
    for (int takeEvery : {0, 1, 7, 45}) {
        SCOPED_TRACE(takeEvery);
        std::string chosen = dir + "/sound" + std::to_string(takeEvery) + ".mov";
        Start(chosen, kStart + 4);
        Run(kStart, kStart + 5, 30, true, 20, takeEvery);
        EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
        PartSpan p = ReadPart(chosen);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.frames, 4u * 30u + 1u) << "up to the end mark's frame";
        EXPECT_TRUE(SoundToTheEndMark(p)) << p.soundBytes << " bytes of sound";
        EXPECT_TRUE(Messages().empty());
        StreamAudio_Drain(&S()->audioRing);
    }
}

TEST_F(BackupTest, AStopAModeChangeAndAClosingKeepTheSoundAndSaySo)
{
    struct Case {
        const char* name;
        std::function<void()> end;
        const char* why;
    } cases[] = {
        {"stop", [this] { Backup_StartStop(V(), 0, ""); }, "the backup was stopped"},
        {"mode", [this] { View_SetMode(V(), VIEW_LIVE); }, "the Backup page was left"},
        {"close", [] { Backup_Close(); }, "the page was closed"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Vcl_ClearDialogLog();
        folders.clear();
        std::string chosen = dir + "/" + k.name + ".mov";
        Start(chosen, kStart + 100);
        Run(kStart, kStart + 3, 30, true, 20, 0);
        k.end();
        EXPECT_FALSE(Backup_Active());
        EXPECT_FALSE(Backup_PartOpen());
        EXPECT_TRUE(Complete(ReadAll(chosen)));
        PartSpan p = ReadPart(chosen);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.frames, 90u);
        EXPECT_LE(std::abs(SoundLead(p)), 1.0) << p.soundBytes;
        EXPECT_EQ(Messages(), std::vector<std::string>{std::string("The backup ended before its end mark (") + k.why +
                                                       "): the copy reaches 2011/06/15 08:30:02, in " + chosen + "."});
        EXPECT_EQ(folders, std::vector<std::string>{dir + "/"});
        Force(VIEW_BACKUP);
        Settle();
        StreamAudio_Drain(&S()->audioRing);
    }
}

TEST_F(BackupTest, SoundOlderThanThePartsFirstPictureIsLeftOut)
{
    // The span starts in the middle of a picture group: the first key frame
    // is frame 15; the sound from frame 12 on covers it.
    std::string chosen = dir + "/first.mov";
    Start(chosen, kStart + 3);
    Run(kStart, kStart + 4, 30, true, 20, 1, 15);
    PartSpan p = ReadPart(chosen);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.firstTime, kStart);
    EXPECT_EQ(p.firstFrame, 15u);
    EXPECT_TRUE(SoundToTheEndMark(p)) << "sound and pictures start together: " << p.soundBytes;
    EXPECT_EQ(p.firstSoundByte, SoundFill((uint64_t)kStart * 30 + 12))
        << "the sound frame of frame 12, from frame 15 on";
}

TEST_F(BackupTest, APartChangeSplitsTheSoundAtTheKeyFrameThatStartsTheNextPart)
{
    // A size change at frame 3 of a second: the sound frame of frame 0 runs
    // over it, its first half in one part and its second in the next. The
    // sound waits in the ring all along.
    std::string chosen = dir + "/split.mov";
    Start(chosen, kStart + 8);
    uint64_t change = (uint64_t)(kStart + 5) * 30 + 3;
    RunPos((uint64_t)kStart * 30, change, 30, (uint64_t)kStart * 30, true, 20, 0);
    RunPos(change, (uint64_t)(kStart + 9) * 30, 30, change, true, 22, 0);
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    PartSpan a = ReadPart(chosen), b = ReadPart(dir + "/split(1).mov");
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(a.frames, 153u);
    EXPECT_EQ(a.lastTime, kStart + 5);
    EXPECT_EQ(a.lastFrame, 2u);
    EXPECT_EQ(b.firstTime, kStart + 5);
    EXPECT_EQ(b.firstFrame, 3u);
    EXPECT_EQ(b.frames, 3u * 30u - 3u + 1u);
    EXPECT_LE(std::abs(SoundLead(a)), 1.0) << a.soundBytes;
    EXPECT_TRUE(SoundToTheEndMark(b)) << b.soundBytes;
    EXPECT_EQ(b.firstSoundByte, SoundFill(change - 3)) << "the second half of the sound frame that ran over the change";
}

TEST_F(BackupTest, SoundAheadOfItsPicturesWaitsForThemAtAPartChange)
{
    // A busy machine's stream step lags the pictures while the sound comes
    // in: here the sound of the whole span is in the ring before its
    // pictures, and the step takes sound after every picture. The part that
    // ends at the size change (frame 3 of a second, within a sound frame)
    // holds only its own sound; the rest, that sound frame's second half
    // included, is the next part's.
    std::string chosen = dir + "/ahead.mov";
    Start(chosen, kStart + 8);
    for (uint64_t pos = (uint64_t)kStart * 30; pos < (uint64_t)(kStart + 9) * 30; pos += 6)
        Queue(MakeSound((uint32_t)(pos / 30), (uint8_t)(pos % 30), SoundFill(pos)));
    uint64_t change = (uint64_t)(kStart + 5) * 30 + 3;
    RunPos((uint64_t)kStart * 30, change, 30, (uint64_t)kStart * 30, false, 20, 1);
    RunPos(change, (uint64_t)(kStart + 9) * 30, 30, change, false, 22, 1);
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    PartSpan a = ReadPart(chosen), b = ReadPart(dir + "/ahead(1).mov");
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(a.frames, 153u) << "no picture held on for sound of the next part";
    EXPECT_LE(std::abs(SoundLead(a)), 1.0) << a.soundBytes;
    EXPECT_TRUE(SoundToTheEndMark(b)) << b.soundBytes;
    EXPECT_EQ(b.firstSoundByte, SoundFill(change - 3)) << "the second half of the sound frame that ran over the change";
    StreamAudio_Drain(&S()->audioRing);
}

TEST_F(BackupTest, EveryPartBeginsWithTheKeyFrameThatEndedTheOneBefore)
{
    // Two size changes on key frames: each part's first picture is the key
    // frame that ended the part before, and nothing lies between the parts.
    std::string chosen = dir + "/sizes.mov";
    Start(chosen, kStart + 30);
    Run(kStart, kStart + 10, 30, true, 20);
    Run(kStart + 10, kStart + 20, 30, true, 16);
    Run(kStart + 20, kStart + 31, 30, true, 20);
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    uint32_t first[3] = {kStart, kStart + 10, kStart + 20};
    uint32_t frames = 0;
    for (int i = 0; i < 3; ++i) {
        std::string name = i == 0 ? chosen : dir + "/sizes(" + std::to_string(i) + ").mov";
        PartSpan p = ReadPart(name);
        ASSERT_TRUE(p.ok) << name;
        EXPECT_EQ(p.firstTime, first[i]) << name;
        EXPECT_EQ(p.firstFrame, 0u) << name;
        if (i < 2) {
            EXPECT_EQ(p.lastTime, first[i] + 9) << name;
            EXPECT_EQ(p.lastFrame, 29u) << name;
        }
        EXPECT_TRUE(i < 2 ? std::abs(SoundLead(p)) <= 1.0 : SoundToTheEndMark(p)) << name;
        frames += p.frames;
    }
    EXPECT_EQ(frames, 30u * 30u + 1u);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(BackupTest, KeyFramesOftenerThanTheSyncTableHoldsGoOnInTheNextPart)
{
    // A key frame every 5 frames: 4,095 fill the sync table after 682.5 s,
    // long before the 30 minutes.
    std::string chosen = dir + "/gop.mov";
    Start(chosen, kStart + 3600);
    Run(kStart, kStart + 690, 5);
    EXPECT_TRUE(Backup_Active()) << "the backup goes on";
    EXPECT_EQ(gBackupBlock.part, 1u);
    Backup_StartStop(V(), 0, "");
    PartSpan a = ReadPart(chosen), b = ReadPart(dir + "/gop(1).mov");
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(a.frames, 4095u * 5u);
    EXPECT_EQ(b.firstTime, kStart + 682);
    EXPECT_EQ(b.firstFrame, 15u);
    EXPECT_EQ(a.frames + b.frames, 690u * 30u);
    // Nothing is lost, and the end says where the copy went on.
    EXPECT_EQ(Messages(),
              std::vector<std::string>{chosen +
                                       " ends at 2011/06/15 08:41:22: the movie holds no more (key "
                                       "frames this often, or a gap in the recording). The copy goes on in " +
                                       dir +
                                       "/gop(1).mov from 2011/06/15 08:41:22.\nThe backup ended "
                                       "before its end mark (the backup was stopped): the copy reaches "
                                       "2011/06/15 08:41:29, in " +
                                       dir + "/gop(1).mov."});
}

TEST_F(BackupTest, ALongGapInTheRecordingGoesOnInTheNextPart)
{
    // 40 minutes without recording need more fillers than a part holds:
    // the part ends at the gap and the frames after it go into the next, up
    // to the end mark. After the gap the recording goes on with a key frame,
    // or with P frames up to the next key frame.
    for (uint32_t phase : {0u, 10u}) {
        SCOPED_TRACE(phase);
        Vcl_ClearDialogLog();
        std::string chosen = dir + "/gap" + std::to_string(phase) + ".mov";
        uint32_t after = kStart + 10 + 2400;
        Start(chosen, after + 5);
        Run(kStart, kStart + 10, 30, true);
        Run(after, after + 6, 30, true, 20, 1, phase);
        EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE) << "the end mark ended the backup";
        PartSpan a = ReadPart(chosen);
        PartSpan b = ReadPart(dir + "/gap" + std::to_string(phase) + "(1).mov");
        ASSERT_TRUE(a.ok);
        ASSERT_TRUE(b.ok) << "everything after the gap is copied";
        EXPECT_EQ(a.frames, 300u);
        EXPECT_EQ(b.firstTime, after);
        EXPECT_EQ(b.firstFrame, phase);
        EXPECT_EQ(b.frames, 5u * 30u + 1u - phase);
        EXPECT_LE(std::abs(SoundLead(a)), 1.0);
        EXPECT_TRUE(SoundToTheEndMark(b));
        EXPECT_EQ(Messages(),
                  std::vector<std::string>{chosen +
                                           " ends at 2011/06/15 08:30:09: the movie holds no more "
                                           "(key frames this often, or a gap in the recording). The copy "
                                           "goes on in " +
                                           dir + "/gap" + std::to_string(phase) + "(1).mov from 2011/06/15 09:10:10."});
        StreamAudio_Drain(&S()->audioRing);
    }
}

TEST_F(BackupTest, AShortGapIsFilledWithinThePart)
{
    std::string chosen = dir + "/short.mov";
    Start(chosen, kStart + 620);
    Run(kStart, kStart + 10, 30);
    Run(kStart + 610, kStart + 621, 30);
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    PartSpan a = ReadPart(chosen);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.frames, 620u * 30u + 1u) << "the ten minutes are filled";
    EXPECT_FALSE(Exists(dir + "/short(1).mov"));
}

TEST_F(BackupTest, LeavingBackupWhileTheNextPartWaitsEndsTheBackup)
{
    std::string chosen = dir + "/wait.mov";
    Start(chosen, kStart + 60);
    Run(kStart, kStart + 5, 30);
    // A size change: the next part waits for its watermark.
    memset(gWatermarkAnswer, 0, sizeof gWatermarkAnswer);
    Feed(MakeVideo({kStart + 5, 0, true, 22, 15}));
    for (int i = 0; i < 4; ++i) Backup_OnFrame(S());
    ASSERT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_OPEN);
    View_SetMode(V(), VIEW_LIVE);
    EXPECT_FALSE(Backup_Active());
    EXPECT_EQ(folders, std::vector<std::string>{dir + "/"}) << "the finished part's folder opens";
    EXPECT_EQ(Messages(),
              std::vector<std::string>{"The backup ended before its end mark (the Backup page was left): the "
                                       "copy reaches 2011/06/15 08:30:04, in " +
                                       chosen + "."});
    // Backup again: no stale part asks for a file or waits.
    Vcl_ClearDialogLog();
    Force(VIEW_BACKUP);
    Settle();
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    EXPECT_TRUE(Vcl_DialogLog().empty());
    EXPECT_FALSE(Exists(dir + "/wait(1).mov"));
    EXPECT_EQ(IE_ST2, 0);
}

// --- The link to the recorder -------------------------------------------------------

// The ICMD backup blocks among the queued messages: their start marks.
static std::vector<uint32_t> AskedFrom(std::vector<Bytes> queued)
{
    std::vector<uint32_t> out;
    for (const Bytes& m : queued)
        if (m.size() >= 88 && memcmp(&m[4], "ICMD", 4) == 0 && GetU32(m, 40) == ICMD_BACKUP)
            out.push_back(GetU32(m, 80));
    return out;
}

TEST_F(BackupTest, ALostLinkFinishesThePartAndTheRestGoesIntoTheNextPart)
{
    // The link drops (the recorder killed), or the recorder stops answering
    // (frozen) for 15 s; either way it comes back while the backup is armed.
    for (int frozen = 0; frozen < 2; ++frozen) {
        SCOPED_TRACE(frozen);
        Vcl_ClearDialogLog();
        folders.clear();
        std::string chosen = dir + "/link" + std::to_string(frozen) + ".mov";
        Start(chosen, kStart + 20);
        Run(kStart, kStart + 5, 30, true);
        Queued(0);
        if (frozen) {
            C(0)->busy[0] = 1;
            C(0)->sendTime[0] = Stopwatch_Now();
            gBackupFakeMs += BACKUP_SILENCE_MS;
            Idle();
            EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_WRITE) << "15,000 ms is not yet silence";
            gBackupFakeMs += 1;
        } else {
            C(0)->linkState = LINK_IDLE;
            C(0)->active = 0;
        }
        Idle();
        EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_LINK);
        EXPECT_TRUE(Complete(ReadAll(chosen))) << "what came plays";
        gBackupFakeMs += 20000;
        Idle();
        EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_LINK) << "the backup waits for the link";
        if (frozen) {
            C(0)->busy[0] = 0;
        } else {
            C(0)->session = 0x2222;
            C(0)->linkState = LINK_LOGGED_IN;
            C(0)->active = 1;
        }
        Idle();
        EXPECT_EQ(AskedFrom(Queued(0)), std::vector<uint32_t>{kStart + 4}) << "from the last second written";
        EXPECT_EQ(V()->backupBlock.backupArmed, (uint32_t)BACKUP_RUNNING);
        Pump();
        IE_percentage = 0;
        S()->displayTime = kStart + 10;
        Backup_ComputeProgress(V());
        EXPECT_EQ(IE_percentage, 50) << "the bar counts from the backup's own start";
        Run(kStart + 4, kStart + 21, 30, true);
        EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
        std::string next = dir + "/link" + std::to_string(frozen) + "(1).mov";
        PartSpan a = ReadPart(chosen), b = ReadPart(next);
        ASSERT_TRUE(a.ok);
        ASSERT_TRUE(b.ok);
        EXPECT_EQ(a.lastTime, kStart + 4);
        EXPECT_EQ(a.lastFrame, 29u);
        EXPECT_EQ(b.firstTime, kStart + 4);
        EXPECT_EQ(b.firstFrame, 0u);
        EXPECT_EQ(b.lastTime, kStart + 20);
        EXPECT_LE(std::abs(SoundLead(a)), 1.0);
        EXPECT_TRUE(SoundToTheEndMark(b));
        EXPECT_EQ(folders, (std::vector<std::string>{dir + "/", dir + "/"}));
        EXPECT_EQ(Messages(), std::vector<std::string>{chosen +
                                                       " ends at 2011/06/15 08:30:04: the link to the recorder "
                                                       "was lost. The copy goes on in " +
                                                       next + " from 2011/06/15 08:30:04."});
        C(0)->session = 0x1111;
        StreamAudio_Drain(&S()->audioRing);
    }
}

TEST_F(BackupTest, ALinkThatDoesNotComeBackEndsTheBackupAndSaysWhere)
{
    std::string chosen = dir + "/gone.mov";
    Start(chosen, kStart + 20);
    Run(kStart, kStart + 5, 30, true);
    C(0)->linkState = LINK_IDLE;
    C(0)->active = 0;
    Idle();
    gBackupFakeMs += BACKUP_LINK_WAIT_MS;
    Idle();
    EXPECT_TRUE(Backup_Active());
    gBackupFakeMs += 1;
    Idle();
    Settle();
    EXPECT_FALSE(Backup_Active());
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    EXPECT_TRUE(Complete(ReadAll(chosen)));
    EXPECT_FALSE(Exists(dir + "/gone(1).mov"));
    EXPECT_EQ(folders, std::vector<std::string>{dir + "/"});
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              chosen +
                              " ends at 2011/06/15 08:30:04: the link to the recorder was lost.\n"
                              "The backup ended before its end mark (the link to the recorder was lost and did not "
                              "come back): the copy reaches 2011/06/15 08:30:04, in " +
                              chosen + "."}));
}

TEST_F(BackupTest, AGapTheRecorderWaitsThroughNeverEndsTheBackup)
{
    // The recorder sends four times faster than real time and waits through
    // a ten-minute gap in its recording: 150 s without a frame while it
    // answers.
    std::string chosen = dir + "/wait.mov";
    Start(chosen, kStart + 700);
    FeedPacedKeyFrames(40, 250);
    for (uint32_t ms = 0; ms < 150000; ms += 500) {
        gBackupFakeMs += 500;
        Idle();
        ASSERT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_WRITE) << ms;
    }
    Run(kStart + 640, kStart + 701, 30);
    EXPECT_EQ(gBackupBlock.state, (uint32_t)BACKUP_STATE_IDLE);
    PartSpan p = ReadPart(chosen);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.lastTime, kStart + 700);
    EXPECT_TRUE(Messages().empty());
}
