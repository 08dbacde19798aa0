// The key panel's view actions against dvr-sim on loopback: each action's
// request block reaches the recorder with the mode and the next sequence
// number, the recorder's answer leaves the mode alone, and a backup start
// and stop both tell the recorder.
#include "control/View.h"
#include "link/Conn.h"
#include "link/Icmd.h"
#include "media/Backup.h"
#include "media/Hooks.h"
#include "media/Stream.h"
#include "panel/Hooks.h"
#include "tests/support/LinkLoop.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>
#include <string>

namespace {

const uint32_t kCapMs = kWaitLimitMs; // a cap on every wait, never a pace

bool WaitFor(SimProcess& sim, const std::string& prefix, size_t count = 1)
{
    bool ok = Application_ProcessMessagesUntil([&] { return sim.Count(prefix) >= count; }, kCapMs);
    if (!ok)
        for (const std::string& l : sim.lines()) fprintf(stderr, "SIM %s\n", l.c_str());
    return ok;
}

// The sequence numbers of the recorder's trace lines that start with prefix.
std::vector<uint32_t> Sequences(SimProcess& sim, const std::string& prefix)
{
    std::vector<uint32_t> out;
    for (const std::string& l : sim.lines()) {
        if (l.compare(0, prefix.size(), prefix) != 0) continue;
        size_t at = l.find("seq=");
        if (at != std::string::npos) out.push_back((uint32_t)std::stoul(l.substr(at + 4)));
    }
    return out;
}

TEST(ViewEndToEnd, KeyActionsReachTheRecorderInOrder)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--channels", "16"}));
    LinkLoop loop;
    Stream_Init();
    loop.Connect(sim.port());
    TConnection* c = &gConnections[0];
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return c->linkState == LINK_LOGGED_IN && c->active; }, kCapMs));
    TViewRecord* v = c->view;
    // The recorder's answers replace the live block whole, so each action
    // waits for the answer to the one before (the panel may have sent one
    // at the handshake).
    auto settle = [&] {
        size_t answers = sim.Count("icmd answer op=4");
        size_t sent = sim.Count("icmd op=");
        Application_ProcessMessagesFor(300);
        return answers == sim.Count("icmd answer op=4") && sent == sim.Count("icmd op=");
    };
    ASSERT_TRUE(Application_ProcessMessagesUntil(settle, kCapMs));

    View_KeyAction(0, 16, VIEW_LIVE, 1, 5, 0);
    ASSERT_TRUE(WaitFor(sim, "icmd live layout=0 first=0 channel=5 mask=80000020"));
    ASSERT_TRUE(Application_ProcessMessagesUntil(settle, kCapMs));
    EXPECT_EQ(v->liveBlock.liveChannel, 5u);
    View_KeyAction(0, 16, VIEW_LIVE, 1, 21, 0);
    ASSERT_TRUE(WaitFor(sim, "icmd live layout=2 first=9 channel=5 mask=00000000"));
    ASSERT_TRUE(Application_ProcessMessagesUntil(settle, kCapMs));
    std::vector<uint32_t> live = Sequences(sim, "icmd op=2 type=256 mode=0");
    ASSERT_GE(live.size(), 2u);
    EXPECT_EQ(live[live.size() - 1], live[live.size() - 2] + 1);

    // Into Playback: the recorder answers with the block, which leaves the mode.
    View_KeyAction(0, 16, VIEW_PLAYBACK, 3, 3, 0);
    ASSERT_TRUE(WaitFor(sim, "icmd op=2 type=512 mode=1"));
    ASSERT_TRUE(WaitFor(sim, "icmd answer op=4 type=512"));
    ASSERT_TRUE(Application_ProcessMessagesUntil(settle, kCapMs));
    EXPECT_EQ(v->mode, (uint32_t)VIEW_PLAYBACK);
    EXPECT_EQ(v->playbackBlock.playbackChannel, 3u);
    EXPECT_EQ(v->playbackBlock.playbackRun, 1u);
    std::vector<uint32_t> playback = Sequences(sim, "icmd op=2 type=512 mode=1");
    ASSERT_EQ(playback.size(), 1u);
    EXPECT_EQ(playback[0], live.back() + 1);

    // Backup: the marks, a start and a stop, each sent as the backup block.
    View_KeyAction(0, 16, VIEW_BACKUP, 1, 3, 0);
    ASSERT_TRUE(WaitFor(sim, "icmd op=2 type=1024 mode=2"));
    View_SetPlaybackTime(v, 0, 400000000);
    View_SetPlaybackTime(v, 1, 400000600);
    EXPECT_EQ(Backup_StartStop(v, 1, "/nonexistent/view-e2e.mov"), 1);
    ASSERT_TRUE(WaitFor(sim, "icmd op=2 type=1024 mode=2", 2));
    ASSERT_TRUE(Application_ProcessMessagesUntil(settle, kCapMs));
    EXPECT_EQ(v->backupBlock.backupArmed, 1u);
    EXPECT_EQ(Backup_StartStop(v, 0, ""), 0);
    ASSERT_TRUE(WaitFor(sim, "icmd op=2 type=1024 mode=2", 3));
    ASSERT_TRUE(Application_ProcessMessagesUntil(settle, kCapMs));
    EXPECT_EQ(v->backupBlock.backupArmed, 0u);
    EXPECT_EQ(v->backupBlock.backupStart, 400000000u);
    EXPECT_EQ(v->backupBlock.backupEnd, 400000600u);
}

} // namespace
