// The handshake, the named variables and the command module against
// dvr-sim on loopback: the whole handshake packet by packet, the second
// socket, a variable exchange, a setup get and set, and the link coming
// back after the recorder closes it or goes away, with one socket or two.
#include "control/Setup.h"
#include "control/Properties.h"
#include "control/Session.h"
#include "control/View.h"
#include "link/Conn.h"
#include "link/Hooks.h"
#include "link/Icmd.h"
#include "link/Ictl.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "platform/vcl/Dialogs.h"
#include "tests/support/LinkLoop.h"
#include "tests/support/SimProcess.h"
#include "control/TavlinImpl1.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

const uint32_t kCapMs = kWaitLimitMs; // a cap on every wait, never a pace

bool Wait(const std::function<bool()>& done) { return Application_ProcessMessagesUntil(done, kCapMs); }

void Dump(SimProcess& sim)
{
    for (const std::string& l : sim.lines()) fprintf(stderr, "SIM %s\n", l.c_str());
}

// The session of the last grant the recorder traced.
uint32_t LastGrant(SimProcess& sim)
{
    sim.Collect(0);
    uint32_t s = 0;
    for (const std::string& l : sim.lines())
        if (l.rfind("grant session=", 0) == 0) s = (uint32_t)std::stoul(l.substr(14));
    return s;
}

// Index of the first line at or after `from` that starts with prefix, -1 if none.
int LineOf(SimProcess& sim, const std::string& prefix, int from = 0)
{
    sim.Collect(0);
    const std::vector<std::string>& lines = sim.lines();
    for (size_t i = (size_t)from; i < lines.size(); ++i)
        if (lines[i].rfind(prefix, 0) == 0) return (int)i;
    return -1;
}

TConnection* C0() { return &gConnections[0]; }

TEST(HandshakeEndToEnd, RunsPacketByPacketAndOpensTheSecondSocket)
{
    const std::string text1(32, 'T');
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--channels", "8", "--sockets", "2", "--upnp", "--text1", text1,
                           "--text2", "Model 8"}));
    LinkLoop loop;
    loop.Connect(sim.port());
    bool configured = Wait([&] { return C0()->active == 1 && Viewer_UpnpTabVisible() == 1; });
    if (!configured) Dump(sim);
    ASSERT_TRUE(configured);

    const uint32_t s = C0()->session;
    ASSERT_NE(s, 0u);
    EXPECT_EQ(s, LastGrant(sim));
    const std::string ss = std::to_string(s);
    // The recorder saw the steps in this order.
    const std::vector<std::string> steps = {
        "login session=0",
        "grant session=" + ss,
        "tavn hello session=" + ss + " bytes=256",
        "tavn hello-answer session=" + ss + " kind=1",
        "tavn client-info session=" + ss +
            " bytes=256 words=16,0,1 os=\"[OS] 2.9.2_138ED\" sn=\"[SN] 1234567890\" "
            "b=\"[B] REV:1.9\" n=\"[N] 7104\"",
        "tavn machine-record session=" + ss + " channels=8 sockets=2",
        "ictl name=Tavn_Mach_Type_Data_W size=960 flag=1 session=" + ss,
        "ictl-answer name=Tavn_Mach_Type_Data_R size=960 flag=1",
    };
    int at = 0;
    for (const std::string& step : steps) {
        int found = LineOf(sim, step, at);
        EXPECT_GE(found, at) << "missing or out of order: " << step;
        if (found >= 0) at = found + 1;
    }
    EXPECT_TRUE(sim.Seen("module TAVN len=320")); // hello and client info: 64 + 256 bytes
    EXPECT_TRUE(sim.Seen("module ICTL len=1280"));

    const THandshakeRecord& h = gHandshakeRecords[0];
    EXPECT_EQ(h.helloAnswer.clientKind, 1u);
    EXPECT_EQ(h.machine.channelCount, 8u);
    EXPECT_EQ(h.machine.socketCount, 2u);
    EXPECT_EQ(std::string(h.machine.text[0]), std::string(31, 'T')); // 32 characters show as 31
    EXPECT_EQ(std::string(h.machine.text[1]), "Model 8");

    // Socket 1 goes to the same host and port; its first packet carries
    // the held session. Queued commands make both sockets send.
    ASSERT_TRUE(Wait([&] { return Conn_SocketConnected(C0(), 1) == 1; }));
    EXPECT_TRUE(sim.Seen("accept client=2"));
    ASSERT_TRUE(Wait([&] {
        if (Ring_Used(C0()->sendRing->writeIndex, C0()->sendRing->readIndex, C0()->sendRing->size) == 0)
            Icmd_Send(s, ICMD_REQUEST, ICMD_SETUP, SETUP_BITRATE);
        return sim.Seen("first-packet client=2");
    }));
    EXPECT_GE(LineOf(sim, "first-packet client=2 type=5 session=" + ss + " socket=1"), 0);
    EXPECT_TRUE(loop.boxes.empty());
}

TEST(HandshakeEndToEnd, ExchangesAVariableAndGetsAndSetsASetupItem)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
    LinkLoop loop;
    loop.Connect(sim.port());
    ASSERT_TRUE(Wait([&] { return C0()->active == 1 && sim.Seen("ictl-answer name=Tavn_Mach_Type_Data_R"); }));
    EXPECT_EQ(Viewer_UpnpTabVisible(), 0); // no --upnp
    const uint32_t s = C0()->session;
    TViewRecord* v = C0()->view;
    ASSERT_EQ(v, &gViewRecords[0]);

    // A UPnP read request: the recorder answers with its stored word.
    gUpnpWord = 0x80000000u | 8080u;
    Ictl_SendVariable(s, "Tavn_Upnp_C_Data_W", &gUpnpWord, 4, 1);
    ASSERT_TRUE(Wait([&] { return gUpnpWord == 80u; }));

    // A get fills the item; nothing was applied, so no box.
    memset(&v->pppoeItem, 0xEE, sizeof v->pppoeItem);
    const uint32_t firstSequence = v->icmdSequence + 1;
    Icmd_Send(s, ICMD_REQUEST, ICMD_SETUP, SETUP_PPPOE);
    ASSERT_TRUE(Wait([&] { return strcmp(v->pppoeItem.user, "user") == 0; }));
    EXPECT_EQ(v->pppoeItem.onOff, 0);
    EXPECT_EQ(v->pppoeItem.password[0], 0);
    EXPECT_TRUE(loop.boxes.empty());

    // A set is confirmed once, keeps what was sent and clears its bit (an
    // applied item is always sent at once: the module test has two at a time).
    memset(&v->pppoeItem, 0, sizeof v->pppoeItem);
    v->pppoeItem.onOff = 1;
    strcpy(v->pppoeItem.user, "someone");
    strcpy(v->pppoeItem.password, "secret");
    v->dirtyMask = SETUP_PPPOE;
    Icmd_Send(s, ICMD_DATA, ICMD_SETUP, SETUP_PPPOE);
    ASSERT_TRUE(Wait([&] { return !loop.boxes.empty(); }));
    Application_ProcessMessagesFor(50);
    ASSERT_EQ(loop.boxes.size(), 1u);
    EXPECT_EQ(loop.boxes[0].Kind, vdkMessageBox);
    EXPECT_EQ(loop.boxes[0].Text, "Setup Successful.");
    EXPECT_EQ(loop.boxes[0].Caption, "Setup Information");
    EXPECT_EQ(v->dirtyMask, 0u);
    EXPECT_STREQ(v->pppoeItem.user, "someone");
    EXPECT_TRUE(sim.Seen("icmd set mask=2 stored"));

    // The recorder kept it: a fresh get brings it back.
    memset(&v->pppoeItem, 0, sizeof v->pppoeItem);
    Icmd_Send(s, ICMD_REQUEST, ICMD_SETUP, SETUP_PPPOE);
    ASSERT_TRUE(Wait([&] { return strcmp(v->pppoeItem.user, "someone") == 0; }));
    EXPECT_STREQ(v->pppoeItem.password, "secret");
    EXPECT_EQ(v->pppoeItem.onOff, 1);
    EXPECT_EQ(loop.boxes.size(), 1u);

    // The three commands carried consecutive sequence numbers.
    for (uint32_t i = 0; i < 3; ++i) {
        const std::string op = i == 1 ? "2" : "1";
        EXPECT_GE(LineOf(sim, "icmd op=" + op + " type=4096 mode=0 seq=" + std::to_string(firstSequence + i)), 0) << i;
    }
}

TEST(HandshakeEndToEnd, RecordersCloseBringsTheLinkBackWithSessionZero)
{
    for (const char* sockets : {"1", "2"}) {
        SCOPED_TRACE(std::string("sockets ") + sockets);
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--sockets", sockets, "--close-after-ms", "150"}));
        LinkLoop loop;
        loop.Connect(sim.port());
        ASSERT_TRUE(Wait([&] { return sim.Seen("tavn close session="); }));
        const uint32_t closed = (uint32_t)std::stoul(sim.lines()[LineOf(sim, "tavn close session=")].substr(19));
        // The viewer logs in again from scratch and is configured anew.
        bool back = Wait([&] {
            return sim.Count("login session=0") >= 2 && C0()->active == 1 && C0()->session == LastGrant(sim) &&
                   C0()->session != closed;
        });
        if (!back) Dump(sim);
        ASSERT_TRUE(back);
        EXPECT_EQ(sim.Count("login session="), sim.Count("login session=0"));
        EXPECT_EQ(sim.Count("tavn machine-record"), 2u);
        if (std::string(sockets) == "2") {
            EXPECT_TRUE(Wait([&] { return Conn_SocketConnected(C0(), 1) == 1; }));
        }
        // And it stays up.
        Application_ProcessMessagesFor(100);
        EXPECT_EQ(C0()->linkState, (uint32_t)LINK_LOGGED_IN);
        EXPECT_EQ(C0()->active, 1u);
    }
}

TEST(HandshakeEndToEnd, RecorderGoingAwayBringsTheLinkBack)
{
    for (const char* sockets : {"1", "2"}) {
        SCOPED_TRACE(std::string("sockets ") + sockets);
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--sockets", sockets}));
        const std::string port = std::to_string(sim.port());
        LinkLoop loop;
        loop.Connect(sim.port());
        ASSERT_TRUE(Wait(
            [&] { return C0()->active == 1 && (std::string(sockets) == "1" || Conn_SocketConnected(C0(), 1) == 1); }));
        ASSERT_EQ(sim.Stop(), 0);
        ASSERT_TRUE(Wait([&] { return C0()->session == 0; }));

        SimProcess again;
        ASSERT_TRUE(again.Start({"--port", port, "--trace", "--sockets", sockets}));
        bool back = Wait([&] { return C0()->active == 1 && C0()->session == LastGrant(again) && C0()->session; });
        if (!back) Dump(again);
        ASSERT_TRUE(back);
        EXPECT_TRUE(again.Seen("login session=0"));
        EXPECT_TRUE(again.Seen("tavn machine-record"));
    }
}

TEST(HandshakeEndToEnd, ARecorderSlowToDescribeItselfGetsOneHelloAndItsRecordIsTakenOnce)
{
    // More than the 3 s after which a handshake without its record starts over.
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--record-delay-ms", "4000"}));
    LinkLoop loop;
    loop.Connect(sim.port());
    bool configured = Wait([&] { return C0()->active == 1; });
    if (!configured) Dump(sim);
    ASSERT_TRUE(configured);
    // A hello sent again would bring a second record after a second delay:
    // the link is watched past it.
    Application_ProcessMessagesFor(5000);
    EXPECT_EQ(sim.Count("tavn hello session="), 1u);
    EXPECT_EQ(sim.Count("tavn machine-record session="), 1u);
    EXPECT_EQ(sim.Count("ictl name=Tavn_Mach_Type_Data_W"), 1u) << "the UPnP tab is asked for once";
    EXPECT_EQ(C0()->session, LastGrant(sim));
}

TEST(HandshakeEndToEnd, AnApplyLostWithARecorderThatRestartsIsToldAndTheNewRecordersAnswerDoesNotConfirmIt)
{
    SimProcess sim;
    // The recorder hangs as the set comes in, and is restarted.
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--freeze-on-set", "60000"}));
    const std::string port = std::to_string(sim.port());
    LinkLoop loop;
    loop.Connect(sim.port());
    ASSERT_TRUE(Wait([&] { return C0()->active == 1; }));

    // Apply on the PPPoE page: on, user "lost".
    memset(gSetupSlots, 0, sizeof gSetupSlots);
    strcpy(gSetupSlots[0], "lost");
    char* slots[SETUP_SLOTS];
    for (uint32_t i = 0; i < SETUP_SLOTS; ++i) slots[i] = gSetupSlots[i];
    const uint32_t choices[2] = {1, 0};
    ASSERT_EQ(Setup_SendPage(0, SETUP_PAGE_PPPOE, choices, 0, slots), SETUP_BUILT);
    ASSERT_TRUE(Wait([&] { return sim.Seen("icmd set mask=2 lost"); }));
    ASSERT_EQ(sim.Stop(SIGKILL), SIGKILL);

    SimProcess again;
    ASSERT_TRUE(again.Start({"--port", port, "--trace"}));
    const auto told = [&] {
        size_t n = 0;
        for (const TVclDialogRequest& r : loop.boxes)
            if (r.Text.rfind("The recorder did not confirm the settings: the link to the recorder was lost", 0) == 0)
                ++n;
        return n;
    };
    bool back = Wait([&] { return told() == 1 && C0()->active == 1 && C0()->session == LastGrant(again); });
    if (!back) Dump(again);
    ASSERT_TRUE(back) << "boxes " << loop.boxes.size();

    // The page entered again: the new recorder's PPPoE item, its start user.
    Setup_PageEntered(0, SETUP_PAGE_PPPOE);
    ASSERT_TRUE(Wait([&] { return std::string(gViewRecords[0].pppoeItem.user) == "user"; }))
        << "the page holds " << gViewRecords[0].pppoeItem.user;
    EXPECT_TRUE(again.Seen("icmd answer op=4 type=4096 mask=2"));
    for (const TVclDialogRequest& r : loop.boxes) EXPECT_NE(r.Text, "Setup Successful.");
    EXPECT_EQ(told(), 1u);
}

} // namespace
