// Steps of modules that are not built yet, called by the viewer shell.
// Each does nothing until its module takes it over.
#pragma once
#include <cstdint>
#include "link/Conn.h"

// frame stream module
void Vido_DeliverInOrder(TConnection* c);
void Vido_Send(uint32_t session, uint32_t op, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
int Vido_Init();
// streams and displays
void Stream_RegisterDisplays(TConnection* c);
int Stream_Init();
void Stream_TimerStep();
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
// handshake, command and named-variable modules
int Handshake_Init();
int Icmd_Init();
int Ictl_Init();
int Ictl_RegisterTavnVariables();
// watermark
void Watermark_InitKeys();
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
