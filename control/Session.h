// The viewer's side of the link in the main loop: receive step, socket
// poll, connecting, the stream request before each poll, and the socket
// event handlers of the four client sockets.
#pragma once
#include "link/Conn.h"
#include "platform/vcl/Vcl.h"

void Session_ReceiveStep();
void Session_PollSockets();
void Session_Connect(uint32_t connectionIndex, uint32_t socketIndex);
// Session_RequestStream, which the send pump calls: link/Hooks.h.

// Creates the four client sockets owned by the form and hooks their events.
void Session_CreateSockets(TComponent* owner);

void ClientSocket_Connect(TObject* Sender, TCustomWinSocket* Socket);
void ClientSocket_Disconnect(TObject* Sender, TCustomWinSocket* Socket);
void ClientSocket_Error(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode);
void ClientSocket_Read(TObject* Sender, TCustomWinSocket* Socket);
void ClientSocket_Write(TObject* Sender, TCustomWinSocket* Socket);
void Socket_AppendReceived(TCustomWinSocket* winSocket, TConnection* record, uint32_t socketIndex);
