// The link against dvr-sim on loopback: it connects, logs in, keeps its
// session polling, and logs in again after the recorder went away.
#include "control/Properties.h"
#include "control/Session.h"
#include "link/Conn.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "tests/support/LinkLoop.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>

namespace {

uint32_t GrantedSession(SimProcess& sim)
{
    for (const std::string& l : sim.lines())
        if (l.rfind("grant session=", 0) == 0) return (uint32_t)std::stoul(l.substr(14));
    return 0;
}

TEST(LinkEndToEnd, LogsInPollsAndLogsInAgainAfterTheRecorderRestarts)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
    const std::string port = std::to_string(sim.port());

    LinkLoop loop;
    loop.Connect(sim.port());

    TConnection* c = &gConnections[0];
    bool polled = Application_ProcessMessagesUntil([&] { return sim.Count("poll session=") >= 20; }, kWaitLimitMs);
    if (!polled)
        for (auto& l : sim.lines()) fprintf(stderr, "SIM %s\n", l.c_str());
    ASSERT_TRUE(polled);
    EXPECT_TRUE(sim.Seen("login session=0"));
    uint32_t first = GrantedSession(sim);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(c->session, first);
    EXPECT_EQ(c->linkState, (uint32_t)LINK_LOGGED_IN);
    EXPECT_TRUE(sim.Seen("poll session=" + std::to_string(first)));
    EXPECT_EQ(sim.Count("login"), 1u); // the session is held, not renewed

    // The recorder goes away; the link notices and keeps trying.
    ASSERT_EQ(sim.Stop(), 0 << 8);
    EXPECT_TRUE(Application_ProcessMessagesUntil([&] { return c->linkState != LINK_LOGGED_IN && c->session == 0; },
                                                 kWaitLimitMs))
        << "link state " << c->linkState << ", session " << c->session;

    SimProcess again;
    ASSERT_TRUE(again.Start({"--port", port, "--trace"}));
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return again.Count("poll session=") >= 5; }, kWaitLimitMs));
    EXPECT_TRUE(again.Seen("login session=0"));
    uint32_t second = GrantedSession(again);
    ASSERT_NE(second, 0u);
    EXPECT_EQ(c->session, second);
    EXPECT_EQ(c->linkState, (uint32_t)LINK_LOGGED_IN);
}

} // namespace
