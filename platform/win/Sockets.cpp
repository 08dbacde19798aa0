// Blocking TCP client sockets on the POSIX socket calls. No state.
#include "platform/win/Sockets.h"
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

static int SetBlocking(int fd, bool blocking)
{
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return -1;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags);
}

// The host's first IPv4 address, or its text read as an address.
static in_addr_t ResolveHost(const char* host)
{
    addrinfo hints = {}, *found = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    in_addr_t a = INADDR_NONE;
    if (getaddrinfo(host, nullptr, &hints, &found) == 0 && found) {
        a = ((sockaddr_in*)found->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(found);
    } else {
        a = inet_addr(host);
    }
    return a;
}

SOCKET Win_TcpConnect(const char* host, uint32_t port, uint32_t timeoutMs)
{
    if (!host || port == 0 || port > 65535) return WIN_INVALID_SOCKET;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return WIN_INVALID_SOCKET;
    if (fd >= FD_SETSIZE || SetBlocking(fd, false) != 0) {
        close(fd);
        return WIN_INVALID_SOCKET;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((uint16_t)port);
    addr.sin_addr.s_addr = ResolveHost(host);
    bool connected = false;
    if (addr.sin_addr.s_addr != INADDR_NONE) {
        if (connect(fd, (sockaddr*)&addr, sizeof addr) == 0) {
            connected = true;
        } else if (errno == EINPROGRESS) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(fd, &writable);
            FD_SET(fd, &failed);
            timeval timeout = {(time_t)(timeoutMs / 1000), (suseconds_t)(timeoutMs % 1000 * 1000)};
            int r = select(fd + 1, nullptr, &writable, &failed, &timeout);
            if (r > 0 && FD_ISSET(fd, &writable)) {
                int error = 0;
                socklen_t len = sizeof error;
                connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
            }
        }
    }
    if (!connected || SetBlocking(fd, true) != 0) {
        close(fd);
        return WIN_INVALID_SOCKET;
    }
    return fd;
}

int Win_TcpSend(SOCKET s, const void* data, size_t size)
{
    if (s < 0) return -1;
    return (int)send((int)s, data, size, MSG_NOSIGNAL);
}

int Win_TcpReceive(SOCKET s, void* buffer, size_t size)
{
    if (s < 0) return WIN_TCP_CLOSED;
    ssize_t n = recv((int)s, buffer, size, MSG_DONTWAIT);
    if (n > 0) return (int)n;
    if (n == 0) return WIN_TCP_CLOSED;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? WIN_TCP_NOTHING : WIN_TCP_CLOSED;
}

int Win_TcpReadable(SOCKET s, uint32_t timeoutUs)
{
    if (s < 0 || s >= FD_SETSIZE) return 0;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET((int)s, &readable);
    timeval wait = {(time_t)(timeoutUs / 1000000), (suseconds_t)(timeoutUs % 1000000)};
    return select((int)s + 1, &readable, nullptr, nullptr, &wait) > 0 && FD_ISSET((int)s, &readable) ? 1 : 0;
}

void Win_TcpClose(SOCKET s)
{
    if (s >= 0) close((int)s);
}
