// Key panel logic and panel start-up: page rights from the user level,
// channel and split buttons by channel count and display selection, the
// play buttons, the backup button and the preset panel. Presses only write
// panel variables (Yuv2Mouse.cpp); KeyForm_Update makes them consistent and
// hands the selection to View_KeyAction. Owns gSelection, gPrevPage, the
// saved live and playback displays and the packed preset table.
#include "panel/Ie_com.h"
#include "link/Hooks.h"
#include "link/Bytes.h"
#include "link/ViewRecord.h"
#include "media/LocalPlay.h"
#include "media/Stream.h"
#include "link/Conn.h"
#include "panel/Month.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include "panel/Hooks.h"
#include "media/Backup.h"
#include <cstdint>
#include <cstring>

TKeySelection gSelection;
int32_t gPrevPage;
int32_t gSavedLiveDisplay = KEY_DISPLAY_FIRST_SPLIT;
int32_t gSavedPlaybackDisplay;
uint8_t gPresetTable[PRESET_TABLE_SIZE];
int32_t gPresetPan, gPresetTilt, gPresetPtzState;
static int32_t sPreviousMod;

static void Fill(int32_t* a, int32_t n, int32_t v)
{
    for (int32_t i = 0; i < n; ++i) a[i] = v;
}

// Entries first..last (1-based, inclusive) of a button array.
static void FillRange(int32_t* a, int32_t n, int32_t first, int32_t last, int32_t v)
{
    for (int32_t i = first; i <= last; ++i)
        if (i >= 1 && i <= n) a[i - 1] = v;
}

void IeCom_Init()
{
    for (int i = 0; i < SKIN_ENTRY_ROOM; ++i) gSkins[i].x = -1;
    Preset_InitTable();
    Month_Init();
    KeyForm_ResetState();
}

void KeyForm_ResetState()
{
    IE_percentage = 0;
    Fill(IE_Page, SKIN_IE_PAGE_COUNT, -1);
    IE_Page2 = KEY_PAGE_LIVE;
    IE_CH_Value = 0;
    IE_CH2_Value = 0;
    IE_DOING = KEY_DISPLAY_FIRST_SPLIT;
    gSavedLiveDisplay = KEY_DISPLAY_FIRST_SPLIT;
    gSavedPlaybackDisplay = 0;
    Fill(IE_CH, SKIN_IE_CH_COUNT, -1);
    Fill(IE_CH2, SKIN_IE_CH2_COUNT, -1);
    IE_PB_PS = 1;
    Fill(IE_PB_BT_En, SKIN_IE_PB_BT_EN_COUNT, 0);
    IE_PB_BT_En[1] = 1;
}

void KeyForm_Init(uint32_t channels, uint32_t logo, int32_t startMode)
{
    // Page rights from the user level the page's key carries.
    char level[sizeof gConnections[0].userKey + 1];
    memcpy(level, gConnections[0].userKey, sizeof gConnections[0].userKey);
    level[sizeof level - 1] = 0;
    static const int32_t kRights[3][4] = {{1, -1, -1, -1}, {1, 1, 1, -1}, {1, 1, 1, 1}};
    for (int i = 0; i < 3; ++i) {
        const char text[2] = {(char)('7' + i), 0};
        if (strcmp(level, text) == 0) memcpy(IE_Page, kRights[i], sizeof IE_Page);
    }
    IE_M_CH = (int32_t)channels;
    IE_Logo = (int32_t)logo;

    FillRange(IE_CH, SKIN_IE_CH_COUNT, 1, 4, 1);
    FillRange(IE_CH2, SKIN_IE_CH2_COUNT, 1, 1, 1);
    if (channels == 4) {
        FillRange(IE_CH, SKIN_IE_CH_COUNT, 5, 16, -1);
        FillRange(IE_CH2, SKIN_IE_CH2_COUNT, 2, 8, -1);
    } else if (channels == 8) {
        FillRange(IE_CH, SKIN_IE_CH_COUNT, 5, 8, 0);
        FillRange(IE_CH, SKIN_IE_CH_COUNT, 9, 16, -1);
        FillRange(IE_CH2, SKIN_IE_CH2_COUNT, 2, 3, 0);
        FillRange(IE_CH2, SKIN_IE_CH2_COUNT, 4, 7, -1);
        FillRange(IE_CH2, SKIN_IE_CH2_COUNT, 8, 8, 0);
    } else {
        FillRange(IE_CH, SKIN_IE_CH_COUNT, 5, 16, 0);
        FillRange(IE_CH2, SKIN_IE_CH2_COUNT, 2, 7, 0);
        FillRange(IE_CH2, SKIN_IE_CH2_COUNT, 8, 8, -1);
    }

    // A new handshake while a backup runs (the link came back): the page
    // and the view stay as they are, so the backup goes on.
    if (Backup_Active()) {
        Panel_Invalidate();
        Yuv2_Redraw(gMouseDown);
        return;
    }
    IE_PB_PS = 1;
    if (startMode == 1) {
        IE_Page2 = KEY_PAGE_SETUP;
    } else if (startMode == 2) {
        IE_Page2 = KEY_PAGE_PLAYBACK;
        static const int32_t kPlaybackOnly[4] = {-1, 1, 1, -1};
        memcpy(IE_Page, kPlaybackOnly, sizeof IE_Page);
    } else {
        IE_Page2 = KEY_PAGE_LIVE;
    }
    KeyForm_Update(0);
    Panel_Invalidate();
    Yuv2_Redraw(gMouseDown);
}

void KeyForm_SelectDisplay(int32_t kind, int32_t a, int32_t b)
{
    // The recorder's words: only channels the panel has are taken.
    int32_t channels = IE_M_CH > 0 && IE_M_CH < SKIN_IE_CH_COUNT ? IE_M_CH : SKIN_IE_CH_COUNT;
    int32_t display = 0, split = 0;
    switch (kind) {
    case 0:
        if (b < 0 || b >= channels) return;
        display = b;
        break;
    case 1:
        if (a < 0 || a >= channels) return;
        split = a / 4;
        display = a / 4 + KEY_DISPLAY_FIRST_SPLIT;
        break;
    case 2:
        if (IE_M_CH == 8) {
            split = 2;
            display = 18;
        } else if (a != 0) {
            split = 5;
            display = 21;
        } else {
            split = 4;
            display = 20;
        }
        break;
    case 3:
        split = 6;
        display = KEY_DISPLAY_ALL;
        break;
    default: break;
    }
    IE_DOING = display;
    IE_CH_Value = display;
    IE_CH2_Value = split;
    KeyForm_Update(1);
    Panel_Invalidate();
    Yuv2_Redraw(gMouseDown);
}

// Lights the channel buttons of display selection d.
static void LightDisplay(int32_t d)
{
    Fill(IE_CH, SKIN_IE_CH_COUNT, 0);
    if (d >= 0 && d <= 15) {
        if (IE_CH_Value >= 0 && IE_CH_Value < SKIN_IE_CH_COUNT) IE_CH[IE_CH_Value] = 1;
        return;
    }
    switch (d) {
    case 16: FillRange(IE_CH, SKIN_IE_CH_COUNT, 1, 4, 1); break;
    case 17: FillRange(IE_CH, SKIN_IE_CH_COUNT, 5, 8, 1); break;
    case 18:
        if (IE_M_CH == 8) FillRange(IE_CH, SKIN_IE_CH_COUNT, 1, 8, 1);
        else FillRange(IE_CH, SKIN_IE_CH_COUNT, 9, 12, 1);
        break;
    case 19: FillRange(IE_CH, SKIN_IE_CH_COUNT, 13, 16, 1); break;
    case 20: FillRange(IE_CH, SKIN_IE_CH_COUNT, 1, 9, 1); break;
    case 21:
        FillRange(IE_CH, SKIN_IE_CH_COUNT, 10, 16, 1);
        FillRange(IE_CH, SKIN_IE_CH_COUNT, 1, 2, 1);
        break;
    case 22: FillRange(IE_CH, SKIN_IE_CH_COUNT, 1, 16, 1); break;
    default: break;
    }
}

void KeyForm_Update(uint32_t noSend)
{
    if (IE_OK == 1 || IE_CL == 1) return; // a time-mark dialog is being closed

    // The backup button.
    if (IE_ST == 1) {
        int32_t was = IE_ST2;
        if (IE_ST2 == 0) {
            if (KeyForm_BackupControl(0) == 1) {
                IE_ST2 = 1;
                IE_percentage = 0;
                gPanelLevel = PANEL_LEVEL_BUSY;
            }
        } else if (IE_ST2 == 1 || IE_ST2 == 2) {
            gPanelLevel = PANEL_LEVEL_NORMAL;
            KeyForm_BackupControl(IE_ST2);
            IE_ST2 = 0;
        }
        IE_ST = 0;
        if (was != 2) return;
    }

    // The open-movie button: the file dialog, then the movie in mode 4.
    if (IE_LF == 1) {
        IE_LF = 0;
        LocalPlay_Choose();
        return;
    }

    bool requestHandled = false;
    bool changed = gPrevPage != IE_Page2;
    bool goPlayback = false;
    if (changed) {
        IE_PB_PS = 1;
        Fill(IE_PB_BT_En, SKIN_IE_PB_BT_EN_COUNT, 0);
        IE_PB_BT_En[1] = 1;
        if (gPrevPage == KEY_PAGE_LIVE) gSavedLiveDisplay = IE_DOING;
        else if (gPrevPage == KEY_PAGE_PLAYBACK || gPrevPage == KEY_PAGE_BACKUP) gSavedPlaybackDisplay = IE_CH_Value;
        if (IE_Page2 == KEY_PAGE_GO_PLAYBACK) {
            IE_Page2 = KEY_PAGE_PLAYBACK;
            goPlayback = true;
        }
        gPrevPage = IE_Page2;
    }

    for (int32_t i = 0; i < SKIN_IE_PAGE_COUNT; ++i)
        if (IE_Page[i] != -1) IE_Page[i] = 0;
    int32_t page = IE_Page2;
    switch (page) {
    case KEY_PAGE_LIVE:
        if (changed) {
            IE_DOING = IE_CH_Value = gSavedLiveDisplay;
            IE_Month_T = 0;
            KeyForm_SetPlayButton(1);
        }
        Fill(IE_CH2, SKIN_IE_CH2_COUNT, 0);
        if (IE_DOING >= KEY_DISPLAY_FIRST_SPLIT && IE_CH2_Value >= 0 && IE_CH2_Value < SKIN_IE_CH2_COUNT)
            IE_CH2[IE_CH2_Value] = 1;
        IE_Page[0] = 1;
        break;
    case KEY_PAGE_PLAYBACK:
    case KEY_PAGE_BACKUP:
        if (changed) {
            IE_DOING = IE_CH_Value = gSavedPlaybackDisplay;
            IE_Month_T = 0;
            if (page == KEY_PAGE_PLAYBACK && goPlayback) {
                gSelection.page = 2;
                IE_PB_PS = 2;
            } else {
                KeyForm_SetPlayButton(1);
            }
        }
        if (IE_SET_T != 0) {
            Month_ToggleTimeMark(IE_SET_T);
            requestHandled = true;
        }
        if (page == KEY_PAGE_PLAYBACK && IE_PB_PS2 != 0 && !changed && View_IsLocalPlayback(&gConnections[0])) {
            // A movie file plays: the play buttons step through it; play or
            // pause stays lit, as a step leaves it.
            IE_PB_PS2 = 0;
            LocalPlay_PlayButton(IE_PB_PS);
            Fill(IE_PB_BT_En, SKIN_IE_PB_BT_EN_COUNT, 0);
            IE_PB_PS = gLocalFile.playState == 1 ? 3 : 1;
            IE_PB_BT_En[IE_PB_PS] = 1;
            IE_Page[page] = 1;
            gPrevPage = IE_Page2;
            Panel_Invalidate();
            return;
        }
        if (page == KEY_PAGE_PLAYBACK && IE_PB_PS2 != 0) {
            if (IE_Month_T != 0) {
                // Playing while a mark is edited confirms it as the playback time.
                Mon_Add = Mon_Sub = IE_ST3 = 0;
                IE_OK = 1;
                IE_Month_T = 1;
                Month_Update();
            }
            IE_Month_T = 0;
            KeyForm_SetPlayButton(IE_PB_PS);
            requestHandled = true;
        }
        IE_Page[page] = 1;
        break;
    case KEY_PAGE_SETUP:
        if (changed) {
            IE_Month_T = 0;
            KeyForm_SetPlayButton(1);
        }
        Fill(IE_CH, SKIN_IE_CH_COUNT, -1);
        IE_Page[3] = 1;
        break;
    default: break;
    }

    if (page != KEY_PAGE_SETUP) LightDisplay(IE_DOING);

    if (IE_M_CH == 4) {
        FillRange(IE_CH, SKIN_IE_CH_COUNT, 5, 16, -1);
        FillRange(IE_CH2, SKIN_IE_CH2_COUNT, 2, 7, -1);
    } else if (IE_M_CH == 8) {
        FillRange(IE_CH, SKIN_IE_CH_COUNT, 9, 16, -1);
        FillRange(IE_CH2, SKIN_IE_CH2_COUNT, 4, 7, -1);
    }
    IE_CH2[7] = -1;

    if (IE_Page3 != 0) {
        IE_Page3 = 0;
        requestHandled = true;
    }
    gPrevPage = IE_Page2;

    if (noSend == 1) return;
    if (requestHandled && !changed) return;
    if (IE_ST3 != 0 || Mon_Add != 0 || Mon_Sub != 0 || Day_change != 0) return; // calendar work pending
    KeyForm_SetPage(IE_DOING, gPrevPage);
}

void KeyForm_SetPage(int32_t display, int32_t page)
{
    if (page >= 0 && page <= 3) gSelection.page = (int8_t)page;
    gSelection.display = (int8_t)display;
    KeyForm_SendSelection();
}

void KeyForm_SetPlayButton(int32_t n)
{
    Fill(IE_PB_BT_En, SKIN_IE_PB_BT_EN_COUNT, 0);
    if (n >= 0 && n <= 3) {
        IE_PB_BT_En[n] = 1;
        gSelection.play = (int8_t)n;
    }
    KeyForm_SendSelection();
    IE_PB_PS2 = 0;
}

void KeyForm_SendSelection()
{
    if (IE_M_CH == 0) return; // before the handshake
    View_KeyAction(0, (uint32_t)IE_M_CH, gSelection.page, gSelection.play, gSelection.display, 0);
}

void KeyForm_SyncPage() { gPrevPage = IE_Page2; }

void KeyForm_MouseEvent(int32_t, int32_t, int32_t) {}

int32_t KeyForm_BackupControl(int32_t op)
{
    switch (op) {
    case 0:
        View_SetPlaybackTime(&gViewRecords[0], 0, (uint32_t)Mon_B_F_T);
        View_SetPlaybackTime(&gViewRecords[0], 1, (uint32_t)Mon_B_T_T);
        IE_percentage = 0;
        return Backup_Toggle();
    case 1:
        if (TStreamRecord* stream = gConnections[0].stream) {
            if (stream->backup) stream->backup->part = 0; // end with this part
            Backup_SetState(stream, 3);
        }
        IE_percentage = 100;
        Panel_Invalidate();
        return 1;
    case 2:
        IE_percentage = 0;
        Panel_Invalidate();
        return 1;
    default: return 1;
    }
}

// ---- preset panel -------------------------------------------------------------

static int16_t Get16(int at) { return (int16_t)GetU16(gPresetTable + at); }

static void PackTable()
{
    for (int i = 0; i < PRESET_ENTRIES; ++i) gPresetTable[i] = (uint8_t)((Dm_SCh[i] & 63) | ((Dm_SPre[i] & 3) << 6));
    static const uint8_t kMagic[4] = {0x55, 0x66, 0x77, 0x33};
    memcpy(gPresetTable + PRESET_MAGIC_AT, kMagic, sizeof kMagic);
}

void Preset_InitTable()
{
    Fill(Dm_SPre, SKIN_DM_ENTRY_COUNT, 0);
    Fill(Dm_SCh, SKIN_DM_ENTRY_COUNT, 16);
    gPanelPairs[2].position = Get16(PRESET_POSITION_AT);
    uint8_t stored = gPresetTable[PRESET_SLIDERS_AT + 1];
    gPanelPairs[2].value = stored > 0 ? stored - 1 : 0;
    MOD = MOD2 = Dm_Ch = Cent_X = Cent_Y = 0;
    Dm_Cmd = 0;
    gPresetPan = gPresetTilt = gPresetPtzState = 0;
    sPreviousMod = 0;
}

void Preset_SyncChannel() { Dm_Ch = gSelection.display; }

void Preset_SetIoButtons()
{
    static const int32_t kClass[20] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 8, 9, 10, 7, 9, 0, 0, 0, 0, 0, 0};
    int32_t channel = gSelection.display;
    int32_t code = (channel >= 0 && channel < PRESET_MODEL_COUNT) ? Get16(PRESET_MODELS_AT + 2 * channel) : 0;
    int32_t c = (code >= 0 && code < 20) ? kClass[code] : 0;
    int32_t io[4] = {255, 255, 255, 255};
    if (c == 1 || c == 4) {
        io[0] = 15, io[1] = 255, io[2] = 17, io[3] = 18;
    } else if (c == 3 || c == 5 || c == 8 || c == 9) {
        io[0] = 15, io[1] = 16, io[2] = 17, io[3] = 18;
    }
    SD_IO1 = io[0];
    SD_IO2 = io[1];
    SD_IO3 = io[2];
    SD_IO4 = io[3];
    SD_IO5 = 255;
}

void Preset_CommandHook(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {}

static void Hook(int32_t code, int32_t value, int32_t preset, int32_t direction)
{
    Preset_CommandHook(code, 0, 0, 0, 0, 0, gSelection.display, value, preset, direction);
}

// v - 1 for a slider value a press wrote; the lowest i32 stays as it is.
static int32_t LessOne(int32_t v) { return v > INT32_MIN ? v - 1 : v; }

static int32_t Step(int32_t v, int32_t by)
{
    v += by;
    return v < -6 ? -6 : v > 6 ? 6 : v;
}

void Preset_Update()
{
    if (MOD != 0 && MOD == sPreviousMod) MOD = 0; // the mode already current
    if (MOD3 != 0) {
        gHoldActive = 1;
        gHoldCode = 1;
        SD_Bar = 1;
        gPanelPairs[1].value = LessOne(MOD3);
    } else if (MOD4 != 0) {
        gHoldActive = 1;
        gHoldCode = 2;
        SD_Bar = 2;
        gPanelPairs[2].value = LessOne(MOD4);
    } else if (Dm_Cmd != -1) {
        if (gHoldCode == 0 && Dm_Cmd >= 0 && Dm_Cmd < 22) {
            static const int8_t kPan[8] = {-2, -2, 0, 2, 2, 2, 0, -2}, kTilt[8] = {0, 2, 2, 2, 0, -2, -2, -2};
            switch (Dm_Cmd) {
            case 0:
                if (Dm_Ch != 16) {
                    if (IE_Page2 != KEY_PAGE_LIVE || IE_DOING != Dm_Ch) {
                        IE_Page2 = KEY_PAGE_LIVE;
                        IE_DOING = IE_CH_Value = Dm_Ch;
                        KeyForm_Update(0);
                    }
                    Hook(5, MOD, Dm_Pre, 0);
                }
                break;
            case 1: Hook(4, MOD, Dm_Pre, 0); break;
            case 2: Hook(13, MOD, Dm_Pre, 0); break;
            case 4: gPanelLevel = PANEL_LEVEL_BUSY; break;
            case 5: Hook(3, MOD, Dm_Pre, 1); break;
            case 6: Hook(3, MOD, Dm_Pre, -1); break;
            case 15: Hook(gPresetPtzState == 6 ? 0 : 11, MOD, Dm_Pre, 0); break;
            case 16: Hook(gPresetPtzState == 7 ? 0 : 12, MOD, Dm_Pre, 0); break;
            case 17: Hook(9, MOD, Dm_Pre, 0); break;
            case 18: Hook(10, MOD, Dm_Pre, 0); break;
            case 21: A_Num = A_Num == 0 ? 50 : 0; break;
            default:
                if (Dm_Cmd >= 7 && Dm_Cmd <= 14) {
                    gPresetPan = Step(gPresetPan, kPan[Dm_Cmd - 7]);
                    gPresetTilt = Step(gPresetTilt, kTilt[Dm_Cmd - 7]);
                    if (gPresetPtzState != 4) gPresetPtzState = 5;
                }
                break;
            }
            if (Dm_Cmd <= 2) PackTable();
        }
        Dm_Cmd = -1;
    }
    sPreviousMod = MOD;
}

void Preset_MouseEvent(int32_t code, int32_t x, int32_t y)
{
    if (MOD3 != 0 || MOD4 != 0) {
        gRedrawRequest = REDRAW_NOW;
        MOD3 = MOD4 = 0;
    }
    SD_Mouse[0] = x;
    SD_Mouse[1] = y;
    if (code == 1) {
        MOD = 0;
        Hook(0, 0, 0, 0);
    } else if (code == 3) {
        if (gHoldCode == 1 || gHoldCode == 2)
            gPresetTable[PRESET_SLIDERS_AT + gHoldCode - 1] = (uint8_t)((uint32_t)gPanelPairs[gHoldCode].value + 1u);
        gHoldActive = 0;
        gHoldCode = 0;
    } else if (code == 0) {
        if (MOD2 != 0) {
            if (MOD2 == 4) gPanelLevel = PANEL_LEVEL_NORMAL;
            if (MOD2 < 7 || MOD2 > 21) {
                Hook(0, 0, 0, 0);
                gPresetPtzState = 0;
            }
            MOD2 = 0;
        }
        Panel_Invalidate();
    }
}
