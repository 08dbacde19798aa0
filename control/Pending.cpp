// Placeholders for modules that are not built yet; each module replaces
// its own entries here when it arrives.
#include "control/Pending.h"
#include "link/Tavn.h"
#include "panel/Month.h"
#include "panel/SkinVars.h"
#include "platform/win/Win.h"
#include <ctime>

int Backup_OnFrame(TStreamRecord* stream)                                     // the backup controller: drops the frame
{
    if (stream) stream->heldLength = 0;
    return 0;
}
TBackupBlock gBackupBlock;                                                    // the backup controller
void Backup_SetState(TStreamRecord* stream, uint32_t state)
{
    if (stream && stream->backup) stream->backup->state = state;
}
uint32_t gBackupSizeOffset = 0;
uint32_t gBackupPartCount = 0;
int Backup_ChooseFile() { return 0; }                                         // backup files: none chosen
void Backup_FinishFiles() {}
TLocalFile gLocalFile;                                                        // local-file playback
void LocalPlay_Feed(TStreamRecord*) {}                                        // local-file playback
void LocalPlay_BuildIndex() {}                                                // local-file playback
void Setup_RefreshPages() {}
void Setup_ClearEdits(uint32_t) {}
void Setup_ApplyPage(int page)
{
    if (page == 5) Title_StartUpload(0);
}
int Pbba_Init() { return 0; }
void Calendar_TimerStep() {}
void Watermark_InitKeys() {}
uint32_t gWatermarkRequest = 0;
uint8_t gWatermarkRecord[160];
void Watermark_OnReply(uint32_t) {}
uint32_t gUpnpWord = 0;
void Upnp_WriteDone(uint32_t) {}
void Upnp_ReadDone(uint32_t) {}
void Setup_FillForMachine(THandshakeRecord* handshake)
{
    if (handshake) Title_ShowEdits(handshake->machine.channelCount);
}
// Until the form is wired the tab's visibility is only remembered.
void Setup_BitrateToPage(TViewRecord*) {}
void Setup_PppoeToPage(TViewRecord*) {}
void Setup_DdnsToPage(TViewRecord*) {}
void Setup_MailToPage(TViewRecord*) {}
void Setup_MailIntervalToPage(TViewRecord*) {}
void Setup_EnableBitratePage(TViewRecord*, int) {}
void Setup_EnablePppoePage(TViewRecord*, int) {}
void Setup_EnableDdnsPage(TViewRecord*, int) {}
void Setup_EnableMailPage(TViewRecord*, int) {}
uint32_t Clock_NowNumber() { return 0; }                                    // backup files
// The month calendar: until it arrives a press's calendar requests are
// dropped, so they never hold back the key panel's sends.
// Until the calendar arrives its start-up only shows the current month,
// today selected.
void Month_Init()
{
    time_t now = (time_t)Win_TimeNow();
    struct tm local = {};
    if (const struct tm* lt = localtime(&now)) local = *lt;
    TDateParts d = {(uint16_t)(local.tm_year + 1900), (uint16_t)(local.tm_mon + 1), (uint16_t)local.tm_mday,
                    (uint16_t)local.tm_hour, (uint16_t)local.tm_min, (uint16_t)local.tm_sec};
    uint32_t t = Date_ToSeconds(d);
    Mon_Time = Mon_P_N_T = Mon_B_F_T = (int32_t)t;
    Mon_B_T_T = (int32_t)(t + 5);
    TDateParts shown;
    Date_FromSeconds(t, &shown);
    Mon_Y = shown.year;
    Mon_M = shown.month;
    Mon_h = shown.hour;
    Mon_m2 = shown.minute;
    Mon_s = shown.second;
    TDateParts firstDay = {shown.year, shown.month, 1, 0, 0, 0};
    uint32_t first = Date_ToSeconds(firstDay);
    uint32_t weekday = (first / 86400) % 7;
    uint32_t start = first - (weekday ? weekday : 7) * 86400;
    uint32_t today = t - t % 86400;
    for (int i = 0; i < SKIN_MON_CELL_COUNT; i++) {
        Mon_Day[i] = (int32_t)(start + (uint32_t)i * 86400);
        Mon_Data[i] = (uint32_t)Mon_Day[i] == today ? 4 : 0;
    }
    gPanelPairs[1].value = (int32_t)(t % 86400 / 1800); // the half-hour slot of the time
    gRedrawRequest = REDRAW_SLIDERS;
}
void Month_Update()
{
    Mon_Add = Mon_Sub = IE_ST3 = Mon_Cmd = Day_change = 0;
    IE_OK = IE_CL = 0;
}
void Month_MouseEvent(int32_t, int32_t, int32_t) {}
void Month_ToggleTimeMark(int32_t) { IE_SET_T = 0; }
void Setup_PageEntered(uint32_t connection, int page)
{
    if (page == 5) Title_TabEntered(connection);
}
