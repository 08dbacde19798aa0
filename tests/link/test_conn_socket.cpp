// The link's client sockets against a real listener on loopback.
#include "control/Session.h"
#include "link/Conn.h"
#include "platform/vcl/Vcl.h"
#include "tests/support/Loopback.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <fstream>

namespace {

using Listener = LoopbackListener;

int SocketOption(intptr_t handle, int option)
{
    int value = 0;
    socklen_t n = sizeof value;
    getsockopt((int)handle, SOL_SOCKET, option, &value, &n);
    return value;
}

int SystemLimit(const char* path)
{
    std::ifstream f(path);
    int v = 0;
    f >> v;
    return v;
}

TEST(LinkSocket, ConnectedSocketGetsTheLinksBufferSizes)
{
    TComponent owner(nullptr);
    Session_CreateSockets(&owner);
    Conn_InitAll();
    Listener l;
    TConnection* c = &gConnections[0];
    ASSERT_EQ(Conn_OpenSocket(c, "127.0.0.1", (uint32_t)l.port, 0), 0);
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return Conn_SocketConnected(c, 0) == 1; }, kWaitLimitMs));
    Application_ProcessMessagesFor(20);
    intptr_t handle = c->socket[0]->Socket()->SocketHandle();
    ASSERT_NE(handle, -1);
    // The kernel doubles what it is asked for and caps it at its limit.
    EXPECT_EQ(SocketOption(handle, SO_RCVBUF), 2 * 16384);
    int sendLimit = std::min(0x48000, SystemLimit("/proc/sys/net/core/wmem_max"));
    EXPECT_EQ(SocketOption(handle, SO_SNDBUF), 2 * sendLimit);
    for (TConnection& k : gConnections) k.socket[0] = k.socket[1] = nullptr;
}

} // namespace
