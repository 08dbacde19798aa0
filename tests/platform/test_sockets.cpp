// The client socket against a real listener on loopback.
#include "platform/vcl/Vcl.h"
#include "platform/win/Win.h"
#include "tests/support/Loopback.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <string>
#include <vector>

namespace {

// A one-client loopback listener driven by hand from the test.
struct Listener : LoopbackListener {
    Listener() : LoopbackListener(true) {}
    bool Accept()
    {
        return Application_ProcessMessagesUntil([&] { return (client = accept(fd, nullptr, nullptr)) >= 0; },
                                                kWaitLimitMs);
    }
    std::string ReadSome(size_t want)
    {
        std::string got;
        Application_ProcessMessagesUntil(
            [&] {
                char b[4096];
                pollfd p{client, POLLIN, 0};
                while (got.size() < want && poll(&p, 1, 0) > 0) {
                    ssize_t n = recv(client, b, sizeof b, 0);
                    if (n <= 0) break;
                    got.append(b, (size_t)n);
                }
                return got.size() >= want;
            },
            kWaitLimitMs);
        return got;
    }
};

// Closed port: bind a socket, note its port, close it again.
int ClosedPort()
{
    Listener l;
    return l.port;
}

struct Events {
    int connects = 0, disconnects = 0, errors = 0, reads = 0, writes = 0;
    TErrorEvent lastError = eeGeneral;
    std::string received;
    size_t takePerRead = 1 << 20;
    bool closeOnError = false;

    void Hook(TClientSocket& s)
    {
        s.OnConnect = [this](TObject*, TCustomWinSocket*) { connects++; };
        s.OnDisconnect = [this](TObject*, TCustomWinSocket*) { disconnects++; };
        s.OnWrite = [this](TObject*, TCustomWinSocket*) { writes++; };
        s.OnError = [this, &s](TObject*, TCustomWinSocket*, TErrorEvent e, int& code) {
            errors++;
            lastError = e;
            EXPECT_NE(code, 0);
            code = 0;
            if (closeOnError) s.Close();
        };
        s.OnRead = [this](TObject*, TCustomWinSocket* w) {
            reads++;
            std::vector<char> b(std::min<size_t>(takePerRead, (size_t)w->ReceiveLength()));
            int n = w->ReceiveBuf(b.data(), (int)b.size());
            received.append(b.data(), (size_t)n);
        };
    }
};

TEST(ClientSocket, ConnectsSendsAndReceives)
{
    Listener l;
    TClientSocket s(nullptr);
    Events ev;
    ev.Hook(s);
    s.SetHost("127.0.0.1");
    s.SetPort(l.port);
    s.SetActive(true);
    EXPECT_TRUE(s.Active());
    ASSERT_TRUE(l.Accept());
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.connects == 1; }, kWaitLimitMs));
    EXPECT_TRUE(s.Socket()->Connected());
    EXPECT_GE(ev.writes, 1);
    EXPECT_GE(s.Socket()->SocketHandle(), 0);
    EXPECT_EQ(Win_SetSocketOption(s.Socket()->SocketHandle(), WIN_SO_RCVBUF, 16384), 0);

    EXPECT_EQ(s.Socket()->SendBuf("hello", 5), 5);
    EXPECT_EQ(l.ReadSome(5), "hello");

    ASSERT_EQ(send(l.client, "abcdef", 6, 0), 6);
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.received.size() == 6; }, kWaitLimitMs));
    EXPECT_EQ(ev.received, "abcdef");
    EXPECT_EQ(ev.disconnects, 0);
}

TEST(ClientSocket, ReadEventsRepeatWhileBytesRemain)
{
    Listener l;
    TClientSocket s(nullptr);
    Events ev;
    ev.takePerRead = 3; // the handler takes only part of what arrived
    ev.Hook(s);
    s.SetHost("127.0.0.1");
    s.SetPort(l.port);
    s.SetActive(true);
    ASSERT_TRUE(l.Accept());
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.connects == 1; }, kWaitLimitMs));
    ASSERT_EQ(send(l.client, "0123456789", 10, 0), 10);
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.received.size() == 10; }, kWaitLimitMs));
    EXPECT_EQ(ev.received, "0123456789");
    EXPECT_GE(ev.reads, 4);
}

TEST(ClientSocket, RefusedConnectEndsInOneDisconnect)
{
    for (bool closeOnError : {false, true}) {
        TClientSocket s(nullptr);
        Events ev;
        ev.closeOnError = closeOnError;
        ev.Hook(s);
        s.SetHost("127.0.0.1");
        s.SetPort(ClosedPort());
        s.SetActive(true);
        ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.disconnects > 0; }, kWaitLimitMs)) << closeOnError;
        Application_ProcessMessagesFor(50);
        EXPECT_EQ(ev.errors, 1);
        EXPECT_EQ(ev.lastError, eeConnect);
        EXPECT_EQ(ev.disconnects, 1);
        EXPECT_EQ(ev.connects, 0);
        EXPECT_FALSE(s.Active());
        EXPECT_FALSE(s.Socket()->Connected());
        EXPECT_EQ(s.Socket()->SendBuf("x", 1), -1);
    }
}

// A connect that fails inside the connect call itself (here: no file
// descriptor left for the socket) is still reported from the message loop,
// after SetActive has returned, as every socket event is.
TEST(ClientSocket, ConnectThatFailsAtOnceIsReportedFromTheMessageLoop)
{
    Application_ProcessMessagesFor(10);
    TClientSocket s(nullptr);
    Events ev;
    ev.Hook(s);
    s.SetHost("127.0.0.1");
    s.SetPort(ClosedPort());
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    int next = dup(0); // the lowest free descriptor: nothing above it may open
    ASSERT_GE(next, 0);
    close(next);
    rlimit none = old;
    none.rlim_cur = (rlim_t)next;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    s.SetActive(true);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_EQ(ev.errors, 0);
    EXPECT_EQ(ev.disconnects, 0);
    EXPECT_TRUE(s.Active());
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.disconnects > 0; }, kWaitLimitMs));
    Application_ProcessMessagesFor(20);
    EXPECT_EQ(ev.errors, 1);
    EXPECT_EQ(ev.lastError, eeConnect);
    EXPECT_EQ(ev.disconnects, 1);
    EXPECT_FALSE(s.Active());
}

TEST(ClientSocket, PeerCloseDeliversBytesThenDisconnects)
{
    Listener l;
    TClientSocket s(nullptr);
    Events ev;
    ev.Hook(s);
    s.SetHost("127.0.0.1");
    s.SetPort(l.port);
    s.SetActive(true);
    ASSERT_TRUE(l.Accept());
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.connects == 1; }, kWaitLimitMs));
    ASSERT_EQ(send(l.client, "bye", 3, 0), 3);
    close(l.client);
    l.client = -1;
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.disconnects == 1; }, kWaitLimitMs));
    EXPECT_EQ(ev.received, "bye");
    EXPECT_FALSE(s.Active());
    EXPECT_EQ(ev.errors, 0);
}

TEST(ClientSocket, CloseRaisesDisconnectOnceAndCanReconnect)
{
    Listener l;
    TClientSocket s(nullptr);
    Events ev;
    ev.Hook(s);
    s.SetHost("127.0.0.1");
    s.SetPort(l.port);
    s.SetActive(true);
    ASSERT_TRUE(l.Accept());
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.connects == 1; }, kWaitLimitMs));
    s.Close();
    EXPECT_EQ(ev.disconnects, 1);
    s.Close(); // not active any more: nothing more to report
    EXPECT_EQ(ev.disconnects, 1);
    close(l.client);
    l.client = -1;

    s.SetActive(true);
    ASSERT_TRUE(l.Accept());
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return ev.connects == 2; }, kWaitLimitMs));
    EXPECT_TRUE(s.Socket()->Connected());
}

TEST(ClientSocket, SendOnIdleSocketFailsQuietly)
{
    TClientSocket s(nullptr);
    EXPECT_FALSE(s.Socket()->Connected());
    EXPECT_EQ(s.Socket()->SendBuf("x", 1), -1);
    EXPECT_EQ(s.Socket()->ReceiveLength(), 0);
    char b[4];
    EXPECT_EQ(s.Socket()->ReceiveBuf(b, 4), 0);
    EXPECT_EQ(s.Socket()->SocketHandle(), -1);
}

} // namespace
