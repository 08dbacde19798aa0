// Steps of modules that are not built yet, called by the viewer shell.
// Each does nothing until its module takes it over.
#pragma once
#include <atomic>
#include <cstdint>
#include "link/Conn.h"

// The frame stream module and the streams are built: the shell's calls
// into them (Vido_Init, Vido_DeliverInOrder, Vido_Send, Stream_Init,
// Stream_RegisterDisplays, Stream_TimerStep, Vido_StoreRequestWord) are
// declared there.
#include "media/Stream.h"
#include "media/Vido.h"
// What the stream step hands on, until the modules arrive:
// the decoder channels take one access unit ("avc1" framing) on a channel
int Decoder_DecodeFrame(const uint8_t* buffer, uint32_t length, uint32_t channel);
// the connection whose stream is being decoded, set before each decode
extern int32_t gDecodeConnection;
// -1 after a slice failed to decode; the stream step puts it back to 0
extern int32_t gSliceStatus;
// the backup controller takes each held frame in Backup mode (1: no more this tick)
int Backup_OnFrame(TStreamRecord* stream);
// the backup block both stream records share
extern TBackupBlock gBackupBlock;
// the stream step takes audio frames for the backup writer in Backup mode (not 0: stop)
int Stream_TakeAudioFrame(TStreamRecord* stream);
// local-file playback: the feed step per stream and the index step per tick
void LocalPlay_Feed(TStreamRecord* stream);
void LocalPlay_BuildIndex();
// 1 once audio was stored outside Backup mode (the speaker icon may show); read by both threads
extern std::atomic<uint32_t> gAudioAvailable;
// view modes
int View_IsLocalPlayback(const TConnection* c);
void Backup_TimerStep();
// setup pages
void System_ShowAddress(const char* address, const char* port);
void Setup_RefreshPages();
void Setup_ClearEdits(uint32_t which);
void Setup_ApplyPage(int page);
// titles
uint32_t Title_TakeRequestFlag(TTitleState* title);
void Title_SendRequest(uint32_t session, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e);
int Title_Init();
void Title_TimerStep(uint32_t a, uint32_t b);
// recording search, calendar
int Pbba_Init();
void Calendar_TimerStep();
// watermark: the request buffer (the backup channel) and the 160-byte
// record the recorder fills, both named shared variables
void Watermark_InitKeys();
extern uint32_t gWatermarkRequest;
extern uint8_t gWatermarkRecord[160];
void Watermark_OnReply(uint32_t session);
// UPnP page: the word both UPnP variables share and their handlers
extern uint32_t gUpnpWord;
void Upnp_WriteDone(uint32_t session);
void Upnp_ReadDone(uint32_t session);
// What the recorder's machine record sets up: the key panel (channels 4, 8
// or 16, model variant, the page's start mode), the setup pages and the
// Title tab (shown when the flag is not 0).
void KeyForm_Init(uint32_t channels, uint32_t variant, int32_t startMode);
void Setup_FillForMachine(THandshakeRecord* handshake);
void Title_ShowTab(uint32_t flag);
// The UPnP tab (TabSheet7) shown (1) or hidden (0), and whether it shows.
void Viewer_ShowUpnpTab(int visible);
int Viewer_UpnpTabVisible();
// Setup items: show the view record's item on its page; enable (1) or
// grey (0) the page.
void Setup_BitrateToPage(TViewRecord* view);
void Setup_PppoeToPage(TViewRecord* view);
void Setup_DdnsToPage(TViewRecord* view);
void Setup_MailToPage(TViewRecord* view);
void Setup_MailIntervalToPage(TViewRecord* view);
void Setup_EnableBitratePage(TViewRecord* view, int on);
void Setup_EnablePppoePage(TViewRecord* view, int on);
void Setup_EnableDdnsPage(TViewRecord* view, int on);
void Setup_EnableMailPage(TViewRecord* view, int on);
// A live block from the recorder while in Live: its layout and channel
// words go to the key panel.
void View_OnLiveBlock(TViewRecord* view);
// decoding and display
void Video_PrepareImage();
int Decoder_OpenChannel(uint32_t channel);
extern uint32_t gDecoderChannel;
int FrameBuf_Init(uint32_t width, uint32_t height);
// key panel
void IeCom_Init();
int Yuv2_LoadSkin(uint32_t slot, uint32_t kind, uint32_t flags, const char* name);
void Yuv2_RepeatTick();
void Yuv2_Redraw(uint32_t mouseDown);
extern uint32_t gMouseDown;
extern int32_t gLastDrawn[2];
// speaker icon and sound
void Speaker_Reset();
void Speaker_TimerStep();
void Audio_StartThread();
void Audio_StopForUnload();
