// The key panel's logic: turns the variables that skin presses write into
// consistent button states for the recorder's channel count and the user's
// page rights, and sends the resulting selection to the view code. Also
// the start-up of all panels and the preset panel. Owns gSelection, the
// saved displays of the live and playback pages and the packed preset table.
#pragma once
#include <cstdint>

// The three bytes the view code receives.
struct TKeySelection {
    int8_t display; // 0-15 one channel, 16-22 a split
    int8_t page;    // page code 0-3
    int8_t play;    // play button 0-3
};

enum {
    KEY_DISPLAY_FIRST_SPLIT = 16, // channels 1-4
    KEY_DISPLAY_ALL = 22,         // all 16
    KEY_PAGE_LIVE = 0,
    KEY_PAGE_PLAYBACK = 1,
    KEY_PAGE_BACKUP = 2,
    KEY_PAGE_SETUP = 3,
    KEY_PAGE_GO_PLAYBACK = 98, // a request from the calendar that becomes 1
};

// Packed preset table: 100 entries (channel & 63 | preset << 6), the magic
// 55 66 77 33, the two slider values + 1, the second slider's position and
// a model code per channel.
enum {
    PRESET_ENTRIES = 100,
    PRESET_MAGIC_AT = 100,
    PRESET_SLIDERS_AT = 104,
    PRESET_POSITION_AT = 106,
    PRESET_MODELS_AT = 108,
    PRESET_MODEL_COUNT = 16,
    PRESET_TABLE_SIZE = 108 + 2 * 16,
};

extern TKeySelection gSelection;
extern int32_t gPrevPage;
extern int32_t gSavedLiveDisplay;
extern int32_t gSavedPlaybackDisplay;
extern uint8_t gPresetTable[PRESET_TABLE_SIZE];
extern int32_t gPresetPan, gPresetTilt, gPresetPtzState;

// Panel start-up: skin entries free, preset table, calendar, key panel state.
void IeCom_Init();
// KeyForm_Init, which the handshake calls: link/Hooks.h.
// The recorder reports its live layout (kind), first channel and channel;
// values outside the recorder's channels are ignored.
void KeyForm_SelectDisplay(int32_t kind, int32_t first, int32_t channel);
// After every press: consistent buttons, then the selection to the view
// code unless noSend.
void KeyForm_Update(uint32_t noSend);
void KeyForm_ResetState();
void KeyForm_SyncPage();
void KeyForm_MouseEvent(int32_t code, int32_t x, int32_t y);
// 0 start, 1 stop, 2 reset; 1, or for a start whether it started.
int32_t KeyForm_BackupControl(int32_t op);
void KeyForm_SendSelection();
void KeyForm_SetPage(int32_t display, int32_t page);
void KeyForm_SetPlayButton(int32_t n);

void Preset_InitTable();
void Preset_SyncChannel();
void Preset_SetIoButtons();
void Preset_MouseEvent(int32_t code, int32_t x, int32_t y);
void Preset_Update();
void Preset_CommandHook(int32_t code, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t display,
                        int32_t value, int32_t preset, int32_t direction);
