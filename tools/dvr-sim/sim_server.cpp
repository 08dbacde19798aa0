// Network side of the simulated recorder: owns the listening socket, the
// client table gClients (kMaxClients slots, each with an input buffer of one
// largest packet and an output buffer of a few largest answers, allocated on
// first use and kept) and the signal pipe that ends the poll() loop.
#include "sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "sim_machine.h"
#include "sim_recorder.h"
#include "sim_stats.h"
#include "sim_trace.h"
#include "sim_wire.h"

constexpr uint32_t kMaxClients = 16;
constexpr uint32_t kOutCap = 4 * kMaxAnswer;

struct SimClient {
  int fd;                // -1 when the slot is free
  uint32_t id;           // client number for the trace, counting from 1
  uint8_t* in;           // kMaxPacket bytes: the packet being received
  uint32_t in_fill;      // bytes held in `in`
  uint8_t* out;          // kOutCap bytes: answers not yet sent
  uint32_t out_start;    // first unsent byte
  uint32_t out_end;      // end of the unsent bytes
  bool eof;              // the peer has finished sending
  bool broken;           // the stream cannot be followed any more
  uint64_t packets;      // packets answered on this connection
  int64_t hold_until;    // Machine_NowMs before which nothing is sent (a late answer)
  int64_t next_send_us;  // with --answer-rate: when the next bytes may leave
};

static SimClient gClients[kMaxClients];
static uint32_t gClientSerial = 0;
static int gSignalPipe[2] = {-1, -1};

static void OnSignal(int) {
  int saved = errno;
  char c = 1;
  ssize_t r = write(gSignalPipe[1], &c, 1);
  (void)r;
  errno = saved;
}

static bool SetupSignals() {
  if (pipe2(gSignalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return false;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  if (sigaction(SIGTERM, &sa, nullptr) != 0) return false;
  if (sigaction(SIGINT, &sa, nullptr) != 0) return false;
  signal(SIGPIPE, SIG_IGN);
  return true;
}

static int Listen(uint16_t port, uint32_t segment, uint16_t* bound) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // Accepted connections take the segment size from here, and the viewer
  // learns it from the handshake. On loopback a segment can be larger than
  // half the 32 KB window the viewer leaves itself after connecting; the
  // sender then waits for the window to open a whole segment, 40 ms or
  // more per answer above 32 KB, which no recorder on a network shows.
  if (segment > 0) {
    int mss = int(segment);
    setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &mss, sizeof mss);
  }
  sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return -1;
  }
  *bound = ntohs(addr.sin_port);
  return fd;
}

static int64_t NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Microseconds until the client may send again (0: now), for a late answer,
// the answer rate or the recorder's freeze.
static int64_t SendWaitUs(const SimClient* c) {
  int64_t now = NowUs();
  int64_t wait = c->hold_until * 1000 - now;
  if (gFrozenUntilMs * 1000 - now > wait) wait = gFrozenUntilMs * 1000 - now;
  if (gMachine.answer_rate > 0 && c->next_send_us - now > wait) wait = c->next_send_us - now;
  return wait > 0 ? wait : 0;
}

static void CloseClient(SimClient* c, const char* reason) {
  Trace("close client=%u reason=%s", c->id, reason);
  close(c->fd);
  c->fd = -1;
  c->in_fill = 0;
  c->out_start = c->out_end = 0;
  c->eof = c->broken = false;
}

static void Accept(int listen_fd) {
  for (;;) {
    int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN, or a connection that went away at once
    SimClient* c = nullptr;
    for (uint32_t i = 0; i < kMaxClients && c == nullptr; i++)
      if (gClients[i].fd < 0) c = &gClients[i];
    if (c != nullptr && c->in == nullptr) {
      c->in = static_cast<uint8_t*>(malloc(kMaxPacket));
      c->out = static_cast<uint8_t*>(malloc(kOutCap));
      if (c->in == nullptr || c->out == nullptr) {
        free(c->in);
        free(c->out);
        c->in = c->out = nullptr;
        c = nullptr;
      }
    }
    if (c == nullptr) {
      Trace("refuse client");
      close(fd);
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    c->fd = fd;
    c->id = ++gClientSerial;
    c->in_fill = 0;
    c->out_start = c->out_end = 0;
    c->eof = c->broken = false;
    c->packets = 0;
    c->hold_until = 0;
    c->next_send_us = 0;
    gStats.clients++;
    Trace("accept client=%u", c->id);
  }
}

// Room for one more answer at the end of the output buffer, moving the
// unsent bytes down first when that makes the room.
static bool OutHasRoom(SimClient* c) {
  if (kOutCap - c->out_end >= kMaxAnswer) return true;
  if (c->out_start > 0) {
    memmove(c->out, c->out + c->out_start, c->out_end - c->out_start);
    c->out_end -= c->out_start;
    c->out_start = 0;
  }
  return kOutCap - c->out_end >= kMaxAnswer;
}

// Answers every whole packet in the input buffer while output room lasts.
// A total outside 64 .. kMaxPacket or a wrong magic is a broken stream: the
// bytes cannot be resynchronised, so the client is closed once the answers
// to its earlier packets are sent.
static void ProcessInput(SimClient* c) {
  uint32_t pos = 0;
  while (!c->broken && Machine_NowMs() >= gFrozenUntilMs) {
    uint32_t left = c->in_fill - pos;
    const uint8_t* p = c->in + pos;
    if (left >= 4) {
      uint32_t total = GetU32(p);
      if (total < kUlcmHeaderSize || total > kMaxPacket) {
        Trace("broken client=%u total=%u", c->id, total);
        gStats.broken++;
        c->broken = true;
        break;
      }
    }
    if (left >= 8 && GetU32(p + 4) != kUlcmMagic) {
      Trace("broken client=%u magic=%08x", c->id, GetU32(p + 4));
      gStats.broken++;
      c->broken = true;
      break;
    }
    if (left < kUlcmHeaderSize || left < GetU32(p)) break;
    if (!OutHasRoom(c)) break;
    uint32_t total = GetU32(p);
    if (c->packets++ == 0) {
      UlcmHeader h;
      Wire_ReadUlcmHeader(p, &h);
      Trace("first-packet client=%u type=%u session=%u socket=%u", c->id, h.type, h.session, h.socket_index);
    }
    uint32_t answer_len = 0, delay_ms = 0;
    const uint8_t* answer = Recorder_Answer(p, total, c->id, &answer_len, &delay_ms);
    if (delay_ms > 0) c->hold_until = Machine_NowMs() + delay_ms;  // this answer and all behind it
    char* head = reinterpret_cast<char*>(c->out + c->out_end);
    uint32_t head_len = Wire_WriteHttpHead(head, answer_len);
    memcpy(c->out + c->out_end + head_len, answer, answer_len);
    c->out_end += head_len + answer_len;
    pos += total;
  }
  if (c->broken) {
    c->in_fill = 0;
  } else if (pos > 0) {
    memmove(c->in, c->in + pos, c->in_fill - pos);
    c->in_fill -= pos;
  }
}

// Reads what has arrived; false when the client was closed. The input of a
// broken stream is read and dropped until the client is closed, so that the
// close is an orderly one rather than a reset that could destroy answers
// still in flight.
static bool ReadClient(SimClient* c) {
  for (;;) {
    if (c->eof || c->in_fill == kMaxPacket) return true;
    ssize_t n = recv(c->fd, c->in + c->in_fill, kMaxPacket - c->in_fill, 0);
    if (n > 0 && c->broken) continue;
    if (n > 0) {
      c->in_fill += uint32_t(n);
      ProcessInput(c);
      continue;
    }
    if (n == 0) {
      c->eof = true;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    CloseClient(c, "error");
    return false;
  }
}

// Sends what the output buffer holds, answers packets that waited for room,
// and closes a client that is done; false when the client was closed.
static bool WriteClient(SimClient* c) {
  for (;;) {
    while (c->out_start < c->out_end) {
      if (SendWaitUs(c) > 0) return true;  // the loop comes back when it may
      uint32_t chunk = c->out_end - c->out_start;
      // At the answer rate, a hundredth of a second's worth at a time.
      uint32_t step = gMachine.answer_rate / 100 > 0 ? gMachine.answer_rate / 100 : 1;
      if (gMachine.answer_rate > 0 && chunk > step) chunk = step;
      ssize_t n = send(c->fd, c->out + c->out_start, chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        c->out_start += uint32_t(n);
        if (gMachine.answer_rate > 0) {
          int64_t now = NowUs();
          if (c->next_send_us < now) c->next_send_us = now;
          c->next_send_us += int64_t(n) * 1000000 / gMachine.answer_rate;
        }
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      CloseClient(c, "error");
      return false;
    }
    c->out_start = c->out_end = 0;
    ProcessInput(c);
    if (c->out_end > 0) continue;
    if (c->broken || c->eof) {
      CloseClient(c, c->broken ? "broken" : "peer");
      return false;
    }
    return true;
  }
}

int Server_Run(uint16_t port, uint32_t segment) {
  for (uint32_t i = 0; i < kMaxClients; i++) gClients[i].fd = -1;
  if (!SetupSignals()) {
    fprintf(stderr, "dvr-sim: cannot set up signal handling: %s\n", strerror(errno));
    return 1;
  }
  uint16_t bound = 0;
  int listen_fd = Listen(port, segment, &bound);
  if (listen_fd < 0) {
    fprintf(stderr, "dvr-sim: cannot listen on 127.0.0.1:%u: %s\n", port, strerror(errno));
    return 1;
  }
  Say("listening on 127.0.0.1:%u", bound);

  pollfd fds[2 + kMaxClients];
  SimClient* owner[2 + kMaxClients];
  bool running = true;
  while (running) {
    // Frozen: only a signal is heard until the freeze ends.
    int64_t frozen = gFrozenUntilMs - Machine_NowMs();
    if (frozen > 0) {
      pollfd signal_fd = {gSignalPipe[0], POLLIN, 0};
      if (poll(&signal_fd, 1, int(frozen)) > 0) running = false;
      continue;
    }
    nfds_t n = 0;
    fds[n] = {gSignalPipe[0], POLLIN, 0};
    owner[n++] = nullptr;
    fds[n] = {listen_fd, POLLIN, 0};
    owner[n++] = nullptr;
    int timeout_ms = -1;  // until something happens, or a held answer may leave
    for (uint32_t i = 0; i < kMaxClients; i++) {
      SimClient* c = &gClients[i];
      if (c->fd < 0) continue;
      short events = 0;
      if (!c->eof && c->in_fill < kMaxPacket) events |= POLLIN;
      if (c->out_start < c->out_end) {
        int64_t wait = SendWaitUs(c);
        if (wait == 0) {
          events |= POLLOUT;
        } else {
          int ms = int((wait + 999) / 1000);
          if (timeout_ms < 0 || ms < timeout_ms) timeout_ms = ms;
        }
      }
      fds[n] = {c->fd, events, 0};
      owner[n++] = c;
    }
    if (poll(fds, n, timeout_ms) < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "dvr-sim: poll: %s\n", strerror(errno));
      break;
    }
    if (fds[0].revents) running = false;
    if (fds[1].revents & POLLIN) Accept(listen_fd);
    for (nfds_t k = 2; k < n && running; k++) {
      SimClient* c = owner[k];
      short ev = fds[k].revents;
      if (ev == 0 || c->fd != fds[k].fd) continue;
      if ((ev & (POLLIN | POLLHUP | POLLERR)) && !ReadClient(c)) continue;
      WriteClient(c);
    }
  }
  for (uint32_t i = 0; i < kMaxClients; i++)
    if (gClients[i].fd >= 0) CloseClient(&gClients[i], "shutdown");
  close(listen_fd);
  Say("stats clients=%llu packets=%llu grants=%llu modules=%llu unknown=%llu "
      "bad=%llu broken=%llu",
      (unsigned long long)gStats.clients, (unsigned long long)gStats.packets,
      (unsigned long long)gStats.grants, (unsigned long long)gStats.messages,
      (unsigned long long)gStats.unknown, (unsigned long long)gStats.bad_messages,
      (unsigned long long)gStats.broken);
  return 0;
}
