// The shared reset of the viewer's module state (ModuleReset.h).
#include "tests/support/ModuleReset.h"
#include "control/Speaker.h"
#include "control/Title.h"
#include "link/Conn.h"
#include "link/Icmd.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "media/Audio.h"
#include "media/Decoder.h"
#include "media/Pbba.h"
#include "media/SoundRing.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include "panel/Month.h"

void Modules_ResetAll()
{
    Conn_ResetAll();
    Handshake_Reset();
    Icmd_ResetViews();
    Msg_ClearBuffers();
    Vido_Reset();
    Stream_Reset();
    SoundRing_Reset();
    Sound_SetHeardChannel(SOUND_HEARD_NONE);
    Speaker_Reset();
    Decoder_ResetChannel(0);
    Decoder_ResetChannel(1);
    Pbba_Reset();
    Title_Reset();
    Month_Init();
    Stopwatch_Start(1);
}
