// The fuzz rig's promise: before each input every touched module is back
// at its start-up state, so an input gives the same result whatever ran
// before it. Checked on the modules' own records after real seeds.
#include "fuzz/FuzzRig.h"
#include "control/View.h"
#include "link/Conn.h"
#include "link/Tavn.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// What the receive path leaves behind, pointers left out.
struct TSnapshot {
    uint32_t session, linkState, active;
    uint32_t socketState[2];
    TViewRecord view;
    TVidoStatusReport report;
    uint32_t requestWord, frameTaken;
    TVidoReorderQueue queue;
    uint32_t videoWrite, videoRead, audioWrite, audioRead, held;
    TMachineRecord machine;
    uint32_t clientKind;
};

TSnapshot Take()
{
    TSnapshot s;
    memset(&s, 0, sizeof s);
    const TConnection* c = &gConnections[0];
    s.session = c->session;
    s.linkState = c->linkState;
    s.active = c->active;
    s.socketState[0] = c->socketState[0];
    s.socketState[1] = c->socketState[1];
    s.view = gViewRecords[0];
    s.view.connection = nullptr;
    s.report = gVidoStates[0].report;
    s.requestWord = gVidoStates[0].requestWord;
    s.frameTaken = gVidoStates[0].frameTaken;
    s.queue = c->vidoQueue;
    s.videoWrite = gStreamRecords[0].videoRing.writeIndex;
    s.videoRead = gStreamRecords[0].videoRing.readIndex;
    s.audioWrite = gStreamRecords[0].audioRing.writeIndex.load();
    s.audioRead = gStreamRecords[0].audioRing.readIndex.load();
    s.held = gStreamRecords[0].heldLength;
    s.machine = gHandshakeRecords[0].machine;
    s.clientKind = gHandshakeRecords[0].helloAnswer.clientKind;
    return s;
}

std::vector<std::vector<uint8_t>> Seeds()
{
    std::vector<std::string> names;
    if (DIR* d = opendir(FUZZ_CORPUS)) {
        while (dirent* e = readdir(d))
            if (strncmp(e->d_name, "seed-", 5) == 0) names.push_back(std::string(FUZZ_CORPUS) + "/" + e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::vector<uint8_t>> seeds;
    for (const std::string& n : names) {
        std::ifstream in(n, std::ios::binary);
        seeds.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return seeds;
}

class FuzzRig : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        int argc = 0;
        char** argv = nullptr;
        LLVMFuzzerInitialize(&argc, &argv);
    }
};

TEST_F(FuzzRig, EachSetupStartsFromTheSameState)
{
    struct Case {
        const char* what;
        TRigSetup setup;
        uint32_t linkState, session, socket1;
    } cases[] = {
        {"idle: the login is in flight", {false, 0, 1, 4, false}, LINK_LOGIN_SENT, 0, SOCK_IDLE},
        {"logged in, Live, one socket", {true, 0, 1, 16, false}, LINK_LOGGED_IN, RIG_SESSION, SOCK_IDLE},
        {"logged in, Playback, two sockets", {true, 1, 2, 8, true}, LINK_LOGGED_IN, RIG_SESSION, SOCK_OPENING},
        {"logged in, Setup", {true, 3, 1, 4, false}, LINK_LOGGED_IN, RIG_SESSION, SOCK_IDLE},
    };
    std::vector<std::vector<uint8_t>> seeds = Seeds();
    ASSERT_FALSE(seeds.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig_Begin(c.setup);
        TSnapshot first = Take();
        EXPECT_EQ(first.linkState, c.linkState);
        EXPECT_EQ(first.session, c.session);
        EXPECT_EQ(first.socketState[1], c.socket1);
        EXPECT_EQ(first.view.mode, c.setup.loggedIn ? c.setup.mode : (uint32_t)VIEW_LIVE);
        EXPECT_EQ(first.report.freeSpace, (uint32_t)VIDO_FREE_START);
        EXPECT_EQ(first.queue.queuedCount, 0u);
        EXPECT_EQ(first.videoWrite, 0u);
        EXPECT_EQ(first.held, 0u);
        // Whatever the seeds did, the next start is the same.
        for (const std::vector<uint8_t>& seed : seeds) LLVMFuzzerTestOneInput(seed.data(), seed.size());
        Rig_Begin(c.setup);
        TSnapshot again = Take();
        EXPECT_EQ(memcmp(&first, &again, sizeof first), 0);
    }
}

TEST_F(FuzzRig, AnInputGivesTheSameResultWhateverRanBefore)
{
    std::vector<std::vector<uint8_t>> seeds = Seeds();
    ASSERT_GE(seeds.size(), 2u);
    size_t checked = 0, changed = 0;
    for (size_t i = 0; i < seeds.size(); i += 7) {
        const std::vector<uint8_t>& seed = seeds[i];
        const std::vector<uint8_t>& other = seeds[(i + seeds.size() / 2) % seeds.size()];
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
        TSnapshot alone = Take();
        TRigSetup same = {(seed[0] & 4) != 0, seed[0] & 3u, (seed[0] & 8) ? 2u : 1u, 16, (seed[0] & 0x80) != 0};
        Rig_Begin(same);
        TSnapshot start = Take();
        if (memcmp(&alone, &start, sizeof alone) != 0) ++changed;
        LLVMFuzzerTestOneInput(other.data(), other.size());
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
        TSnapshot after = Take();
        EXPECT_EQ(memcmp(&alone, &after, sizeof alone), 0) << "seed " << i;
        ++checked;
    }
    EXPECT_GT(checked, 0u);
    EXPECT_GT(changed, checked / 2) << "the seeds should leave the link somewhere else than where it started";
}

} // namespace
