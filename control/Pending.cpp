// Placeholders for modules that are not built yet; each module replaces
// its own entries here when it arrives.
#include "control/Pending.h"

void Vido_DeliverInOrder(TConnection*) {}
void Vido_Send(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
int Vido_Init() { return 0; }
void Stream_RegisterDisplays(TConnection*) {}
int Stream_Init() { return 0; }
void Stream_TimerStep() {}
int View_IsLocalPlayback(const TConnection*) { return 0; }
void Backup_TimerStep() {}
void System_ShowAddress(const char*, const char*) {}
void Setup_RefreshPages() {}
void Setup_ClearEdits(uint32_t) {}
void Setup_ApplyPage(int) {}
// Until the title module arrives its state is just the request flag; its
// existence is what lets the socket poll run the send pump.
struct TTitleState {
    uint32_t requestFlag;
};
static TTitleState gTitleStates[CONN_COUNT];
uint32_t Title_TakeRequestFlag(TTitleState* title)
{
    uint32_t flag = title->requestFlag;
    title->requestFlag = 0;
    return flag;
}
void Title_SendRequest(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
int Title_Init()
{
    for (uint32_t i = 0; i < CONN_COUNT; i++) gConnections[i].vdtt = &gTitleStates[i];
    return 0;
}
void Title_TimerStep(uint32_t, uint32_t) {}
int Pbba_Init() { return 0; }
void Calendar_TimerStep() {}
int Handshake_Init() { return 0; }
int Icmd_Init() { return 0; }
int Ictl_Init() { return 0; }
int Ictl_RegisterTavnVariables() { return 0; }
void Watermark_InitKeys() {}
void Video_PrepareImage() {}
int Decoder_OpenChannel(uint32_t) { return 0; }
uint32_t gDecoderChannel = 0;
int FrameBuf_Init(uint32_t, uint32_t) { return 0; }
void IeCom_Init() {}
int Yuv2_LoadSkin(uint32_t, uint32_t, uint32_t, const char*) { return -1; }
void Yuv2_RepeatTick() {}
void Yuv2_Redraw(uint32_t) {}
uint32_t gMouseDown = 0;
int32_t gLastDrawn[2] = {-2, -2};
void Speaker_Reset() {}
void Speaker_TimerStep() {}
void Audio_StartThread() {}
void Audio_StopForUnload() {}
