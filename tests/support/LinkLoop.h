// The link's share of the viewer's start-up and main loop for end-to-end
// tests against dvr-sim: the modules started as Viewer_Init starts them,
// a 10 ms tick running the receive step and the socket poll, and message
// boxes answered by a hook that records them.
#pragma once
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
#include "panel/SkinVars.h"
#include "platform/vcl/Dialogs.h"
#include "control/Title.h"
#include "panel/Ie_com.h"
#include "tests/support/ModuleReset.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

inline void PutText(int property, const char* text)
{
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(Variant_SetText(&v, text), S_OK);
    ASSERT_EQ(Property_Put(property, v), S_OK);
    VariantClear(&v);
}

// The link's share of the viewer's start-up and main loop, ticking every
// 10 ms, with message boxes answered by a hook that records them.
struct LinkLoop {
    TComponent owner{nullptr};
    TTimer* timer = nullptr;
    std::vector<TVclDialogRequest> boxes;

    LinkLoop()
    {
        Msg_ResetRegistry();
        Viewer_ShowUpnpTab(0);
        Session_CreateSockets(&owner);
        Handshake_Init();
        Icmd_Init();
        Title_Init();
        Ictl_Init();
        Ictl_RegisterTavnVariables();
        // Whatever an earlier test of the process left, back to start-up.
        Modules_ResetAll();
        // A fresh key panel, which the handshake sets up and sends; it asks
        // for channel 1 alone, as the recorder streams before any request.
        IeCom_Init();
        IE_DOING = gSavedLiveDisplay = 0;
        Vcl_SetDialogHook([this](TVclDialogRequest& r) {
            boxes.push_back(r);
            return IDOK;
        });
        timer = new TTimer(&owner);
        timer->SetInterval(10);
        timer->OnTimer = [this](TObject*) {
            timer->SetEnabled(false);
            Session_ReceiveStep();
            Session_PollSockets();
            timer->SetEnabled(true);
        };
    }
    ~LinkLoop()
    {
        Vcl_SetDialogHook(nullptr);
        for (TConnection& c : gConnections) c.socket[0] = c.socket[1] = nullptr;
    }
    void Connect(uint16_t port)
    {
        const std::string text = std::to_string(port);
        PutText(PROP_DVRIP, "127.0.0.1");
        PutText(PROP_HTTP_PORT, text.c_str());
        PutText(PROP_DVR_UK, "5F3A1B2C.1234.5678");
    }
};
