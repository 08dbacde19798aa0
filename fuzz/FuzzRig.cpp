// The fuzz targets' control: the COM object made once, the audio thread
// parked, the four client sockets replaced by fakes that keep what arrives
// and drop what is sent, and the per-input resets. Owns the fakes, the
// fake clock and the tick stamps of the periodic tasks.
#include "fuzz/FuzzRig.h"
#include "link/Bytes.h"
#include "control/Properties.h"
#include "control/Session.h"
#include "control/Speaker.h"
#include "control/Title.h"
#include "control/TavlinImpl1.h"
#include "control/TavlinXImpl.h"
#include "control/View.h"
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
#include "platform/com/Com.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Vcl.h"
#include "platform/win/Win.h"
#include "tests/support/ModuleReset.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

namespace {

// The clock: milliseconds that move only in Rig_Tick, and a fixed wall
// clock for the credential block.
const uint32_t kClockStart = 1000000;
uint32_t gNowMs = kClockStart;
uint32_t RigTick() { return gNowMs; }
int64_t RigTime() { return 0x5F3A1B2C; }

class RigWin : public TCustomWinSocket {
public:
    bool connected = false;
    std::vector<uint8_t> pending; // arrived, not yet taken
    bool Connected() const override { return connected; }
    // What the control sends goes nowhere.
    int SendBuf(const void*, int count) override { return connected ? count : -1; }
    int ReceiveLength() override { return (int)pending.size(); }
    int ReceiveBuf(void* buf, int count) override
    {
        size_t n = count < 0 ? 0 : (size_t)count;
        if (n > pending.size()) n = pending.size();
        memcpy(buf, pending.data(), n);
        pending.erase(pending.begin(), pending.begin() + (long)n);
        return (int)n;
    }
    intptr_t SocketHandle() const override { return -1; }
};

// A client socket whose connect succeeds at once; its connect event comes
// with the next tick, as the real one's comes from the message loop, and
// Close raises OnDisconnect as the real one does.
class RigSocket : public TClientSocket {
public:
    explicit RigSocket(TClientSocket* real) : TClientSocket(nullptr)
    {
        Tag = real->Tag;
        OnConnect = real->OnConnect;
        OnDisconnect = real->OnDisconnect;
        OnError = real->OnError;
        OnRead = real->OnRead;
        OnWrite = real->OnWrite;
    }
    RigWin win;
    AnsiString host;
    int port = 0;
    bool active = false;
    bool connectDue = false;
    AnsiString Host() const override { return host; }
    void SetHost(const AnsiString& h) override { host = h; }
    int Port() const override { return port; }
    void SetPort(int p) override { port = p; }
    bool Active() const override { return active; }
    void SetActive(bool value) override
    {
        if (!value) {
            Close();
            return;
        }
        if (active) return;
        active = true;
        win.connected = true;
        connectDue = true;
    }
    void Close() override
    {
        if (!active) return;
        active = false;
        win.connected = false;
        win.pending.clear();
        connectDue = false;
        if (OnDisconnect) OnDisconnect(this, &win);
    }
    TCustomWinSocket* Socket() const override { return const_cast<RigWin*>(&win); }
    void Forget()
    {
        active = false;
        connectDue = false;
        win.connected = false;
        win.pending.clear();
    }
};

RigSocket* gSockets[CONN_COUNT][2];
ITavlinX* gControl = nullptr;
uint32_t gStamps[3];

void Put(int property, const char* text)
{
    VARIANT v;
    VariantInit(&v);
    Variant_SetText(&v, text);
    Property_Put(property, v);
    VariantClear(&v);
}

void Guarded(void (*step)())
{
    // The main loop goes on whatever a step throws, as Timer1Timer does.
    try {
        step();
    } catch (const std::exception&) {
    } catch (...) {
    }
}

} // namespace

void Rig_Start()
{
    if (gControl) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TAVLIN_SOUND", "null", 0);
    // A time zone named once: without one, every local time read looks at
    // the zone file again.
    setenv("TZ", "UTC", 0);
#ifdef TAVLIN_FUZZ_WINROOT
    setenv("systemroot", TAVLIN_FUZZ_WINROOT, 0);
#endif
    Win_SetTickSource(RigTick);
    Win_SetTimeSource(RigTime);
    // Every message box and dialog is answered at once.
    Vcl_SetDialogHook([](TVclDialogRequest& r) { return r.Kind == vdkMessageBox ? IDOK : 0; });
    if (TavlinX_Create(IID_ITavlinX, (void**)&gControl) != S_OK || !gViewerForm) {
        fprintf(stderr, "fuzz rig: the control did not start\n");
        abort();
    }
    // The audio thread stays parked: the ticks run its take and feed.
    if (gAudioThread) gAudioThread->Suspend();
    for (uint32_t c = 0; c < CONN_COUNT; ++c)
        for (uint32_t s = 0; s < 2; ++s) {
            gSockets[c][s] = new RigSocket(gConnections[c].socket[s]);
            gConnections[c].socket[s] = gSockets[c][s];
        }
    // The page's properties, once: the gate opens for good.
    Put(PROP_DVRIP, "127.0.0.1");
    Put(PROP_HTTP_PORT, "80");
    Put(PROP_DVR_UK, "9.1234.5678");
    Put(PROP_HTTP_PAGE, "0");
}

void Rig_Tick(uint32_t ms)
{
    gNowMs += ms;
    for (uint32_t c = 0; c < CONN_COUNT; ++c)
        for (uint32_t s = 0; s < 2; ++s) {
            RigSocket* sock = gSockets[c][s];
            if (sock->connectDue) {
                sock->connectDue = false;
                if (sock->OnConnect) sock->OnConnect(sock, &sock->win);
            }
            if (!sock->win.pending.empty() && sock->OnRead) sock->OnRead(sock, &sock->win);
        }
    Guarded(Session_ReceiveStep);
    uint32_t t = Stopwatch_Now();
    if (t - gStamps[0] > 100000) {
        gStamps[0] = t;
        Guarded(Backup_TimerStep);
    }
    if (t - gStamps[1] > 30000) {
        gStamps[1] = t;
        Guarded([] { Title_TimerStep(0, 0); });
        Guarded(Calendar_TimerStep);
    }
    Guarded(Session_PollSockets);
    Guarded(Stream_TimerStep);
    Guarded(Speaker_TimerStep);
    // The audio thread's pass.
    TStreamRecord* stream = gConnections[0].stream;
    for (uint32_t i = 0; stream && i < AUDIO_TAKE_PER_PASS; ++i)
        if (Audio_TakeFrame(stream) != 0) break;
    Sound_Feed();
}

void Rig_Poll() { Guarded(Session_PollSockets); }

void Rig_Wait(uint32_t ms)
{
    gNowMs += ms;
    uint32_t t = Stopwatch_Now();
    for (uint32_t& stamp : gStamps) stamp = t;
}

void Rig_Between()
{
    // What the last input's widgets posted (queued signals, layout and
    // update requests) is delivered, as the message loop does between two
    // ticks; nothing here runs the loop itself, so it would pile up. The
    // log of the message boxes answered would grow as well.
    Application_DeliverPosted();
    Vcl_ClearDialogLog();
}

void Rig_End()
{
    // The title edits emptied as the start-up leaves them: their texts
    // would live on into the next input, which frees them. libFuzzer
    // would count more allocations than frees in this input and so run
    // it again and scan for leaks after it.
    for (uint32_t channel = 0; channel < TITLE_CHANNELS; channel++)
        if (TLabeledEdit* e = Title_Edit(channel))
            if (!e->Text().empty()) e->SetText("");
    Rig_Between();
}

void Rig_Begin(const TRigSetup& setup)
{
    Rig_Start();
    Rig_Between();
    gNowMs = kClockStart;
    memset(gStamps, 0, sizeof gStamps);
    for (uint32_t c = 0; c < CONN_COUNT; ++c)
        for (uint32_t s = 0; s < 2; ++s) gSockets[c][s]->Forget();

    // What the start-up set, back as it was.
    Modules_ResetAll();

    // The first tick connects socket 0 and sends the login.
    Rig_Tick(10);
    if (!setup.loggedIn) return;

    // As the grant, the hello's answer and the machine record leave it.
    TConnection* c = &gConnections[0];
    c->session = RIG_SESSION;
    c->linkState = LINK_LOGGED_IN;
    c->active = 1;
    c->busy[0] = 0;
    THandshakeRecord* h = c->handshake;
    h->helloAnswer.clientKind = 1;
    h->machine.channelCount = setup.channels;
    h->machine.frameRateFlag = setup.pal ? 1 : 0;
    h->machine.socketCount = setup.sockets;
    h->machine.audioWord = 1;
    snprintf(h->machine.text[0], sizeof h->machine.text[0], "FUZZ");
    if (setup.sockets > 1) Conn_OpenSocket(c, c->host, c->port, 1);
    if (setup.mode != VIEW_LIVE && c->view) View_SetMode(c->view, setup.mode);
    Audio_PublishViews();
    Rig_Tick(10);
}

void Rig_Arrive(uint32_t socket, const uint8_t* data, size_t n)
{
    if (socket >= 2 || !data || n == 0) return;
    RigWin& w = gSockets[0][socket]->win;
    if (!w.connected) return; // nothing arrives on a socket that is not open
    w.pending.insert(w.pending.end(), data, data + n);
}

void Rig_FixUpMessages(uint8_t* p, uint32_t n)
{
    uint32_t at = 0;
    while (at + 32 <= n) {
        uint32_t length = GetU32(p + at);
        if (length < 32 || length > n - at) break;
        if (length >= 36) PutU32(p + at + 32, RIG_SESSION);
        PutU32(p + at + 8, Checksum_Message(p + at + 32, length - 32));
        at += length;
    }
}

bool Rig_NextRecord(const uint8_t* data, size_t size, size_t* at, TRigRecord* record)
{
    size_t i = *at;
    if (!data || i >= size) return false;
    record->control = data[i++];
    uint32_t length = 0;
    if (i < size) length = data[i++];
    if (i < size) length |= (uint32_t)data[i++] << 8;
    if (length > size - i) length = (uint32_t)(size - i);
    record->bytes = data + i;
    record->length = length;
    *at = i + length;
    return true;
}
