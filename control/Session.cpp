// The viewer's steps of the main loop that drive the link, and the client
// sockets' event handlers. State lives in gConnections; this file keeps none.
#include "control/Session.h"
#include "control/Properties.h"
#include "control/Setup.h"
#include "control/TavlinImpl1.h"
#include "control/Text.h"
#include "control/Title.h"
#include "control/View.h"
#include "link/Hooks.h"
#include "link/Ulcm.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include "platform/win/Win.h"
#include "panel/Hooks.h"
#include <cstring>

void Session_ReceiveStep()
{
    for (uint32_t c = 0; c < CONN_COUNT; c++) {
        for (uint32_t s = 0; s < 2; s++)
            if (Conn_SocketConnected(&gConnections[c], s)) Conn_ProcessReceived(&gConnections[c], s);
        Vido_DeliverInOrder(&gConnections[c]);
    }
    Setup_RefreshPages();
}

void Session_PollSockets()
{
    TConnection* c = &gConnections[0];
    for (uint32_t s = 0; s < 2; s++)
        if (c->socketState[s] == SOCK_DOWN && Conn_ReconnectDue(c, s)) Session_Connect(0, s);
    TTitleState* title = c->vdtt;
    if (!title) return;
    uint32_t flag = Title_TakeRequestFlag(title);
    if (flag == 1) Title_SendRequest(c->session, 0, 0, 17, 0, 1152);      // read the titles
    else if (flag == 2) Title_SendRequest(c->session, 0, 1, 16, 0, 1152); // write them
    Ulcm_PumpSend(c);
    Conn_ShowLinkState(c);
}

// Copies at most width - 1 characters and always terminates.
static void CopyCut(char* dest, const char* src, size_t width)
{
    size_t n = strnlen(src, width - 1);
    memcpy(dest, src, n);
    memset(dest + n, 0, width - n);
}

void Session_Connect(uint32_t connectionIndex, uint32_t socketIndex)
{
    if (gPropertyPutCount < 3) return;
    if (connectionIndex >= CONN_COUNT || socketIndex >= 2) return;
    TConnection* c = &gConnections[connectionIndex];
    const char* address = Property_Text(PROP_DVRIP);
    const char* portText = Property_Text(PROP_HTTP_PORT);
    const char* userKey = Property_Text(PROP_DVR_UK);

    CopyCut(c->host, address, sizeof c->host);
    char port[64];
    CopyCut(port, portText, sizeof port);
    c->port = (uint32_t)Text_ToInt(port);
    CopyCut(c->userKey, userKey, sizeof c->userKey);

    Cred_DecodeUserKey(c->userKey, c->credentialsA, c->credentialsB);
    c->credentialsA[31] = 0;
    c->credentialsB[31] = 0;

    System_ShowAddress(address, portText);

    // Only the socket being opened starts over (Conn_OpenSocket empties its
    // buffer): the other may be carrying the link, an answer half in its
    // buffer. The send ring goes with socket 0, whose login empties it.
    Conn_OpenSocket(c, c->host, c->port, socketIndex);
    if (socketIndex == 0) Conn_ResetSendRing(c->index);
    Conn_AllocFrameRing(c, CONN_FRAME_RING_SIZE);

    if (c->displaysRegistered != 1) {
        Stream_RegisterDisplays(c);
        c->displaysRegistered = 1;
    }
}

void Session_RequestStream(TConnection* record)
{
    if (!record) return;
    if (record->linkState == LINK_LOGGED_IN && record->active && !View_IsLocalPlayback(record)) {
        Vido_Send(record->session, 1, 0, 0, 0, 0);
        Win_Milestone(MILESTONE_VIDEO_REQUEST);
    }
}

void Session_CreateSockets(TComponent* owner)
{
    for (uint32_t c = 0; c < CONN_COUNT; c++) {
        for (uint32_t s = 0; s < 2; s++) {
            TClientSocket* sock = new TClientSocket(owner);
            gConnections[c].socket[s] = sock;
            sock->Tag = (int)(s * 2 + c);
            sock->OnConnect = ClientSocket_Connect;
            sock->OnDisconnect = ClientSocket_Disconnect;
            sock->OnError = ClientSocket_Error;
            sock->OnRead = ClientSocket_Read;
            sock->OnWrite = ClientSocket_Write;
        }
    }
}

static uint32_t TagConnection(TObject* sender) { return (uint32_t) static_cast<TComponent*>(sender)->Tag & 1; }
static uint32_t TagSocket(TObject* sender) { return ((uint32_t) static_cast<TComponent*>(sender)->Tag / 2) & 1; }

void ClientSocket_Connect(TObject* Sender, TCustomWinSocket*)
{
    Conn_OnConnected(TagConnection(Sender), TagSocket(Sender));
    if (TagConnection(Sender) == 0) Win_Milestone(MILESTONE_CONNECTED);
}

void ClientSocket_Disconnect(TObject* Sender, TCustomWinSocket*)
{
    Conn_OnDisconnected(TagConnection(Sender), TagSocket(Sender));
}

void ClientSocket_Error(TObject* Sender, TCustomWinSocket*, TErrorEvent, int& ErrorCode)
{
    ErrorCode = 0;
    Conn_OnError(TagConnection(Sender), TagSocket(Sender));
}

void ClientSocket_Read(TObject* Sender, TCustomWinSocket* Socket)
{
    Socket_AppendReceived(Socket, &gConnections[TagConnection(Sender)], TagSocket(Sender));
}

void ClientSocket_Write(TObject* Sender, TCustomWinSocket*) { Conn_OnWrite(TagConnection(Sender)); }

void Socket_AppendReceived(TCustomWinSocket* winSocket, TConnection* record, uint32_t socketIndex)
{
    if (!winSocket || !record || socketIndex >= 2) return;
    TRingDesc* buffer = &record->receive[socketIndex];
    if (!buffer->data || buffer->writeIndex >= buffer->size) return;
    int n = winSocket->ReceiveLength();
    if (n <= 0) return;
    uint32_t room = buffer->size - buffer->writeIndex;
    uint32_t take = (uint32_t)n < room ? (uint32_t)n : room;
    int got = winSocket->ReceiveBuf(buffer->data + buffer->writeIndex, (int)take);
    if (got > 0) buffer->writeIndex += (uint32_t)got < take ? (uint32_t)got : take;
}
