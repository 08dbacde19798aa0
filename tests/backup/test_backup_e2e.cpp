// Backups as a user makes them: in tavlin-host against dvr-sim, the Backup
// page, the TO mark moved 15 s on in the calendar (a 20-second span from
// the page's default marks), START BACKUP, the save dialog answered; the
// movie files ffprobe and ffmpeg read, the progress bar on the way, a size
// change, a stop halfway, the protected-mode path and a folder that cannot
// be written.
#include "tests/support/HostPage.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

std::string At(int x, int y, int ms) { return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(ms); }

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Once the first picture is in: the Backup page (its key lit), TO, 15
// steps of its seconds up, OK once the time of day shows them, START
// BACKUP once the OK has closed the edit.
std::string BackupClicks()
{
    std::string s = " --wait-video 60000 --click " + At(877, 46, 0) + " --wait-pixel 850,50,60000,2B6DB1 --click " +
                    At(706, 208, 0);
    for (int i = 1; i <= 15; ++i) s += " --click " + At(872, 521, 0);
    return s + " --wait-redraw 790,528,96,20,60000 --click " + At(877, 592, 0) +
           " --wait-pixel 877,592,60000,1B2128 --click " + At(935, 196, 0);
}

// Until the backup's folder has been opened (it is the end of a backup):
// the folder opener of Host leaves this file next to the page.
std::string Opened(const std::string& page, int limitMs = 120000)
{
    return " --wait-file " + std::to_string(limitMs) + ",'" + page.substr(0, page.rfind('/')) + "/opened'";
}

// Until the progress bar is filled to percent.
std::string Bar(int percent)
{
    return " --wait-pixel " + std::to_string(686 + 244 * percent / 100) + ",233,60000,3B9A5E";
}

struct HostRun {
    std::string out;
    int status = -2;
};

// tavlin-host on the page with the steps and the environment given, while
// dvr-sim's trace is read; the run ends ms after the last wait, once every
// step has run. Its folder opener prints the folder and leaves "opened"
// next to the page.
HostRun Host(SimProcess& sim, const std::string& page, const std::string& env, const std::string& steps, int ms)
{
    HostRun r;
    const std::string dir = page.substr(0, page.rfind('/')), opener = dir + "/opener";
    if (FILE* f = fopen(opener.c_str(), "w")) {
        fprintf(f, "#!/bin/sh\necho \"$@\"\n: >'%s/opened'\n", dir.c_str());
        fclose(f);
    }
    chmod(opener.c_str(), 0755);
    std::atomic<int> status{-2};
    std::thread host([&] {
        status = Shell(HostOnPage(page, "TAVLIN_FOLDER_OPENER='" + opener + "' " + env) + steps + " --events --run-ms " +
                           std::to_string(ms) + " 2>&1",
                       &r.out);
    });
    while (status == -2) sim.Collect(50);
    host.join();
    sim.Collect(200);
    r.status = status;
    return r;
}

std::string Probe(const std::string& file, const std::string& what)
{
    std::string out;
    Shell("ffprobe -v error " + what + " -of default=nw=1:nk=1 '" + file + "' 2>&1", &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

double Seconds(const std::string& file, const char* stream)
{
    return atof(Probe(file, std::string("-select_streams ") + stream + " -show_entries stream=duration").c_str());
}

// The md5 of every decoded video frame.
std::vector<std::string> FrameSums(const std::string& file)
{
    std::string out;
    Shell("ffmpeg -v error -i '" + file + "' -map 0:v -f framemd5 - 2>/dev/null", &out);
    std::vector<std::string> sums;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        sums.push_back(line.substr(line.rfind(',') + 1));
    }
    return sums;
}

// The recorded second of the first backup frame dvr-sim sent.
uint32_t FirstBackupSecond(const SimProcess& sim)
{
    for (const std::string& l : sim.lines()) {
        if (l.rfind("vido frame ", 0) != 0 || l.find(" src=1 ") == std::string::npos) continue;
        size_t t = l.find(" time=");
        if (t != std::string::npos) return (uint32_t)strtoul(l.c_str() + t + 6, nullptr, 10);
    }
    return 0;
}

// The share of the progress bar that is filled, in percent.
int BarPercent(const std::string& png)
{
    QImage im(QString::fromStdString(png));
    if (im.isNull()) return -1;
    int filled = 0;
    for (int x = 686; x < 930; ++x) {
        QRgb p = im.pixel(x, 233);
        if (qGreen(p) > qRed(p) + 40) ++filled;
    }
    return filled * 100 / 244;
}

class BackupE2E : public ::testing::Test {
protected:
    HostFolder folder{"tavlin-backup-e2e"};
    SimProcess sim;
    std::string page;

    void StartSim(std::vector<std::string> more = {})
    {
        ASSERT_TRUE(RegisterControl());
        std::vector<std::string> args = {"--port", "0", "--trace", "--recordings", "always", "--gop", "150"};
        args.insert(args.end(), more.begin(), more.end());
        ASSERT_TRUE(sim.Start(args));
        page = folder.Path("page.html");
        ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));
    }
};

TEST_F(BackupE2E, TwentySecondsFromTheKeyPanelGiveOneMovieOfWhatWasSent)
{
    StartSim();
    std::string chosen = folder.Path("bk");
    // Screenshots as the backup starts, at a quarter and at three fifths
    // of the bar, and at the end once the bar shows it.
    std::string steps = BackupClicks() + " --answer save='" + chosen + "'";
    steps += " --shot 0," + folder.Path("0.png") + Bar(25) + " --shot 0," + folder.Path("1.png") + Bar(60) +
             " --shot 0," + folder.Path("2.png") + Opened(page) + Bar(99) + " --shot 0," + folder.Path("3.png");
    HostRun r = Host(sim, page, "TAVLIN_WINVER=5.1", steps, 0);
    ASSERT_EQ(r.status, 0) << r.out;
    std::string movie = chosen + ".mov";
    ASSERT_TRUE(Exists(movie)) << r.out;
    EXPECT_FALSE(Exists(chosen + "(1).mov"));
    EXPECT_EQ(Probe(movie, "-show_entries format=format_name"), "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_NEAR(Seconds(movie, "v:0"), 20.0, 0.5);
    // Sound comes in 200 ms frames, and the stream step takes a tick's video
    // before its sound: the sound still waiting when the end mark's frame
    // closes the part is not in it (a slow build's tick holds over a second).
    EXPECT_NEAR(Seconds(movie, "a:0"), 20.0, 2.0);
    EXPECT_LE(Seconds(movie, "a:0"), Seconds(movie, "v:0") + 0.25);
    EXPECT_NE(r.out.find(folder.dir + "/\n"), std::string::npos) << "the folder opened, as one argument:\n" << r.out;
    EXPECT_EQ(r.out.find("msgbox"), std::string::npos) << r.out;

    // The progress bar moves from 0 to 100 %.
    std::vector<int> bar;
    for (int shot = 0; shot < 4; shot++) bar.push_back(BarPercent(folder.Path(std::to_string(shot) + ".png")));
    EXPECT_LE(bar[0], 5);
    EXPECT_GT(bar[1], bar[0]);
    EXPECT_GT(bar[2], bar[1]);
    EXPECT_LT(bar[2], 100);
    EXPECT_GE(bar[3], 99);

    // Every picture decodes as what dvr-sim makes for that span.
    uint32_t first = FirstBackupSecond(sim);
    ASSERT_NE(first, 0u);
    std::string dump = folder.Path("sent.frames"), sent = folder.Path("sent.mov");
    ASSERT_EQ(Shell(std::string(DVR_SIM_PATH) + " --gop 150 --dump-frames '" + dump + "' --seconds 21 --dump-start " +
                    std::to_string(first) + " && " TAVLIN_MOV_PATH " '" + dump + "' '" + sent + "' >/dev/null"),
              0);
    std::vector<std::string> got = FrameSums(movie), want = FrameSums(sent);
    ASSERT_GE(got.size(), 600u);
    ASSERT_GE(want.size(), got.size());
    want.resize(got.size());
    EXPECT_EQ(got, want);
}

TEST_F(BackupE2E, ASizeChangeGivesTwoFiles)
{
    StartSim({"--size-change-at", "10"});
    std::string chosen = folder.Path("two");
    HostRun r = Host(sim, page, "TAVLIN_WINVER=5.1", BackupClicks() + " --answer save='" + chosen + "'" + Opened(page),
                     0);
    ASSERT_EQ(r.status, 0) << r.out;
    for (const std::string& f : {chosen + ".mov", chosen + "(1).mov"}) ASSERT_TRUE(Exists(f)) << f << r.out;
    EXPECT_EQ(Probe(chosen + ".mov", "-select_streams v:0 -show_entries stream=width"), "320");
    EXPECT_EQ(Probe(chosen + "(1).mov", "-select_streams v:0 -show_entries stream=width"), "256");
    double a = Seconds(chosen + ".mov", "v:0"), b = Seconds(chosen + "(1).mov", "v:0");
    EXPECT_NEAR(a, 10.0, 1.1);
    EXPECT_NEAR(b, 10.0, 1.1) << "nothing is lost at the change";
    EXPECT_LE(a + b, 20.5);
}

TEST_F(BackupE2E, AStopHalfwayLeavesAPlayableFile)
{
    StartSim({"--backup-speed", "1"});
    std::string chosen = folder.Path("half");
    // STOP once a quarter of the span (5 s, sent in real time) is in.
    HostRun r = Host(sim, page, "TAVLIN_WINVER=5.1",
                 BackupClicks() + Bar(25) + " --click " + At(935, 196, 0) + " --answer save='" + chosen + "'" +
                     Opened(page),
                 0);
    ASSERT_EQ(r.status, 0) << r.out;
    double s = Seconds(chosen + ".mov", "v:0");
    EXPECT_GT(s, 2.0);
    EXPECT_LT(s, 8.0);
    EXPECT_GE(FrameSums(chosen + ".mov").size(), 60u);
}

TEST_F(BackupE2E, TheProtectedModePathWritesInLocalLowAndMovesTheFile)
{
    StartSim();
    std::string profile = folder.Path("profile"), dest = folder.Path("dest");
    ASSERT_EQ(mkdir(dest.c_str(), 0777), 0);
    HostRun r = Host(sim, page, "TAVLIN_WINVER=6.1 USERPROFILE='" + profile + "'",
                 BackupClicks() + " --answer save='" + dest + "/moved'" + Opened(page), 0);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(Seconds(dest + "/moved.mov", "v:0"), 20.0, 0.5);
    std::string left;
    Shell("ls -A '" + profile + "/AppData/LocalLow'", &left);
    EXPECT_EQ(left, "") << "the working file moved";
    EXPECT_NE(r.out.find(dest + "/\n"), std::string::npos) << r.out;
}

TEST_F(BackupE2E, AFolderThatCannotBeWrittenEndsWithAMessage)
{
    StartSim();
    HostRun r = Host(sim, page, "TAVLIN_WINVER=5.1",
                     BackupClicks() + " --answer save=/proc/backup --wait-msgbox '60000,*cannot be created*'", 0);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("text=\"The backup file /proc/backup.mov cannot be created."), std::string::npos)
        << r.out;
    EXPECT_FALSE(Exists("/proc/backup.mov"));
}

} // namespace
