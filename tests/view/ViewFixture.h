// The view records over the link fixture: the command module registered,
// both stream records linked, a clean key panel and backup block, and
// readers of the request blocks the view queues.
#pragma once
#include "../link/ModuleFixture.h"
#include "control/View.h"
#include "media/Hooks.h"
#include "panel/Hooks.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include "panel/SkinVars.h"
#include "media/Backup.h"
#include "media/LocalPlay.h"
#include "panel/Yuv2.h"

class ViewTest : public ModuleTest {
protected:
    static constexpr uint32_t kSession = 0x1111;

    void SetUp() override
    {
        ModuleTest::SetUp();
        C(0)->active = 1;
        Vido_Init();
        Stream_Init();
        Skin_ClearVariables();
        memset(&gBackupBlock, 0, sizeof gBackupBlock);
        gBackupSizeOffset = 77;
        gBackupPartCount = 3;
        gLocalFile.playState = 1;
        gPanelLevel = 1;
        gLastDrawn[0] = gLastDrawn[1] = 5;
        S()->displayTime = 0;
        S()->connection = C(0);
        C(0)->stream = S();
        Queued(0);
    }

    TViewRecord* V() { return &gViewRecords[0]; }
    TStreamRecord* S() { return &gStreamRecords[0]; }

    // Marks every channel slot as running, so a reset shows.
    void RunAllChannels()
    {
        for (TChannelState& ch : S()->channels) ch.keyWait = 0;
    }
    std::vector<uint32_t> WaitingSlots()
    {
        std::vector<uint32_t> out;
        for (uint32_t i = 0; i < STREAM_CHANNELS; ++i)
            if (S()->channels[i].keyWait) out.push_back(i);
        return out;
    }

    // The one message queued since the last look; empty when none or more.
    Bytes OnlyQueued()
    {
        std::vector<Bytes> q = Queued(0);
        EXPECT_EQ(q.size(), 1u);
        return q.size() == 1 ? q[0] : Bytes();
    }

    // Puts the view in mode m without the side effects of a change.
    void Force(uint32_t m) { V()->mode = m; }
};
