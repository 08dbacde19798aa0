// Blocking TCP client sockets of Windows Sockets, for the callers that talk
// to a server on their own thread of control rather than through the class
// library's event-driven client sockets (the No-IP client). A socket is a
// SOCKET (platform/win/Win.h), WIN_INVALID_SOCKET for none. No state.
#pragma once
#include "platform/win/Win.h"
#include <cstddef>
#include <cstdint>

enum { WIN_INVALID_SOCKET = -1 };

// Connects to port of host (a name, its first IPv4 address, or a dotted
// address), waiting at most timeoutMs for the connection: the connected
// socket, or WIN_INVALID_SOCKET (nothing is left open then).
SOCKET Win_TcpConnect(const char* host, uint32_t port, uint32_t timeoutMs);
// send(): sends the bytes, blocking; the count sent, or -1 (a peer that has
// gone away is an error, never a signal).
int Win_TcpSend(SOCKET s, const void* data, size_t size);
// What a receive found.
enum {
    WIN_TCP_NOTHING = -1, // nothing has arrived yet
    WIN_TCP_CLOSED = 0,   // the peer ended the connection, or it failed
};
// recv() without waiting: the count of bytes read into buffer (at most
// size), or WIN_TCP_NOTHING, or WIN_TCP_CLOSED.
int Win_TcpReceive(SOCKET s, void* buffer, size_t size);
// select() for reading: 1 when bytes (or the connection's end) are there
// to receive within timeoutUs microseconds, else 0.
int Win_TcpReadable(SOCKET s, uint32_t timeoutUs);
// closesocket(); WIN_INVALID_SOCKET is ignored.
void Win_TcpClose(SOCKET s);
