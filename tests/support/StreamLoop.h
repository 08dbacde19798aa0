// The link's loop with the frame stream module and the stream step added,
// as the viewer's start-up and main loop run them: each 10 ms tick runs the
// receive step, the socket poll and the stream step, and the stream step
// hands its frames to the test's decode and backup hand-offs.
#pragma once
#include "media/Stream.h"
#include "media/Vido.h"
#include "tests/support/LinkLoop.h"

struct FrameStreamLoop : LinkLoop {
    FrameStreamLoop(TStreamDecode decode, TStreamBackup backup)
    {
        Vido_Init();
        Stream_Init();
        Stream_SetHandOffs(decode, backup);
        timer->OnTimer = [this](TObject*) {
            timer->SetEnabled(false);
            Session_ReceiveStep();
            Session_PollSockets();
            Stream_Pump();
            timer->SetEnabled(true);
        };
    }
    ~FrameStreamLoop() { Stream_SetHandOffs(nullptr, nullptr); }
};
