// The skin-variable table: binds the variable strings of skin elements
// ("IE_DOING#SD") to the panel's program variables. Owns gSkinVariables, the
// panel variables themselves (all process-wide i32 or i32 arrays) and the
// dummy that receives every key the table does not know.
#pragma once
#include <cstdint>

// One row: the whole key (name, '#', kind letters), the variable and the
// number of i32 elements behind it, so every index a skin drives can be
// checked before use.
struct TSkinVariable {
    const char* key;
    int32_t* variable;
    int32_t count;
};

enum {
    SKIN_VARIABLE_ROWS = 106,
    SKIN_IE_PAGE_COUNT = 4,
    SKIN_IE_CH_COUNT = 16,
    SKIN_IE_CH2_COUNT = 8,
    SKIN_IE_PB_BT_EN_COUNT = 4,
    SKIN_IE_DATA_COUNT = 48,
    SKIN_DM_ENTRY_COUNT = 100,
    SKIN_SD_MOUSE_COUNT = 2,
    SKIN_MON_CELL_COUNT = 42,
};

extern const TSkinVariable gSkinVariables[SKIN_VARIABLE_ROWS];

// Key panel: pages, channels, splits, play buttons, backup.
extern int32_t IE_Page[SKIN_IE_PAGE_COUNT]; // -1 hidden, 0 available, 1 current
extern int32_t IE_Page2;                    // current page 0..3, 98 = go to playback
extern int32_t IE_Page3;                    // page refresh request
extern int32_t IE_M_CH;                     // recorder's channel count
extern int32_t IE_DOING;                    // display selection 0..22
extern int32_t IE_CH[SKIN_IE_CH_COUNT];     // channel buttons: -1 hidden, 0, 1 lit
extern int32_t IE_CH2[SKIN_IE_CH2_COUNT];   // split buttons: -1 hidden, 0, 1 lit
extern int32_t IE_CH_Value;                 // current channel button value ("IE_CH#SD")
extern int32_t IE_CH2_Value;                // current split button index ("IE_CH2#SD")
extern int32_t IE_Logo;
extern int32_t IE_PB_PS;  // selected play button 0..3
extern int32_t IE_PB_PS2; // play button request
extern int32_t IE_PB_BT_En[SKIN_IE_PB_BT_EN_COUNT];
extern int32_t IE_SET_T;   // time-mark button request 1..3
extern int32_t IE_Month_T; // time mark being edited, 0 none
extern int32_t IE_OK;
extern int32_t IE_CL;
extern int32_t IE_ST;                       // backup button request
extern int32_t IE_ST2;                      // backup state 0 idle, 1 running, 2 reset
extern int32_t IE_percentage;               // backup progress 0..100
extern int32_t IE_LF;                       // open-movie button request
extern int32_t IE_ST3;                      // half-hour slot request 1..48
extern int32_t IE_Data[SKIN_IE_DATA_COUNT]; // recordings per half-hour slot

// Calendar marks, days and requests (recorder times are kept as i32).
extern int32_t Mon_P_N_T;
extern int32_t Mon_B_F_T;
extern int32_t Mon_B_T_T;
extern int32_t Mon_Day[SKIN_MON_CELL_COUNT];
extern int32_t Mon_Data[SKIN_MON_CELL_COUNT];
extern int32_t Mon_Y;
extern int32_t Mon_M;
extern int32_t Mon_h;
extern int32_t Mon_m2;
extern int32_t Mon_s;
extern int32_t Mon_Time;
extern int32_t Mon_Add;
extern int32_t Mon_Sub;
extern int32_t Day_change;
extern int32_t Mon_Cmd;

// Preset panel.
extern int32_t Dm_Cmd;
extern int32_t Dm_Pre;
extern int32_t Dm_Ch;
extern int32_t Dm_SCh[SKIN_DM_ENTRY_COUNT];
extern int32_t Dm_SPre[SKIN_DM_ENTRY_COUNT];
extern int32_t MOD;
extern int32_t MOD2;
extern int32_t MOD3;
extern int32_t MOD4;
extern int32_t Cent_X;
extern int32_t Cent_Y;
extern int32_t A_Pan;
extern int32_t A_See;
extern int32_t SD_Mouse[SKIN_SD_MOUSE_COUNT]; // {x, y}
extern int32_t SD_Bar;                        // active slider id
extern int32_t SD_IO1;
extern int32_t SD_IO2;
extern int32_t SD_IO3;
extern int32_t SD_IO4;
extern int32_t SD_IO5;
extern int32_t A_Num; // 0 or 50
extern int32_t Sys_State;

// The variable bound to key (whole-string, case-sensitive, first row in
// table order); the shared dummy for any other key, so never null.
int32_t* Skin_FindVariable(const char* key);
// The same lookup; *count receives the number of i32 elements behind the
// result (1 for the dummy). count may be null.
int32_t* Skin_FindVariableSized(const char* key, int32_t* count);
// Element index of a variable of count elements, or null when index lies
// outside 0..count-1 or the variable is null.
int32_t* Skin_VariableAt(int32_t* variable, int32_t count, int64_t index);
// The shared dummy and its element count.
int32_t* Skin_DummyVariable();
// Zeroes every variable of the table and the dummy (tests start from a
// clean panel; the viewer relies on static zero-initialisation instead).
void Skin_ClearVariables();
