// A start-up that stops at "Decode_File Err" (no H.264 decoder could be
// opened): the control still runs its main loop and the page still gives
// it a recorder; every later tick, socket poll and mouse event must stay
// harmless, although the connections, modules, streams and panels after
// the decoders never started. And a whole start-up to the first live
// picture marks each of its milestones, in the order a user waits for them.
#include "control/Properties.h"
#include "control/TavlinImpl1.h"
#include "link/Conn.h"
#include "media/Decoder.h"
#include "platform/vcl/Vcl.h"
#include "platform/win/Win.h"
#include "tests/support/LinkLoop.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

void StartWithoutDecoder(uint16_t port)
{
    Decoder_RefuseOpen(1);
    TTavlinX* form = TavlinX_CreateForm();
    if (!form || form->Label_time->Caption() != "Decode_File Err") exit(3);
    const std::string text = std::to_string(port);
    PutText(PROP_DVRIP, "127.0.0.1");
    PutText(PROP_HTTP_PORT, text.c_str());
    PutText(PROP_DVR_UK, "9.1234.5678");
    // Ticks, socket events, a mouse sweep over the key panel and the video.
    for (int i = 0; i < 10; i++) {
        Application_ProcessMessagesFor(100);
        form->Image1MouseDown(nullptr, mbLeft, TShiftState(), 30 + 25 * i, 90);
        form->Image1MouseMove(nullptr, TShiftState(), 30 + 25 * i, 100);
        form->Image1MouseUp(nullptr, mbLeft, TShiftState(), 30 + 25 * i, 90);
    }
    exit(form->Label_time->Caption() == "Decode_File Err" ? 0 : 4);
}

TEST(StartupE2E, TicksStayHarmlessAfterTheDecoderFailed)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
    EXPECT_EXIT(StartWithoutDecoder(sim.port()), ::testing::ExitedWithCode(0), "");
    // The connections were never set up, so the viewer stays off the
    // recorder instead of talking to it with half its modules.
    sim.Collect(200);
    EXPECT_FALSE(sim.Seen("accept client"));
}

// The order of each milestone's first mark (1, 2, ...), 0 while unmarked.
int gMarkOrder[MILESTONE_COUNT];
int gMarks = 0;

void OnMilestone(int m)
{
    if (m >= 0 && m < MILESTONE_COUNT && gMarkOrder[m] == 0) gMarkOrder[m] = ++gMarks;
}

// Exit code 0 when every milestone was marked, first in the order below
// (fonts come while the form is built); 2 + the first out of order, 20
// when no picture was drawn.
void StartToFirstPicture(uint16_t port)
{
    Win_SetMilestoneSink(OnMilestone);
    TTavlinX* form = TavlinX_CreateForm();
    if (!form) exit(3);
    const std::string text = std::to_string(port);
    PutText(PROP_DVRIP, "127.0.0.1");
    PutText(PROP_HTTP_PORT, text.c_str());
    PutText(PROP_DVR_UK, "9.1234.5678");
    bool drawn = Application_ProcessMessagesUntil([] { return gMarkOrder[MILESTONE_PICTURE_DRAWN] != 0; }, 60000);
    if (!drawn) exit(20);
    const int order[] = {MILESTONE_FONTS_READY,   MILESTONE_FORM_BUILT,     MILESTONE_SKINS_LOADED,
                         MILESTONE_CONNECTED,     MILESTONE_LOGIN_GRANTED,  MILESTONE_HANDSHAKE_DONE,
                         MILESTONE_VIDEO_REQUEST, MILESTONE_FRAME_RECEIVED, MILESTONE_PICTURE_DECODED,
                         MILESTONE_PICTURE_DRAWN};
    static_assert(sizeof order / sizeof order[0] == MILESTONE_COUNT, "every milestone has its place");
    for (int i = 0; i < MILESTONE_COUNT; i++)
        if (gMarkOrder[order[i]] != i + 1) exit(2 + i);
    exit(0);
}

TEST(StartupE2E, MilestonesMarkTheWayToTheFirstPicture)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0"}));
    EXPECT_EXIT(StartToFirstPicture(sim.port()), ::testing::ExitedWithCode(0), "");
}

} // namespace
