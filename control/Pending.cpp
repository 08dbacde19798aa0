// Placeholders for modules that are not built yet; each module replaces
// its own entries here when it arrives.
#include "control/Pending.h"

int Decoder_DecodeFrame(const uint8_t*, uint32_t, uint32_t) { return 0; } // the decoder channels
int32_t gDecodeConnection = 0;                                                // the decoder channels
int32_t gSliceStatus = 0;                                                     // the decoder channels
int Backup_OnFrame(TStreamRecord* stream)                                     // the backup controller: drops the frame
{
    if (stream) stream->heldLength = 0;
    return 0;
}
// Until the backup controller arrives its block is only its state word.
struct TBackupBlock {
    uint32_t state;
};
TBackupBlock gBackupBlock;
int Stream_TakeAudioFrame(TStreamRecord*) { return 1; }                       // the sound output
void LocalPlay_Feed(TStreamRecord*) {}                                        // local-file playback
void LocalPlay_BuildIndex() {}                                                // local-file playback
std::atomic<uint32_t> gAudioAvailable{0};                                     // the speaker icon
int View_IsLocalPlayback(const TConnection*) { return 0; }
void Backup_TimerStep() {}
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
void Watermark_InitKeys() {}
uint32_t gWatermarkRequest = 0;
uint8_t gWatermarkRecord[160];
void Watermark_OnReply(uint32_t) {}
uint32_t gUpnpWord = 0;
void Upnp_WriteDone(uint32_t) {}
void Upnp_ReadDone(uint32_t) {}
void KeyForm_Init(uint32_t, uint32_t, int32_t) {}
void Setup_FillForMachine(THandshakeRecord*) {}
void Title_ShowTab(uint32_t) {}
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
void View_OnLiveBlock(TViewRecord*) {}
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
