// Backups as a user makes them, on a loaded machine (one busy loop per
// core while the tests run, tests/support/Load.h): in tavlin-host against dvr-sim, the Backup page,
// the TO mark moved on in the time box, START BACKUP, the save dialog
// answered. Every part file is read by ffprobe, decoded whole by ffmpeg and
// walked for its first and last picture and its sound: together the parts
// hold every frame dvr-sim sent for the span, none lost between them, and
// each part the sound of its pictures. The table runs spans at dvr-sim's
// default and top speeds, through gaps in the recording (waited through
// and jumped), past the sync table with a key frame every fifth frame,
// over two size changes and the 30 minutes, and ends backups with STOP
// BACKUP, the page closing, the recorder switching the view to live and
// the recorder killed or frozen halfway. Apart from the table: the
// progress bar and the pictures against what dvr-sim makes, a size
// change, a stop halfway, the protected-mode path and a folder that
// cannot be written.
#include "panel/Month.h"
#include "tests/media-mov/MovAtoms.h"
#include "tests/support/HostPage.h"
#include "tests/support/HostRun.h"
#include "tests/support/Load.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

using mov_test::PartSpan;
using mov_test::ReadPart;

constexpr double kFrame = 1.0 / 30;   // the pattern's frame time
constexpr uint32_t kSoundUnit = 1600; // bytes of one recorder sound frame (200 ms)
// The ceiling of a wait for a whole backup's end (a span of up to 40
// minutes at 64 times real time, or 20 s with the recorder away for 20 s).
constexpr int kBackupLimitMs = 4 * kWaitLimitMs;

std::string At(int x, int y, int ms) { return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(ms); }

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Once the first picture is in: the Backup page (its key lit), TO (lit),
// the hours, minutes and seconds of the time box stepped up (from 5 s after
// FROM), OK once the time of day shows them, START BACKUP once the OK has
// closed the edit.
std::string BackupClicks(int hours = 0, int minutes = 0, int seconds = 15)
{
    std::string s = " --wait-video 60000 --click " + At(877, 46, 0) + " --wait-pixel 850,50,60000,2B6DB1 --click " +
                    At(706, 208, 0) + " --wait-pixel 695,208,60000,2B6DB1";
    for (int i = 0; i < hours; ++i) s += " --click " + At(804, 521, 0);
    for (int i = 0; i < minutes; ++i) s += " --click " + At(838, 521, 0);
    for (int i = 0; i < seconds; ++i) s += " --click " + At(872, 521, 0);
    return s + " --wait-redraw 790,528,96,20,60000 --click " + At(877, 592, 0) +
           " --wait-pixel 877,592,60000,1B2128 --click " + At(935, 196, 0);
}

// Until the page names the file chosen in the save dialog: the backup runs.
std::string Started(const std::string& file)
{
    return " --wait-text '354,568,60000," + file.substr(file.rfind('/') + 1) + ".mov'";
}

// Until the backup's folder has been opened (it is the end of a backup):
// the folder opener of Host leaves this file next to the page.
std::string Opened(const std::string& page, int limitMs = 2 * kWaitLimitMs)
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

// tavlin-host on the page with the steps and the environment given, in the
// background while dvr-sim's trace is read (and tick runs, when given); the
// run ends once every step has run. Its folder opener prints the folder and
// leaves "opened" next to the page.
HostRun Host(SimProcess& sim, const HostFolder& folder, const std::string& page, const std::string& env,
             const std::string& steps, const std::vector<SimSignal>& simSignals = {},
             const std::function<void()>& tick = nullptr, int limitMs = kBackupLimitMs + 2 * kWaitLimitMs)
{
    HostRun r;
    const std::string dir = page.substr(0, page.rfind('/')), opener = dir + "/opener";
    if (FILE* f = fopen(opener.c_str(), "w")) {
        fprintf(f, "#!/bin/sh\necho \"$@\"\n: >'%s/opened'\n", dir.c_str());
        fclose(f);
    }
    chmod(opener.c_str(), 0755);
    remove((dir + "/opened").c_str());
    r.status = RunHost(
        sim, folder, HostOnPage(page, "TAVLIN_FOLDER_OPENER='" + opener + "' " + env) + steps + " --events --run-ms 0",
        &r.out, simSignals, tick, limitMs);
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

// What ffmpeg says decoding the whole file (empty: it decodes cleanly).
std::string DecodeErrors(const std::string& file)
{
    std::string out;
    Shell("ffmpeg -v error -i '" + file + "' -f null - 2>&1", &out);
    return out;
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

uint64_t Position(uint32_t time, uint32_t frame) { return (uint64_t)time * 30 + frame; }
// The first and the last frame time a part covers (its last picture held
// by fillers as long as its sound goes on).
uint64_t From(const PartSpan& p) { return Position(p.firstTime, p.firstFrame); }
uint64_t To(const PartSpan& p) { return From(p) + p.frames - 1; }

// The recorded video frames a recorder's trace says it sent (source 1):
// their positions (second x 30 + frame number).
void SentFrames(const SimProcess& sim, std::set<uint64_t>* out)
{
    for (const std::string& l : sim.lines()) {
        if (l.rfind("vido frame ", 0) != 0 || l.find(" src=1 ") == std::string::npos) continue;
        size_t t = l.find(" time="), f = l.find(" fn=");
        if (t == std::string::npos || f == std::string::npos) continue;
        out->insert(Position((uint32_t)strtoul(l.c_str() + t + 6, nullptr, 10),
                             (uint32_t)strtoul(l.c_str() + f + 4, nullptr, 10)));
    }
}

// Whether a message box shown in the host's output matches pattern ("*"
// for any run of characters); the box's text comes back in *text.
bool Glob(const char* p, const char* t)
{
    if (*p == 0) return *t == 0;
    if (*p == '*') return Glob(p + 1, t) || (*t && Glob(p, t + 1));
    return *t && *p == *t && Glob(p + 1, t + 1);
}
bool MessageShown(const std::string& out, const std::string& pattern, std::string* text)
{
    std::istringstream in(out);
    std::string line;
    const std::string mark = " text=\"";
    while (std::getline(in, line)) {
        size_t at = line.find(mark);
        if (line.rfind("msgbox ", 0) != 0 || at == std::string::npos) continue;
        std::string t = line.substr(at + mark.size());
        if (!t.empty() && t.back() == '"') t.pop_back();
        if (Glob(pattern.c_str(), t.c_str())) {
            *text = t;
            return true;
        }
    }
    return false;
}

// A recorder time as the control's messages write it.
std::string TimeText(uint32_t t)
{
    TDateParts d;
    Date_FromSeconds(t, &d);
    char text[48];
    snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", (unsigned)d.year, (unsigned)d.month, (unsigned)d.day,
             (unsigned)d.hour, (unsigned)d.minute, (unsigned)d.second);
    return text;
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

// The part files of a backup into base.mov: base.mov, base(1).mov, ...
std::vector<std::string> PartFiles(const std::string& base)
{
    std::vector<std::string> files;
    if (Exists(base + ".mov")) files.push_back(base + ".mov");
    for (int i = 1; Exists(base + "(" + std::to_string(i) + ").mov"); ++i)
        files.push_back(base + "(" + std::to_string(i) + ").mov");
    return files;
}

// How a backup of the table ends.
enum TEnd {
    kEndMark,    // at its end mark
    kStop,       // STOP BACKUP halfway
    kModeChange, // the recorder switches the view to live halfway (its own mode word)
    kClose,      // the page closes halfway
    kKilled,     // the recorder killed halfway and started again 20 s later
    kFrozen,     // the recorder frozen halfway for 20 s
};

struct TCase {
    const char* name;
    std::vector<std::string> sim; // dvr-sim's options beyond the port, trace and pattern's picture group
    int hours, minutes, seconds;  // the TO mark moved on by these
    TEnd end;
    size_t parts;                                      // part files the backup leaves
    const char* message;                               // what the message box says (a pattern; null: no message box)
    const char* widths = nullptr;                      // the parts' picture widths ("320,256,320"; null: not looked at)
    int ceilingMs = kBackupLimitMs + 2 * kWaitLimitMs; // the whole run
};

std::ostream& operator<<(std::ostream& o, const TCase& c) { return o << c.name; }

const std::vector<std::string> kGap = {"--clock", "08:21:40", "--recordings", "1/all/00:00-08:30;1/all/09:00-24:00"};

std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A part that a full table of the movie ended: where the copy goes on.
const char kFull[] = "* ends at *: the movie holds no more (*). The copy goes on in * from *";

const TCase kCases[] = {
    {"TwentySecondsAtTheDefaultSpeed", {}, 0, 0, 15, kEndMark, 1, nullptr},
    {"TwentySecondsAtTheTopSpeed", {"--backup-speed", "64"}, 0, 0, 15, kEndMark, 1, nullptr},
    {"AGapTheRecorderWaitsThrough", Plus({"--backup-speed", "64", "--sparse", "30"}, kGap), 0, 39, 0, kEndMark, 2,
     kFull},
    {"AGapTheRecorderJumps", Plus({"--backup-speed", "64", "--sparse", "30", "--gap-jump"}, kGap), 0, 39, 0, kEndMark,
     2, kFull},
    {"KeyFramesEveryFifthFramePassTheSyncTable",
     {"--backup-speed", "64", "--gop", "5", "--picture-mbs", "4x3"},
     0,
     12,
     0,
     kEndMark,
     2,
     kFull},
    {"TwoSizeChanges", {"--size-change-at", "10,20"}, 0, 0, 25, kEndMark, 3, nullptr, "320,256,320"},
    {"ThirtyMinutes", {"--backup-speed", "64", "--sparse", "30"}, 0, 31, 0, kEndMark, 2, nullptr},
    {"StopBackupHalfway", {"--backup-speed", "1"}, 0, 0, 15, kStop, 1, "*(the backup was stopped): the copy reaches *"},
    {"TheRecorderSwitchesToLiveHalfway",
     {"--backup-speed", "1", "--live-after-ms", "6000"},
     0,
     0,
     15,
     kModeChange,
     1,
     "*(the Backup page was left): the copy reaches *"},
    {"ThePageClosesHalfway",
     {"--backup-speed", "1"},
     0,
     0,
     15,
     kClose,
     1,
     "*(the page was closed): the copy reaches *"},
    {"TheRecorderKilledHalfway",
     {"--backup-speed", "1"},
     0,
     0,
     15,
     kKilled,
     2,
     "* ends at *: the link to the recorder was lost. The copy goes on in *"},
    {"TheRecorderFrozenHalfway",
     {"--backup-speed", "1"},
     0,
     0,
     15,
     kFrozen,
     2,
     "* ends at *: the link to the recorder was lost. The copy goes on in *"},
};

class BackupE2E : public ::testing::Test {
protected:
    HostFolder folder{"tavlin-backup-e2e"};
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::string page;
    std::vector<std::string> simArgs;

    bool StartSim(std::vector<std::string> more, const std::string& port = "0")
    {
        std::vector<std::string> args = {"--port", port, "--trace"};
        if (std::find(more.begin(), more.end(), "--recordings") == more.end())
            more = Plus({"--recordings", "always"}, more);
        if (std::find(more.begin(), more.end(), "--gop") == more.end()) more = Plus({"--gop", "150"}, more);
        simArgs = more;
        args.insert(args.end(), more.begin(), more.end());
        sims.push_back(std::make_unique<SimProcess>());
        return sims.back()->Start(args);
    }
    SimProcess& Sim() { return *sims.back(); }
    void SetUpPage()
    {
        ASSERT_TRUE(RegisterControl());
        page = folder.Path("page.html");
        ASSERT_TRUE(WritePage(page, Sim().port(), "9.1234.5678"));
    }
    void Collect()
    {
        for (auto& s : sims) s->Collect(0);
    }
    HostRun Run(const std::string& env, const std::string& steps, const std::vector<SimSignal>& simSignals = {},
                const std::function<void()>& tick = nullptr, int limitMs = kBackupLimitMs + 2 * kWaitLimitMs)
    {
        // Every recorder's trace is read as it comes: a full pipe would
        // hold the recorder up.
        return Host(
            *sims.front(), folder, page, env, steps, simSignals,
            [&] {
                for (size_t i = 1; i < sims.size(); ++i) sims[i]->Collect(i + 1 == sims.size() ? 10 : 0);
                if (tick) tick();
            },
            limitMs);
    }
};

// The folder's line the file manager stand-in prints when a backup ends.
bool FolderOpened(const std::string& out, const std::string& dir) { return out.find(dir + "/\n") != std::string::npos; }

class BackupTable : public BackupE2E, public ::testing::WithParamInterface<TCase> {};

TEST_P(BackupTable, ThePartsHoldTheWholeSpanWithItsSound)
{
    const TCase& c = GetParam();
    ASSERT_TRUE(StartSim(c.sim));
    SetUpPage();
    BusyMachine load; // from here on the machine is busy

    const std::string base = folder.Path("bk");
    // Halfway: once the recorder has sent eight seconds of the span.
    uint32_t first = 0;
    auto eightSecondsSent = [&](SimProcess& sim) {
        std::set<uint64_t> sent;
        SentFrames(sim, &sent);
        if (sent.empty()) return false;
        if (!first) first = (uint32_t)(*sent.begin() / 30);
        return *sent.rbegin() / 30 >= first + 8;
    };
    SimSignal halfway = Signal(folder, "halfway", eightSecondsSent);
    std::string steps = BackupClicks(c.hours, c.minutes, c.seconds) + " --answer save='" + base + "'" + Started(base);
    switch (c.end) {
    case kStop: steps += halfway.Wait() + " --click " + At(935, 196, 0); break;
    case kClose: steps += halfway.Wait(); break; // the run ends there: the host closes the page
    default: break;
    }
    if (c.message && c.end != kClose)
        steps += " --wait-msgbox '" + std::to_string(kBackupLimitMs) + "," + std::string(c.message) + "'";
    if (c.end != kClose) steps += Opened(page, kBackupLimitMs);

    // The recorder killed or frozen once its span is eight seconds on, and
    // back 20 s later.
    bool broken = false, back = false;
    auto brokeAt = std::chrono::steady_clock::now();
    const std::string port = std::to_string(Sim().port());
    auto tick = [&] {
        if (c.end != kKilled && c.end != kFrozen) return;
        if (!broken) {
            if (!eightSecondsSent(Sim())) return;
            broken = true;
            brokeAt = std::chrono::steady_clock::now();
            if (c.end == kKilled) Sim().Stop(SIGKILL);
            else Sim().Signal(SIGSTOP);
            return;
        }
        if (back || std::chrono::steady_clock::now() - brokeAt < std::chrono::seconds(20)) return;
        back = true;
        if (c.end == kKilled) EXPECT_TRUE(StartSim(simArgs, port)) << "dvr-sim starts again on its port";
        else Sim().Signal(SIGCONT);
    };
    std::vector<SimSignal> simSignals;
    if (c.end == kStop || c.end == kClose) simSignals.push_back(halfway);
    HostRun r = Run("TAVLIN_WINVER=5.1", steps, simSignals, tick, c.ceilingMs);
    Collect();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(FolderOpened(r.out, folder.dir)) << "the folder opened, as one argument:\n" << r.out;
    std::string message;
    if (c.message) {
        EXPECT_TRUE(MessageShown(r.out, c.message, &message)) << r.out;
        EXPECT_NE(message.find(base + ".mov"), std::string::npos) << "the message names the file: " << message;
    } else {
        EXPECT_EQ(r.out.find("msgbox"), std::string::npos) << r.out;
    }

    // The parts: played by ffprobe and ffmpeg, and what they hold.
    std::vector<std::string> files = PartFiles(base);
    ASSERT_EQ(files.size(), c.parts) << r.out;
    std::vector<PartSpan> parts;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        EXPECT_EQ(Probe(f, "-show_entries format=format_name"), "mov,mp4,m4a,3gp,3g2,mj2");
        EXPECT_EQ(DecodeErrors(f), "");
        PartSpan p = ReadPart(f);
        ASSERT_TRUE(p.ok);
        EXPECT_GE(To(p), Position(p.lastTime, p.lastFrame)) << "one picture for every frame time";
        EXPECT_NEAR(Seconds(f, "v:0"), p.frames * kFrame, kFrame + 0.001);
        // The sound track plays as far as the pictures (its edit list).
        EXPECT_NEAR(Seconds(f, "a:0"), std::min(p.soundBytes / 8000.0, p.frames * kFrame), kFrame + 0.001);
        EXPECT_NEAR((double)p.soundBytes, p.frames * 8000.0 / 30, kSoundUnit) << "the sound of the part's pictures";
        parts.push_back(p);
    }
    if (c.widths) {
        std::string widths;
        for (const std::string& f : files)
            widths += (widths.empty() ? "" : ",") + Probe(f, "-select_streams v:0 -show_entries stream=width");
        EXPECT_EQ(widths, c.widths);
    }

    // Every frame dvr-sim sent is in a part, and nothing lies between
    // parts: the next part starts right after the one before, where the
    // recorder sent nothing in between, or (asked again after the link
    // came back) within the second the one before ends in.
    std::set<uint64_t> sent;
    for (auto& s : sims) SentFrames(*s, &sent);
    ASSERT_FALSE(sent.empty());
    if (c.end == kStop || c.end == kModeChange || c.end == kClose) {
        // Stopped halfway: the copy reaches the last picture written, which
        // the message names; what came after it is not asked for.
        uint64_t last = Position(parts.back().lastTime, parts.back().lastFrame);
        EXPECT_GE(last, *sent.begin() + 60) << "two seconds at least were copied";
        EXPECT_LT(last, *sent.begin() + 20 * 30) << "stopped halfway";
        EXPECT_NE(message.find("the copy reaches " + TimeText(parts.back().lastTime) + ", in " + base + ".mov."),
                  std::string::npos)
            << message;
        sent.erase(sent.upper_bound(last), sent.end());
    }
    double videoSeconds = 0, soundSeconds = 0;
    uint64_t overlap = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        uint64_t from = Position(parts[i].firstTime, parts[i].firstFrame);
        videoSeconds += parts[i].frames * kFrame;
        soundSeconds += parts[i].soundBytes / 8000.0;
        if (i == 0) {
            EXPECT_EQ(from, *sent.begin()) << "the first part starts with the first frame sent";
            continue;
        }
        uint64_t before = To(parts[i - 1]);
        if (from <= before) {
            EXPECT_TRUE(c.end == kKilled || c.end == kFrozen)
                << "parts overlap only where the recorder was asked again: part " << i << " from " << from
                << ", the one before to " << before << " (last picture "
                << Position(parts[i - 1].lastTime, parts[i - 1].lastFrame) << ")";
            EXPECT_EQ(from / 30, before / 30) << "from the last second written";
            overlap += before - from + 1;
        } else {
            auto between = sent.upper_bound(before);
            EXPECT_TRUE(between == sent.end() || *between >= from)
                << "part " << i << " starts at " << from << ", frames sent from " << *between << " are lost";
        }
    }
    EXPECT_GE(To(parts.back()), *sent.rbegin()) << "the last part ends with the last frame sent";
    EXPECT_LE(To(parts.back()), *sent.rbegin() + 6) << "held at most for a sound unit's time";
    for (uint64_t s : sent) {
        bool in = false;
        for (const PartSpan& p : parts) in = in || (s >= From(p) && s <= To(p));
        if (!in) ADD_FAILURE() << "frame " << s / 30 << ":" << s % 30 << " is in no part";
        if (!in) break;
    }
    // Summed over the parts, the video and the sound seconds are the span
    // (less the gap no part holds): within a frame and a sound unit.
    uint64_t holes = 0;
    for (size_t i = 1; i < parts.size(); ++i) {
        uint64_t before = To(parts[i - 1]);
        uint64_t from = Position(parts[i].firstTime, parts[i].firstFrame);
        if (from > before + 1) holes += from - before - 1;
    }
    double span = (To(parts.back()) - *sent.begin() + 1 - holes) * kFrame;
    EXPECT_NEAR(videoSeconds - overlap * kFrame, span, kFrame + 0.001);
    EXPECT_NEAR(soundSeconds - overlap * kFrame, span, kFrame + kSoundUnit / 8000.0 + 0.001);
}

INSTANTIATE_TEST_SUITE_P(Spans, BackupTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TCase>& i) { return std::string(i.param.name); });

TEST_F(BackupE2E, TwentySecondsFromTheKeyPanelGiveOneMovieOfWhatWasSent)
{
    ASSERT_TRUE(StartSim({}));
    SetUpPage();
    BusyMachine load;
    std::string chosen = folder.Path("bk");
    // Screenshots as the backup starts, at a quarter and at three fifths
    // of the bar, and at the end once the bar shows it.
    std::string steps = BackupClicks() + " --answer save='" + chosen + "'";
    steps += " --shot 0," + folder.Path("0.png") + Bar(25) + " --shot 0," + folder.Path("1.png") + Bar(60) +
             " --shot 0," + folder.Path("2.png") + Opened(page) + Bar(99) + " --shot 0," + folder.Path("3.png");
    HostRun r = Run("TAVLIN_WINVER=5.1", steps);
    ASSERT_EQ(r.status, 0) << r.out;
    std::string movie = chosen + ".mov";
    ASSERT_TRUE(Exists(movie)) << r.out;
    EXPECT_FALSE(Exists(chosen + "(1).mov"));
    EXPECT_EQ(Probe(movie, "-show_entries format=format_name"), "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_NEAR(Seconds(movie, "v:0"), 20.0, 0.5);
    // The sound of every picture, however long the machine's ticks.
    EXPECT_NEAR(Seconds(movie, "a:0"), Seconds(movie, "v:0"), kFrame + 0.001);
    PartSpan part = ReadPart(movie);
    ASSERT_TRUE(part.ok);
    EXPECT_NEAR((double)part.soundBytes, part.frames * 8000.0 / 30, kSoundUnit);
    EXPECT_TRUE(FolderOpened(r.out, folder.dir)) << "the folder opened, as one argument:\n" << r.out;
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
    std::set<uint64_t> sent;
    SentFrames(Sim(), &sent);
    ASSERT_FALSE(sent.empty());
    std::string dump = folder.Path("sent.frames"), made = folder.Path("sent.mov");
    ASSERT_EQ(Shell(std::string(DVR_SIM_PATH) + " --gop 150 --dump-frames '" + dump + "' --seconds 21 --dump-start " +
                    std::to_string(*sent.begin() / 30) + " && " TAVLIN_MOV_PATH " '" + dump + "' '" + made +
                    "' >/dev/null"),
              0);
    std::vector<std::string> got = FrameSums(movie), want = FrameSums(made);
    ASSERT_GE(got.size(), 600u);
    ASSERT_GE(want.size(), got.size());
    want.resize(got.size());
    EXPECT_EQ(got, want);
}

TEST_F(BackupE2E, ASizeChangeGivesTwoFiles)
{
    ASSERT_TRUE(StartSim({"--size-change-at", "10"}));
    SetUpPage();
    BusyMachine load;
    std::string chosen = folder.Path("two");
    HostRun r = Run("TAVLIN_WINVER=5.1", BackupClicks() + " --answer save='" + chosen + "'" + Opened(page));
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
    ASSERT_TRUE(StartSim({"--backup-speed", "1"}));
    SetUpPage();
    BusyMachine load;
    std::string chosen = folder.Path("half");
    // STOP once a quarter of the span (5 s, sent in real time) is in.
    HostRun r = Run("TAVLIN_WINVER=5.1", BackupClicks() + Bar(25) + " --click " + At(935, 196, 0) + " --answer save='" +
                                             chosen + "'" + Opened(page));
    ASSERT_EQ(r.status, 0) << r.out;
    double s = Seconds(chosen + ".mov", "v:0");
    EXPECT_GT(s, 2.0);
    EXPECT_LT(s, 8.0);
    EXPECT_GE(FrameSums(chosen + ".mov").size(), 60u);
}

TEST_F(BackupE2E, TheProtectedModePathWritesInLocalLowAndMovesTheFile)
{
    ASSERT_TRUE(StartSim({}));
    SetUpPage();
    BusyMachine load;
    std::string profile = folder.Path("profile"), dest = folder.Path("dest");
    ASSERT_EQ(mkdir(dest.c_str(), 0777), 0);
    HostRun r = Run("TAVLIN_WINVER=6.1 USERPROFILE='" + profile + "'",
                    BackupClicks() + " --answer save='" + dest + "/moved'" + Opened(page));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(Seconds(dest + "/moved.mov", "v:0"), 20.0, 0.5);
    std::string left;
    Shell("ls -A '" + profile + "/AppData/LocalLow'", &left);
    EXPECT_EQ(left, "") << "the working file moved";
    EXPECT_NE(r.out.find(dest + "/\n"), std::string::npos) << r.out;
}

TEST_F(BackupE2E, AFolderThatCannotBeWrittenEndsWithAMessage)
{
    ASSERT_TRUE(StartSim({}));
    SetUpPage();
    BusyMachine load;
    HostRun r = Run("TAVLIN_WINVER=5.1",
                    BackupClicks() + " --answer save=/proc/backup --wait-msgbox '60000,*cannot be created*'");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("text=\"The backup file /proc/backup.mov cannot be created."), std::string::npos) << r.out;
    EXPECT_FALSE(Exists("/proc/backup.mov"));
}

} // namespace
