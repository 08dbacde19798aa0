// Loopback sockets for tests: a real listener on a free port of 127.0.0.1.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A listening TCP socket on a free loopback port; its port goes to *port.
// reuseAddr sets SO_REUSEADDR before the bind.
inline int ListenOnLoopback(int backlog, int* port, bool reuseAddr = false)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (reuseAddr) {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr*)&a, sizeof a);
    listen(fd, backlog);
    socklen_t n = sizeof a;
    getsockname(fd, (sockaddr*)&a, &n);
    *port = ntohs(a.sin_port);
    return fd;
}

// A non-blocking loopback listener that the test drives by hand: it takes
// one client into `client` and closes both when it goes.
struct LoopbackListener {
    int fd = -1, client = -1, port = 0;
    explicit LoopbackListener(bool reuseAddr = false)
    {
        fd = ListenOnLoopback(4, &port, reuseAddr);
        fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    ~LoopbackListener()
    {
        if (client >= 0) close(client);
        close(fd);
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
};
