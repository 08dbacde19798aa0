// Backup files: the part-0 name, the PC's clock as recorder time, the save
// dialog below Windows 6, the protected-mode dialog of ieframe.dll with its
// LocalLow working file from 6 on, and the messages when it is missing.
#include "BackupFixture.h"

TEST_F(BackupTest, ClockIsTheLocalTimeAsRecorderTime)
{
    EXPECT_EQ(Clock_NowNumber(), 361355400u); // 2011-06-15 08:30:00
    gBackupFakeNow = 946684800 - 1;           // before 2000: no recorder time
    EXPECT_EQ(Clock_NowNumber(), 0u);
}

TEST_F(BackupTest, PartZeroName)
{
    TDateParts d = {2010, 1, 2, 3, 4, 5};
    char name[BACKUP_BASE_NAME_SIZE];
    struct Case {
        uint32_t channel;
        int64_t now;
        const char* want;
    } cases[] = {
        {16, 1308126600, "ch16_20100102_030405_361355400.mov"},
        {1, 946684800 + 12345, "ch01_20100102_030405_000012345.mov"},         // padded to 9 digits
        {1, 946684800 + 3000000000LL, "ch01_20100102_030405_2999913600.mov"}, // all ten digits
    };
    for (const Case& k : cases) {
        gBackupFakeNow = k.now;
        Backup_MakeFileName(k.channel, Date_ToSeconds(d), name);
        EXPECT_STREQ(name, k.want);
    }
    // A backup of channel index 0 from 2011-06-15 08:30:00, started then.
    gBackupFakeNow = 1308126600;
    Backup_MakeFileName(1, kStart, name);
    EXPECT_STREQ(name, "ch01_20110615_083000_361355400.mov");
}

// The dialog hook answers save dialogs with a file and counts them.
struct SaveAnswer {
    std::string file;
    int asked = 0;
    std::string proposed;
};

static void AnswerSaves(SaveAnswer* a)
{
    Vcl_SetDialogHook([a](TVclDialogRequest& r) {
        if (r.Kind != vdkSaveDialog) return kVclDialogUnanswered;
        a->asked += 1;
        a->proposed = r.FileName;
        if (a->file.empty()) return 0;
        r.FileName = a->file;
        return 1;
    });
}

TEST_F(BackupTest, BelowWindows6TheSaveDialogChoosesTheFileWrittenInPlace)
{
    V()->backupBlock.backupChannel = 2;
    V()->backupBlock.backupStart = kStart;
    SaveAnswer a{dir + "/mine", 0, {}};
    AnswerSaves(&a);
    EXPECT_EQ(Backup_ChooseFile(), 1);
    EXPECT_EQ(a.proposed, "ch03_20110615_083000_361355400.mov");
    EXPECT_EQ(gBackupSaveDialog->FileName(), dir + "/mine.mov") << "the default extension";
    EXPECT_EQ(std::string(gBackupDestDirs[0]), dir + "/");
    a.file.clear();
    EXPECT_EQ(Backup_ChooseFile(), 0) << "cancelled";
}

TEST_F(BackupTest, FromWindows6TheWorkingFileMovesToTheChosenPlace)
{
    setenv("TAVLIN_WINVER", "6.1", 1);
    std::string profile = dir + "/profile";
    setenv("USERPROFILE", profile.c_str(), 1);
    Force(VIEW_BACKUP);
    V()->backupBlock.backupChannel = 0;
    V()->backupBlock.backupStart = kStart;
    V()->backupBlock.backupEnd = kStart + 60;
    std::string dest = dir + "/dest/";
    ASSERT_EQ(mkdir(dest.c_str(), 0777), 0);
    SaveAnswer a{dest + "chosen", 0, {}};
    AnswerSaves(&a);
    ASSERT_EQ(Backup_Toggle(), 1);
    std::string working = profile + "/AppData/LocalLow/ch01_20110615_083000_361355400.mov";
    EXPECT_EQ(gBackupSaveDialog->FileName(), working);
    EXPECT_TRUE(Exists(working)) << "created empty by the choice";
    EXPECT_EQ(std::string(gBackupBlock.chosenName), working);
    OpenNextPart();
    FeedSpan(kStart, kStart + 3, 0);
    // A size change: the next part is chosen in its own dialog.
    a.file = dest + "second";
    Feed(MakeVideo({kStart + 3, 0, true, 22, 15}));
    Settle(1);
    EXPECT_TRUE(Complete(ReadAll(dest + "chosen.mov"))) << "moved when finished";
    EXPECT_FALSE(Exists(working));
    OpenNextPart();
    EXPECT_EQ(a.asked, 2);
    EXPECT_EQ(a.proposed, "ch01_20110615_083000_361355400(1).mov");
    FeedSpan(kStart + 5, kStart + 7, 0, 22, 15);
    Backup_StartStop(V(), 0, "");
    Settle();
    EXPECT_TRUE(Complete(ReadAll(dest + "second.mov")));
    EXPECT_EQ(folders, (std::vector<std::string>{dest, dest}));
    // Stopped short of its end mark: said, with the file at its destination.
    EXPECT_EQ(Messages(), std::vector<std::string>{"The backup ended before its end mark (the backup was stopped): the "
                                                   "copy reaches 2011/06/15 08:30:06, in " +
                                                   dest + "second.mov."});
    unsetenv("USERPROFILE");
}

TEST_F(BackupTest, FromWindows6WithoutIeframeTheMessagesSaySo)
{
    setenv("TAVLIN_WINVER", "6.0", 1);
    SaveAnswer a{dir + "/x", 0, {}};
    AnswerSaves(&a);
    struct Case {
        const char* root;
        const char* message;
    } cases[] = {
        {"/nonexistent-root", "Can't find ieframe.dll"},
        {BACKUP_NODIALOG_ROOT, "Can't find IEShowSaveFileDialog"},
    };
    std::string saved = getenv("systemroot") ? getenv("systemroot") : "";
    for (const Case& k : cases) {
        setenv("systemroot", k.root, 1);
        Vcl_ClearDialogLog();
        EXPECT_EQ(Backup_ChooseFile(), 0);
        EXPECT_EQ(Messages(), std::vector<std::string>{k.message});
    }
    EXPECT_EQ(a.asked, 0);
    setenv("systemroot", saved.c_str(), 1);
    // Without a profile folder that can hold the working file, the choice fails and says why.
    std::string plain = dir + "/plain";
    std::ofstream(plain) << "a file, not a folder";
    setenv("USERPROFILE", (plain + "/profile").c_str(), 1);
    Vcl_ClearDialogLog();
    EXPECT_EQ(Backup_ChooseFile(), 0);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find("cannot be created"), std::string::npos);
    unsetenv("USERPROFILE");
}

TEST_F(BackupTest, AFolderGoesToTheFileManagerAsOneArgument)
{
    // The opener records how many arguments it got and the first.
    std::string script = dir + "/opener.sh", seen = dir + "/seen";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" << seen << ".tmp' && mv '" << seen
                          << ".tmp' '" << seen << "'\n";
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    setenv("TAVLIN_FOLDER_OPENER", script.c_str(), 1);
    std::string folder = dir + "/a b; touch " + dir + "/injected/";
    ASSERT_EQ(Win_OpenFolder(folder.c_str()), 0);
    for (int i = 0; i < 2000 && !Exists(seen); ++i) usleep(10000); // a generous ceiling on a loaded machine
    Bytes got = ReadAll(seen);
    EXPECT_EQ(std::string(got.begin(), got.end()), "1|" + folder);
    EXPECT_FALSE(Exists(dir + "/injected"));
    unsetenv("TAVLIN_FOLDER_OPENER");
    EXPECT_EQ(Win_OpenFolder(""), -1);
}

TEST_F(BackupTest, ProgressIsComputedWideAndClamped)
{
    Force(VIEW_BACKUP);
    V()->backupBlock.backupArmed = BACKUP_RUNNING;
    struct Case {
        uint32_t start, end, now;
        int32_t want;
    } cases[] = {
        {0, 4000000000u, 3000000000u, 75}, // done x 100 passes 32 bits
        {100, 200, 150, 50},
        {100, 200, 50, 0},    // before the start
        {100, 200, 300, 100}, // past the end
        {100, 100, 150, 0},   // no span
    };
    for (const Case& k : cases) {
        V()->backupBlock.backupStart = k.start;
        V()->backupBlock.backupEnd = k.end;
        S()->displayTime = k.now;
        IE_percentage = -7;
        Backup_ComputeProgress(V());
        EXPECT_EQ(IE_percentage, k.want) << k.start << ".." << k.end << " at " << k.now;
    }
}

TEST_F(BackupTest, PartsFromTenOnShareTheLastFolderAndAStartResetsTheCount)
{
    V()->backupBlock.backupStart = kStart;
    SaveAnswer a{dir + "/p0", 0, {}};
    AnswerSaves(&a);
    ASSERT_EQ(Backup_ChooseFile(), 1); // part 0 names the base
    gBackupBlock.part = 12;
    setenv("TAVLIN_WINVER", "6.1", 1);
    setenv("USERPROFILE", (dir + "/profile").c_str(), 1);
    std::string dest = dir + "/twelve/";
    ASSERT_EQ(mkdir(dest.c_str(), 0777), 0);
    a.file = dest + "p12";
    ASSERT_EQ(Backup_ChooseFile(), 1);
    EXPECT_EQ(a.proposed, "ch01_20110615_083000_361355400(12).mov");
    EXPECT_EQ(std::string(gBackupDestDirs[BACKUP_DEST_DIRS - 1]), dest);
    unsetenv("USERPROFILE");

    gBackupPartCount = 5;
    Start(dir + "/again.mov");
    EXPECT_EQ(gBackupPartCount, 0u);
}
