// The skin-variable table and the panel variables it binds. Owns
// gSkinVariables (105 rows in their fixed order), every panel variable, the
// skin-only values that only skin elements read and write, and the dummy.
#include "panel/SkinVars.h"
#include <cstring>

int32_t IE_Page[SKIN_IE_PAGE_COUNT];
int32_t IE_Page2;
int32_t IE_Page3;
int32_t IE_M_CH;
int32_t IE_DOING;
int32_t IE_CH[SKIN_IE_CH_COUNT];
int32_t IE_CH2[SKIN_IE_CH2_COUNT];
int32_t IE_CH_Value;
int32_t IE_CH2_Value;
int32_t IE_Logo;
int32_t IE_PB_PS;
int32_t IE_PB_PS2;
int32_t IE_PB_BT_En[SKIN_IE_PB_BT_EN_COUNT];
int32_t IE_SET_T;
int32_t IE_Month_T;
int32_t IE_OK;
int32_t IE_CL;
int32_t IE_ST;
int32_t IE_ST2;
int32_t IE_percentage;
int32_t IE_LF;
int32_t IE_ST3;
int32_t IE_Data[SKIN_IE_DATA_COUNT];

int32_t Mon_P_N_T;
int32_t Mon_B_F_T;
int32_t Mon_B_T_T;
int32_t Mon_Day[SKIN_MON_CELL_COUNT];
int32_t Mon_Data[SKIN_MON_CELL_COUNT];
int32_t Mon_Y;
int32_t Mon_M;
int32_t Mon_h;
int32_t Mon_m2;
int32_t Mon_s;
int32_t Mon_Time;
int32_t Mon_Add;
int32_t Mon_Sub;
int32_t Day_change;
int32_t Mon_Cmd;

int32_t Dm_Cmd;
int32_t Dm_Pre;
int32_t Dm_Ch;
int32_t Dm_SCh[SKIN_DM_ENTRY_COUNT];
int32_t Dm_SPre[SKIN_DM_ENTRY_COUNT];
int32_t MOD;
int32_t MOD2;
int32_t MOD3;
int32_t MOD4;
int32_t Cent_X;
int32_t Cent_Y;
int32_t A_Pan;
int32_t A_See;
int32_t SD_Mouse[SKIN_SD_MOUSE_COUNT];
int32_t SD_Bar;
int32_t SD_IO1;
int32_t SD_IO2;
int32_t SD_IO3;
int32_t SD_IO4;
int32_t SD_IO5;
int32_t A_Num;
int32_t Sys_State;

// Values that only skin elements use: one element writes them on a press,
// others show them. The key list and the IO list run in parallel; the key
// counterpart of IO_Menu has no key and is left out.
static int32_t sMonHHMMSS;
static int32_t sMonPos[2];
static int32_t sMonHMSC;
static int32_t sMotionC;
static int32_t sScheduleC;
static int32_t sAlarmEn[256];
static int32_t sAlarmEnPos;
static int32_t sAlmOEn[40];
static int32_t sChannels[16];
static int32_t sChannelIndex;
static int32_t sRecord[16];
static int32_t sKeys[15];
static int32_t sIo[16];
static int32_t sKeyTag;
static int32_t sKeyCode;

static int32_t sDummy;

#define ONE(v) &(v), 1
#define ARR(a) (a), (int32_t)(sizeof(a) / sizeof((a)[0]))

const TSkinVariable gSkinVariables[SKIN_VARIABLE_ROWS] = {
    {"IE_Page#ADN", ARR(IE_Page)},
    {"IE_Page2#SD", ONE(IE_Page2)},
    {"IE_Page3#SD", ONE(IE_Page3)},
    {"IE_M_CH#SD", ONE(IE_M_CH)},
    {"IE_DOING#SD", ONE(IE_DOING)},
    {"IE_CH#ADN", ARR(IE_CH)},
    {"IE_CH2#ADN", ARR(IE_CH2)},
    {"IE_CH#SD", ONE(IE_CH_Value)},
    {"IE_CH2#SD", ONE(IE_CH2_Value)},
    {"IE_Logo#SD", ONE(IE_Logo)},
    {"IE_PB_PS#SD", ONE(IE_PB_PS)},
    {"IE_PB_PS2#SD", ONE(IE_PB_PS2)},
    {"IE_PB_BT_En#ADN", ARR(IE_PB_BT_En)},
    {"IE_SET_T#SD", ONE(IE_SET_T)},
    {"IE_Month_T#SD", ONE(IE_Month_T)},
    {"IE_OK#SD", ONE(IE_OK)},
    {"IE_CL#SD", ONE(IE_CL)},
    {"IE_ST#SD", ONE(IE_ST)},
    {"IE_ST2#SD", ONE(IE_ST2)},
    {"IE_percentage#SD", ONE(IE_percentage)},
    {"IE_LF#SD", ONE(IE_LF)},
    {"Mon_P_N_T#SD", ONE(Mon_P_N_T)},
    {"Mon_B_F_T#SD", ONE(Mon_B_F_T)},
    {"Mon_B_T_T#SD", ONE(Mon_B_T_T)},
    {"IE_Data#ADN", ARR(IE_Data)},
    {"IE_ST3#SD", ONE(IE_ST3)},
    {"Dm_Cmd#SD", ONE(Dm_Cmd)},
    {"Dm_Pre#SD", ONE(Dm_Pre)},
    {"Dm_Ch#SD", ONE(Dm_Ch)},
    {"Dm_SCh#AD", ARR(Dm_SCh)},
    {"Dm_SPre#ADN", ARR(Dm_SPre)},
    {"Dm_SPre#AD", ARR(Dm_SPre)},
    {"MOD#SDZ", ONE(MOD)},
    {"MOD#SD", ONE(MOD)},
    {"MOD2#SD", ONE(MOD2)},
    {"MOD3#SD", ONE(MOD3)},
    {"MOD4#SD", ONE(MOD4)},
    {"Cent_X#SDX", ONE(Cent_X)},
    {"Cent_Y#SDY", ONE(Cent_Y)},
    {"A_Pan#SD", ONE(A_Pan)},
    {"A_See#SD", ONE(A_See)},
    {"SD_Mouse#SD", ARR(SD_Mouse)},
    {"SD_Bar#SD", ONE(SD_Bar)},
    {"SD_IO1#SDC", ONE(SD_IO1)},
    {"SD_IO2#SDC", ONE(SD_IO2)},
    {"SD_IO3#SDC", ONE(SD_IO3)},
    {"SD_IO4#SDC", ONE(SD_IO4)},
    {"SD_IO5#SDC", ONE(SD_IO5)},
    {"A_Num#SD", ONE(A_Num)},
    {"Mon_Day#AD", ARR(Mon_Day)},
    {"Mon_Data#AD", ARR(Mon_Data)},
    {"Mon_Y#SD", ONE(Mon_Y)},
    {"Mon_M#SD", ONE(Mon_M)},
    {"Mon_h#SD", ONE(Mon_h)},
    {"Mon_m2#SD", ONE(Mon_m2)},
    {"Mon_s#SD", ONE(Mon_s)},
    {"Mon_Time#SD", ONE(Mon_Time)},
    {"Mon_Add#SD", ONE(Mon_Add)},
    {"Mon_Sub#SD", ONE(Mon_Sub)},
    {"Mon_HHMMSS#SD", ONE(sMonHHMMSS)},
    {"Mon_POS#AD", ARR(sMonPos)},
    {"Mon_HMS_C#SD", ONE(sMonHMSC)},
    {"Day_change#SD", ONE(Day_change)},
    {"Mon_Cmd#SD", ONE(Mon_Cmd)},
    {"Motion_C#SD", ONE(sMotionC)},
    {"Schedule_C#SD", ONE(sScheduleC)},
    {"Alarm_En#ADN", ARR(sAlarmEn)},
    {"Alarm_En_Pos#SD", ONE(sAlarmEnPos)},
    {"AlmO_En#AD", ARR(sAlmOEn)},
    {"CH#ADN", ARR(sChannels)},
    {"CH_Idx#SD", ONE(sChannelIndex)},
    {"Record#ADN", ARR(sRecord)},
    {"Sys_State#SDC", ONE(Sys_State)},
    {"Key_Split#SD", ONE(sKeys[0])},
    {"Key_Seq#SD", ONE(sKeys[1])},
    {"Key_FW#SD", ONE(sKeys[2])},
    {"Key_PB#SD", ONE(sKeys[3])},
    {"Key_FF#SD", ONE(sKeys[4])},
    {"Key_List#SD", ONE(sKeys[5])},
    {"Key_Delete#SD", ONE(sKeys[6])},
    {"Key_OSD#SD", ONE(sKeys[7])},
    {"Key_SPreset#SD", ONE(sKeys[8])},
    {"Key_GPreset#SD", ONE(sKeys[9])},
    {"Key_Help#SD", ONE(sKeys[10])},
    {"Key_Freeze#SD", ONE(sKeys[11])},
    {"Key_Capture#SD", ONE(sKeys[12])},
    {"Key_F5#SD", ONE(sKeys[13])},
    {"SPD_Mode#SD", ONE(sKeys[14])},
    {"IO_Split#SDC", ONE(sIo[0])},
    {"IO_Seq#SDC", ONE(sIo[1])},
    {"IO_Menu#SDC", ONE(sIo[2])},
    {"IO_FW#SDC", ONE(sIo[3])},
    {"IO_PB#SDC", ONE(sIo[4])},
    {"IO_FF#SDC", ONE(sIo[5])},
    {"IO_List#SDC", ONE(sIo[6])},
    {"IO_Delete#SDC", ONE(sIo[7])},
    {"IO_OSD#SDC", ONE(sIo[8])},
    {"IO_SPreset#SDC", ONE(sIo[9])},
    {"IO_GPreset#SDC", ONE(sIo[10])},
    {"IO_Help#SDC", ONE(sIo[11])},
    {"IO_Freeze#SDC", ONE(sIo[12])},
    {"IO_Capture#SDC", ONE(sIo[13])},
    {"IO_F5#SDC", ONE(sIo[14])},
    {"IO_SPD_Mode#SDC", ONE(sIo[15])},
    {"Key_Tag#SD", ONE(sKeyTag)},
    {"Key_Code#SD", ONE(sKeyCode)},
};

#undef ONE
#undef ARR

int32_t* Skin_FindVariableSized(const char* key, int32_t* count)
{
    if (key) {
        for (int i = 0; i < SKIN_VARIABLE_ROWS; ++i) {
            if (strcmp(gSkinVariables[i].key, key) == 0) {
                if (count) *count = gSkinVariables[i].count;
                return gSkinVariables[i].variable;
            }
        }
    }
    if (count) *count = 1;
    return &sDummy;
}

int32_t* Skin_FindVariable(const char* key) { return Skin_FindVariableSized(key, nullptr); }

int32_t* Skin_VariableAt(int32_t* variable, int32_t count, int64_t index)
{
    if (!variable || index < 0 || index >= count) return nullptr;
    return variable + index;
}

int32_t* Skin_DummyVariable() { return &sDummy; }

void Skin_ClearVariables()
{
    for (int i = 0; i < SKIN_VARIABLE_ROWS; ++i)
        memset(gSkinVariables[i].variable, 0, sizeof(int32_t) * (size_t)gSkinVariables[i].count);
    sDummy = 0;
}
