// The setup pages as a user drives them: tavlin-host opens Setup on the
// key panel, the PPPoE tab, types into the fields and presses Apply and
// Clear; dvr-sim's trace shows what the recorder stored and the host's
// events show the message boxes.
#include "tests/support/HostRun.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Window coordinates: the key panel's Setup button, the tabs, the PPPoE
// page's fields and buttons.
const char* kSetupButton = "955,46";
const char* kSystemTab = "68,55";
const char* kPppoeTab = "192,55";
const char* kPppoeUser = "298,291";
const char* kPppoePassword = "298,323";
const char* kApply = "619,527";
const char* kClear = "531,527";

std::string At(const char* xy, int ms) { return std::string(xy) + "," + std::to_string(ms); }
std::string Click(const char* xy) { return " --click " + At(xy, 0); }
std::string Type(const char* xy, const std::string& text) { return " --type " + At(xy, 0) + "," + text; }
// Until the field at xy shows text: the recorder's answer has filled the page.
std::string Shows(const char* xy, const std::string& text)
{
    return " --wait-text '" + At(xy, 60000) + "," + text + "'";
}
std::string Box(const std::string& text) { return " --wait-msgbox '60000," + text + "'"; }
const char kSuccess[] = "Setup Successful.";

TEST(SetupE2E, PppoeIsAppliedConfirmedAndReadBack)
{
    HostFolder folder("tavlin-setup-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
    const std::string page = folder.Path("page.html"), shot = folder.Path("pppoe.png");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));

    // Setup, the PPPoE tab once the recorder's item is in (its user "user"),
    // user and password typed, Apply and its message; then Clear, away to
    // System and back: the page shows the recorder's copy, which a second
    // Apply sends again as it stands.
    const std::string steps = " --wait-video 60000" + Click(kSetupButton) + Click(kPppoeTab) +
                              Shows(kPppoeUser, "user") + Type(kPppoeUser, "alice@isp") +
                              Type(kPppoePassword, "s3cret") + Click(kApply) + Box(kSuccess) + Click(kClear) +
                              Click(kSystemTab) + Click(kPppoeTab) + Shows(kPppoeUser, "?*") + " --read " +
                              At(kPppoeUser, 0) + Click(kApply) + Box(kSuccess);
    std::string out;
    ASSERT_EQ(RunHost(sim, folder, HostOnPage(page) + " --events" + steps + " --screenshot '" + shot + "' --after-ms 0",
                      &out),
              0)
        << out;

    std::vector<std::string> stored = sim.LinesStartingWith("icmd pppoe ");
    const std::string alice = "icmd pppoe flag=0 user=alice@isp password-length=6";
    EXPECT_EQ(stored, std::vector<std::string>({alice, alice})) << out;
    EXPECT_NE(out.find(std::string("text ") + kPppoeUser + "=\"alice@isp\""), std::string::npos)
        << "the re-entered page shows the recorder's copy\n"
        << out;
    EXPECT_EQ(Count(out, "msgbox caption=\"Setup Information\" text=\"Setup Successful.\""), 2u) << out;
    EXPECT_GE(sim.Count("icmd answer op=4 type=4096 mask=2"), 4u) << "two gets and two sets answered";

    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
}

TEST(SetupE2E, UpnpPortIsRefusedOutsideItsRangeAndWrittenWithin)
{
    HostFolder folder("tavlin-setup-upnp-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--upnp"}));
    const std::string page = folder.Path("page.html");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));

    // Without the Title tab the UPnP tab follows Mail.
    const char* upnpTab = "348,55";
    const char* port = "250,291";
    // The page once the recorder's word is in (port 80); the refusal's
    // message; the end once the recorder has stored the good port.
    SimSignal written = SignalOnLines(folder, "written", "ictl upnp word=0x20001f90 write");
    const std::string steps = " --wait-video 60000" + Click(kSetupButton) + Click(upnpTab) + Shows(port, "80") +
                              Type(port, "99999") + Click(kApply) + Box("*99999* is not a valid UPnP port*") +
                              Type(port, "8080") + Click(kApply) + written.Wait();
    std::string out;
    ASSERT_EQ(RunHost(sim, folder, HostOnPage(page) + " --events" + steps + " --run-ms 0", &out, {written}), 0) << out;

    std::vector<std::string> words = sim.LinesStartingWith("ictl upnp word=");
    // The page's read (its default port), then only the good write.
    EXPECT_EQ(words, std::vector<std::string>({"ictl upnp word=0x8000ffff read stored=0x00000050",
                                               "ictl upnp word=0x20001f90 write stored=0x00001f90"}))
        << out;
    EXPECT_NE(out.find("msgbox caption=\"Error\" text=\"'99999' is not a valid UPnP port (0 to 65535)\""),
              std::string::npos)
        << out;
}

TEST(SetupE2E, AnUnansweredPageComesBackAfterTenSeconds)
{
    HostFolder folder("tavlin-setup-wait-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--no-setup-answer"}));
    const std::string page = folder.Path("page.html");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));

    // The get is not answered: the page, greyed once it has gone out,
    // takes no typing nor Apply until its release 1,000 ticks later.
    const std::string steps = " --wait-video 60000" + Click(kSetupButton) + Click(kPppoeTab) + " --wait-greyed " +
                              At(kPppoeUser, 60000) + Type(kPppoeUser, "early") + Click(kApply) + " --wait-enabled " +
                              At(kPppoeUser, 60000) + Type(kPppoeUser, "late") + Click(kApply) + Box(kSuccess);
    std::string out;
    ASSERT_EQ(RunHost(sim, folder, HostOnPage(page) + " --events" + steps + " --run-ms 0", &out), 0) << out;

    EXPECT_TRUE(sim.Seen("icmd get mask=2 unanswered"));
    std::vector<std::string> stored = sim.LinesStartingWith("icmd pppoe ");
    EXPECT_EQ(stored, std::vector<std::string>({"icmd pppoe flag=0 user=late password-length=0"})) << out;
    EXPECT_EQ(Count(out, "text=\"Setup Successful.\""), 1u) << out;
}

// A user name and password typed in the user's own script go to the
// recorder in the bytes of the system's code page; a character that code
// page cannot write is refused with the field's name and nothing is sent.
TEST(SetupE2E, TextsInTheUsersScriptGoOutInTheSystemsCodePageOrAreRefused)
{
    const struct {
        const char* name;
        const char* codePage;
        const char *user, *password;
        const char* refused; // the field the refusal names, or null: sent
        const char* bytes;   // the stored record's icmd pppoe-bytes line
    } rows[] = {
        {"Polish password on a Western system", "1252", "jan", "hasło", "PPPoE Password", nullptr},
        {"euro sign on a Western system", "1252", "jan", "s€cret", nullptr, "user=6a616e password=738063726574"},
        {"Polish password on a Central European system", "1250", "jan", "hasło", nullptr,
         "user=6a616e password=686173b36f"},
        {"Chinese name and password on a Big5 system", "950", "王小明", "密碼123", nullptr,
         "user=a4fda470a9fa password=b14bbd58313233"},
        {"Chinese name on a Western system", "1252", "王小明", "x", "PPPoE User Name", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HostFolder folder("tavlin-setup-script-e2e");
        ASSERT_TRUE(RegisterControl());
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
        const std::string page = folder.Path("page.html");
        ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));
        // The page takes typing once the recorder has answered its get.
        const std::string steps = std::string(" --wait-video 60000") + Click(kSetupButton) + Click(kPppoeTab) +
                                  " --wait-enabled " + kPppoeUser + ",60000" + Type(kPppoeUser, row.user) +
                                  Type(kPppoePassword, row.password) + Click(kApply) + " --wait-msgbox 60000";
        std::string out;
        ASSERT_EQ(RunHost(sim, folder,
                          HostOnPage(page, std::string("TAVLIN_CODEPAGE=") + row.codePage) + " --events" + steps +
                              " --run-ms 300",
                          &out),
                  0)
            << out;
        if (row.refused) {
            // (the host's line escapes the quotes around the field's name)
            EXPECT_NE(out.find("msgbox caption=\"Setup Information\" text=\"Nothing was sent: \\\"" +
                               std::string(row.refused) + "\\\" holds a character"),
                      std::string::npos)
                << out;
            EXPECT_FALSE(sim.Seen("icmd set mask=2")) << out;
        } else {
            EXPECT_EQ(Count(out, "text=\"Setup Successful.\""), 1u) << out;
            EXPECT_EQ(sim.LinesStartingWith("icmd pppoe-bytes "),
                      std::vector<std::string>({std::string("icmd pppoe-bytes ") + row.bytes}))
                << out;
        }
    }
}

// What the recorder traced, for a failure's message.
std::string Trace(SimProcess& sim)
{
    sim.Collect(0);
    std::string all;
    for (const std::string& l : sim.lines()) all += "SIM " + l + "\n";
    return all;
}

// The steps up to a PPPoE user typed and applied, each waiting for what
// a user waits for: the video, then the page released by the recorder's answer.
std::string ApplyPppoe(const std::string& user)
{
    return std::string(" --wait-video 60000") + Click(kSetupButton) + Click(kPppoeTab) + " --wait-enabled " + kApply +
           ",60000" + Type(kPppoeUser, user) + Click(kApply);
}

TEST(SetupE2E, AnApplyTheFrozenRecorderNeverAnswersIsToldAsNotConfirmedAfterTenSeconds)
{
    HostFolder folder("tavlin-setup-frozen-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    // The set is lost and the recorder hangs past the page's 10 s.
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--freeze-on-set", "14000"}));
    const std::string page = folder.Path("page.html");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));
    const std::string steps = ApplyPppoe("frozen") +
                              " --wait-msgbox '60000,The recorder did not confirm the settings: no answer came within "
                              "10 seconds.*'" +
                              " --run-ms 300";
    std::string out;
    ASSERT_EQ(RunHost(sim, folder, HostOnPage(page) + " --events" + steps, &out), 0) << out << Trace(sim);
    EXPECT_TRUE(sim.Seen("icmd set mask=2 lost freeze-ms=14000"));
    EXPECT_EQ(Count(out, "text=\"The recorder did not confirm the settings"), 1u) << out;
    EXPECT_EQ(Count(out, "text=\"Setup Successful.\""), 0u) << out;
}

} // namespace
