// The key panel's skin as a file from outside: loaded where the control
// loads it (from memory, standing in for the file in the skin folder),
// composed and drawn into Image1, hit-tested and clicked.
//
// Input: one setup byte, then (setup AND 7) pointer actions of five bytes
// [kind][x u16 LE][y u16 LE] (kind AND 3: 0 move, 1 press, 2 release,
// 3 click), then the skin file.
//   setup bits 3-4 the recorder's channels (4, 8, 16, 16),
//         bits 5-6 the page the key panel starts on (0 Live .. 3 Setup).
#include "fuzz/FuzzRig.h"
#include "control/Version.h"
#include "link/Bytes.h"
#include "link/Hooks.h"
#include "panel/Ie_com.h"
#include "panel/Yuv2.h"
#include <cstdio>

namespace {

char gSkinName[64];

void Act(uint32_t kind, int32_t x, int32_t y)
{
    switch (kind & 3) {
    case 0: Yuv2_PanelMouseMove(x, y); break;
    case 1: Yuv2_PanelMouseDown(x, y); break;
    case 2: Yuv2_PanelMouseUp(x, y); break;
    default:
        Yuv2_PanelMouseDown(x, y);
        Yuv2_RepeatTick();
        Yuv2_PanelMouseUp(x, y);
        break;
    }
    Yuv2_RepeatTick();
    Yuv2_Redraw(gMouseDown);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Rig_Start();
    snprintf(gSkinName, sizeof gSkinName, "TavlinKeyForm_%s.YUV2", gVersionText);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    static const uint32_t kChannels[4] = {4, 8, 16, 16};
    uint8_t setup = data[0];
    uint32_t actions = setup & 7;
    size_t at = 1;
    if (size - at < actions * 5u) return 0;
    const uint8_t* script = data + at;
    at += actions * 5u;

    // The panel as the start-up leaves it, with no skin yet.
    Rig_Between();
    Yuv2_ResetSkins();
    Yuv2_ResetMouse();
    IeCom_Init();
    gLastDrawn[0] = gLastDrawn[1] = -2;
    KeyForm_Init(kChannels[(setup >> 3) & 3], 0, (setup >> 5) & 3);

    Yuv2_SetSkinMemory(gSkinName, data + at, (uint32_t)(size - at));
    if (Yuv2_LoadSkin(0, 3, 0, gSkinName) == 0) {
        Yuv2_Redraw(1);
        for (uint32_t i = 0; i < actions; ++i) {
            const uint8_t* a = script + 5 * i;
            Act(a[0], (int16_t)GetU16(a + 1), (int16_t)GetU16(a + 3));
        }
    }
    Yuv2_SetSkinMemory(nullptr, nullptr, 0);
    Rig_End();
    return 0;
}
