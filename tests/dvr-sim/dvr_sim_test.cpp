// Black-box tests of dvr-sim: each test starts the program, talks raw ULCM
// over loopback sockets to it and reads its trace lines from a pipe. The
// child is killed on every path by SimProcess's destructor.
#include "link/Bytes.h"
#include "tests/support/Scratch.h"
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include "tests/support/SimProcess.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#ifndef DVR_SIM_PATH
#error "DVR_SIM_PATH must name the dvr-sim binary"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// Safety net against a hanging child or socket; nothing asserts on speed.
constexpr int kWaitMs = 5000;

uint32_t U32(const uint8_t* p) { return GetU32(p); }

void Put32(Bytes& b, size_t at, uint32_t v) { PutU32(&b[at], v); }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A client packet: 64-byte header, then the payload.
Bytes Packet(uint32_t type, uint32_t session, const Bytes& payload = {}, uint32_t conn = 0,
             uint32_t sock = 0) {
  Bytes p(64, 0);
  Put32(p, 0, uint32_t(64 + payload.size()));
  memcpy(&p[4], "ULCM", 4);
  Put32(p, 8, type);
  Put32(p, 12, session);
  memcpy(&p[16], "5F3A1C20.0123.4567", 18);  // a credential block of the usual shape
  Put32(p, 52, conn);
  Put32(p, 56, sock);
  return p + payload;
}

// A module message: 32-byte header with the given checksum, then `rest`
// (sub-header and body).
Bytes Message(const char* code, const Bytes& rest, uint32_t checksum) {
  Bytes m(32, 0);
  Put32(m, 0, uint32_t(32 + rest.size()));
  memcpy(&m[4], code, 4);
  Put32(m, 8, checksum);
  return m + rest;
}

// A message whose checksum is right for small bodies (byte sum).
Bytes SmallMessage(const char* code, const Bytes& rest) {
  uint32_t sum = 0;
  for (uint8_t b : rest) sum += b;
  return Message(code, rest, sum);
}

// One HTTP answer: its head and its body.
struct Answer {
  std::string head;
  Bytes body;
  uint32_t total() const { return body.size() >= 64 ? U32(&body[0]) : 0; }
  uint32_t type() const { return body.size() >= 64 ? U32(&body[8]) : ~0u; }
  uint32_t session() const { return body.size() >= 64 ? U32(&body[12]) : 0; }
  uint32_t conn() const { return body.size() >= 64 ? U32(&body[52]) : ~0u; }
  uint32_t sock() const { return body.size() >= 64 ? U32(&body[56]) : ~0u; }
  bool magic_ok() const { return body.size() >= 64 && memcmp(&body[4], "ULCM", 4) == 0; }
};

// A raw client socket with the bytes received but not yet taken.
class Client {
 public:
  explicit Client(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv = {kWaitMs / 1000, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  bool connected() const { return connected_; }
  // The segment size the connection sends with (the smaller of the two
  // ends' offers, less the TCP options).
  int SegmentSize() const {
    int mss = 0;
    socklen_t n = sizeof mss;
    return getsockopt(fd_, IPPROTO_TCP, TCP_MAXSEG, &mss, &n) == 0 ? mss : -1;
  }

  bool Send(const Bytes& b) {
    size_t done = 0;
    while (done < b.size()) {
      ssize_t n = send(fd_, b.data() + done, b.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += size_t(n);
    }
    return true;
  }

  // Reads one whole answer; false on a bad status line, a closed socket or
  // after kWaitMs.
  bool Read(Answer* a) {
    size_t end;
    while ((end = Find("\r\n\r\n")) == std::string::npos)
      if (!Fill()) return false;
    a->head.assign(buf_.begin(), buf_.begin() + end + 4);
    const std::string status = "HTTP/1.1 200 OK\r\n";
    if (a->head.compare(0, status.size(), status) != 0) return false;
    const std::string key = "\r\nContent-Length: ";
    size_t at = a->head.find(key);
    if (at == std::string::npos) return false;
    size_t length = std::stoul(a->head.substr(at + key.size()));
    while (buf_.size() < end + 4 + length)
      if (!Fill()) return false;
    a->body.assign(buf_.begin() + end + 4, buf_.begin() + end + 4 + length);
    buf_.erase(buf_.begin(), buf_.begin() + end + 4 + length);
    return true;
  }

  // True when the peer closes (or resets) the connection; any answer bytes
  // still in flight are skipped.
  bool ClosedByPeer() {
    char c[4096];
    for (;;) {
      ssize_t n = recv(fd_, c, sizeof c, 0);
      if (n == 0) return true;
      if (n < 0) return errno == ECONNRESET;
    }
  }

  size_t pending() const { return buf_.size(); }

 private:
  size_t Find(const char* s) const {
    auto it = std::search(buf_.begin(), buf_.end(), s, s + strlen(s));
    return it == buf_.end() ? std::string::npos : size_t(it - buf_.begin());
  }
  bool Fill() {
    uint8_t c[65536];
    ssize_t n = recv(fd_, c, sizeof c, 0);
    if (n <= 0) return false;
    buf_.insert(buf_.end(), c, c + n);
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  Bytes buf_;
};

class DvrSimTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim_.Start({"--port", "0", "--trace"})); }

  // Logs in on the client and returns the granted session.
  uint32_t Login(Client& c) {
    Answer a;
    if (!c.Send(Packet(0, 0)) || !c.Read(&a) || a.type() != 1) return 0;
    return a.session();
  }

  SimProcess sim_;
};

TEST_F(DvrSimTest, LoginIsGrantedAFreshSession) {
  // The login names the session the viewer held (0 at first); the grant is
  // always a new non-zero one.
  Client c(sim_.port());
  ASSERT_TRUE(c.connected());
  EXPECT_EQ(sim_.WaitFor("accept client="), "accept client=1");
  std::vector<uint32_t> seen;
  const uint32_t asks[] = {0, 0, 4242};
  for (uint32_t ask : asks) {
    ASSERT_TRUE(c.Send(Packet(0, ask)));
    Answer a;
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.head, "HTTP/1.1 200 OK\r\nContent-Length: 64\r\n\r\n");
    ASSERT_EQ(a.body.size(), 64u);
    EXPECT_TRUE(a.magic_ok());
    EXPECT_EQ(a.total(), 64u);
    EXPECT_EQ(a.type(), 1u);
    EXPECT_NE(a.session(), 0u);
    EXPECT_NE(a.session(), ask);
    for (uint32_t s : seen) EXPECT_NE(a.session(), s);
    seen.push_back(a.session());
    EXPECT_EQ(sim_.WaitFor("login "), "login session=" + std::to_string(ask));
    EXPECT_EQ(sim_.WaitFor("grant "), "grant session=" + std::to_string(a.session()));
  }
  // A login naming a held session replaces it: that session is no longer held.
  ASSERT_TRUE(c.Send(Packet(0, seen[1])));
  Answer a;
  ASSERT_TRUE(c.Read(&a));
  ASSERT_TRUE(c.Send(Packet(5, seen[1])));
  ASSERT_TRUE(c.Read(&a));
  EXPECT_EQ(a.type(), 1u);
}

TEST_F(DvrSimTest, PollWithHeldSessionGetsOnePollAnswer) {
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(c.Send(Packet(5, s)));
    Answer a;
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.head, "HTTP/1.1 200 OK\r\nContent-Length: 64\r\n\r\n");
    ASSERT_EQ(a.body.size(), 64u);
    EXPECT_TRUE(a.magic_ok());
    EXPECT_EQ(a.total(), 64u);
    EXPECT_EQ(a.type(), 2u);
    EXPECT_EQ(a.session(), s);
    EXPECT_EQ(c.pending(), 0u);
    const std::string ss = std::to_string(s);
    EXPECT_EQ(sim_.WaitFor("poll "), "poll session=" + ss + " bytes=0");
    EXPECT_EQ(sim_.WaitFor("answer "), "answer type=2 session=" + ss + " bytes=0");
  }
}

TEST_F(DvrSimTest, AnswersEchoConnectionAndSocketIndex) {
  struct Case {
    uint32_t type, conn, sock;
  };
  const Case cases[] = {{0, 0, 0}, {0, 1, 1}, {5, 0, 1}, {5, 1, 0}, {4, 1, 1}, {5, 7, 9}};
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "type " << k.type << " conn " << k.conn << " sock " << k.sock);
    ASSERT_TRUE(c.Send(Packet(k.type, k.type == 0 ? 0 : s, {}, k.conn, k.sock)));
    Answer a;
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.conn(), k.conn);
    EXPECT_EQ(a.sock(), k.sock);
    EXPECT_EQ(U32(&a.body[48]), 0u);
    EXPECT_EQ(U32(&a.body[60]), 0u);
    if (k.type == 0) s = a.session();
  }
}

TEST_F(DvrSimTest, DataWithASessionNotHeldIsGrantedAFreshOne) {
  struct Case {
    uint32_t type, session;
  };
  const Case cases[] = {{5, 0}, {3, 0}, {5, 424242}, {3, 424242}};
  Client c(sim_.port());
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "type " << k.type << " session " << k.session);
    ASSERT_TRUE(c.Send(Packet(k.type, k.session, SmallMessage("ZZZZ", Bytes(8, 1)))));
    Answer a;
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.type(), 1u);
    EXPECT_EQ(a.body.size(), 64u);
    EXPECT_NE(a.session(), 0u);
    EXPECT_NE(a.session(), k.session);
    EXPECT_EQ(sim_.WaitFor("stale "),
              "stale type=" + std::to_string(k.type) + " session=" + std::to_string(k.session));
    EXPECT_EQ(sim_.WaitFor("grant "), "grant session=" + std::to_string(a.session()));
    // The granted session is held from now on.
    ASSERT_TRUE(c.Send(Packet(5, a.session())));
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.type(), 2u);
  }
}

TEST_F(DvrSimTest, OtherTypesGetAnEmptyPollAnswer) {
  const uint32_t types[] = {1, 2, 4, 6, 7, 200};
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  for (uint32_t type : types) {
    for (uint32_t session : {s, 0u, 999u}) {
      SCOPED_TRACE(testing::Message() << "type " << type << " session " << session);
      ASSERT_TRUE(c.Send(Packet(type, session, Bytes(40, 7))));
      Answer a;
      ASSERT_TRUE(c.Read(&a));
      EXPECT_EQ(a.type(), 2u);
      EXPECT_EQ(a.session(), session);
      EXPECT_EQ(a.body.size(), 64u);
      EXPECT_EQ(sim_.WaitFor("packet "),
                "packet type=" + std::to_string(type) + " session=" + std::to_string(session));
    }
  }
}

Bytes Pattern(size_t n, int kind) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = kind == 0 ? 0xFF : uint8_t(i);
  return b;
}

TEST_F(DvrSimTest, ChecksumSwitchesAtOneKilobyte) {
  // Checksums worked out by hand: up to 1024 bytes after the header they are
  // byte sums, above that the sum of one little-endian word per whole KiB.
  struct Case {
    uint32_t n;
    int kind;
    uint32_t checksum;
  };
  const Case cases[] = {
      {0, 0, 0},
      {3, 1, 0 + 1 + 2},
      {1024, 0, 1024 * 255},
      {1024, 1, 4 * (255 * 256 / 2)},
      {1025, 0, 0xFFFFFFFF},
      {1500, 1, 0x03020100},
      {2047, 1, 0x03020100},
      {2048, 0, 0xFFFFFFFE},
      {3000, 1, 0x06040200},
  };
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  const std::string ss = std::to_string(s);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "bytes " << k.n);
    Bytes rest = Pattern(k.n, k.kind);
    Bytes payload = Message("ZZZZ", rest, k.checksum) + Message("ZZZZ", rest, k.checksum + 1);
    ASSERT_TRUE(c.Send(Packet(5, s, payload)));
    Answer a;
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.type(), 2u);
    const std::string len = std::to_string(32 + k.n);
    std::vector<std::string> want = {"module ZZZZ len=" + len + " unknown",
                                     "module ZZZZ len=" + len + " bad-checksum"};
    EXPECT_EQ(sim_.Between("poll session=" + ss, "answer "), want);
  }
}

TEST_F(DvrSimTest, PayloadWalkSkipsBadMessagesAndStopsAtBrokenLengths) {
  Bytes good = SmallMessage("QCMD", Bytes(40, 2));  // 72 bytes
  Bytes bad = Message("QAVN", Bytes(10, 1), 11);    // checksum should be 10
  Bytes shortLen = good;
  Put32(shortLen, 0, 31);
  Bytes overLen = good;
  Put32(overLen, 0, 73);
  struct Case {
    const char* name;
    Bytes payload;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"bad checksum in the middle",
       good + bad + good,
       {"module QCMD len=72 unknown", "module QAVN len=42 bad-checksum", "module QCMD len=72 unknown"}},
      {"partial header at the end",
       good + Bytes(20, 0),
       {"module QCMD len=72 unknown", "bad-message offset=72 len=0 left=20"}},
      {"length below 32 ends the walk", shortLen + good, {"bad-message offset=0 len=31 left=144"}},
      {"length past the payload",
       good + overLen,
       {"module QCMD len=72 unknown", "bad-message offset=72 len=73 left=72"}},
      {"bare 32-byte message", Message("QIDO", {}, 0), {"module QIDO len=32 unknown"}},
      {"unprintable code", SmallMessage("\x01Z\x7FZ", {}), {"module ?Z?Z len=32 unknown"}},
  };
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_TRUE(c.Send(Packet(5, s, k.payload)));
    Answer a;
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.type(), 2u);
    EXPECT_EQ(a.session(), s);
    EXPECT_EQ(sim_.Between("poll session=" + std::to_string(s) + " bytes=" + std::to_string(k.payload.size()),
                           "answer "),
              k.lines);
  }
}

TEST_F(DvrSimTest, UnknownModulesAreCountedPerRun) {
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  Answer a;
  ASSERT_TRUE(c.Send(Packet(5, s, SmallMessage("QCMD", {1}) + SmallMessage("QCTL", {2}))));
  ASSERT_TRUE(c.Read(&a));
  // Type 3 data is walked like type 5.
  ASSERT_TRUE(c.Send(Packet(3, s, SmallMessage("QIDO", {3}) + Message("PBBA", {4}, 0))));
  ASSERT_TRUE(c.Read(&a));
  EXPECT_EQ(a.type(), 2u);
  EXPECT_EQ(sim_.Stop(), 0);
  ASSERT_FALSE(sim_.lines().empty());
  EXPECT_EQ(sim_.lines().back(), "stats clients=1 packets=3 grants=1 modules=3 unknown=3 bad=1 broken=0");
}

TEST_F(DvrSimTest, BrokenStreamClosesOnlyThatClient) {
  Bytes hugeTotal = Packet(5, 0);
  Put32(hugeTotal, 0, (1u << 20) + 1);
  Bytes badMagic = Packet(5, 0);
  memcpy(&badMagic[4], "ULCX", 4);
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"total 0", Bytes(4, 0)},         {"total 63", Bytes{63, 0, 0, 0}},
      {"total above 1 MiB", hugeTotal}, {"total 0xFFFFFFFF", Bytes{0xFF, 0xFF, 0xFF, 0xFF}},
      {"wrong magic", badMagic},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Client bystander(sim_.port());
    uint32_t s = Login(bystander);
    ASSERT_NE(s, 0u);
    Client c(sim_.port());
    // A good login in the same write is still answered before the close.
    ASSERT_TRUE(c.Send(Packet(0, 0) + k.bytes));
    Answer a;
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.type(), 1u);
    EXPECT_TRUE(c.ClosedByPeer());
    EXPECT_NE(sim_.WaitFor("broken client="), "");
    EXPECT_NE(sim_.WaitFor("close client="), "");
    ASSERT_TRUE(bystander.Send(Packet(5, s)));
    ASSERT_TRUE(bystander.Read(&a));
    EXPECT_EQ(a.type(), 2u);
  }
}

TEST_F(DvrSimTest, LargestPacketIsAnswered) {
  // A total of exactly 1 MiB is the largest packet taken.
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  const uint32_t len = (1u << 20) - 64;
  ASSERT_TRUE(c.Send(Packet(5, s, Message("ZZZZ", Bytes(len - 32, 0), 0))));
  Answer a;
  ASSERT_TRUE(c.Read(&a));
  EXPECT_EQ(a.type(), 2u);
  EXPECT_EQ(sim_.WaitFor("module "), "module ZZZZ len=" + std::to_string(len) + " unknown");
}

TEST_F(DvrSimTest, TwoPacketsInOneWriteGetTwoAnswers) {
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  Bytes msg = SmallMessage("QCMD", Bytes(100, 9));
  struct Case {
    const char* name;
    Bytes first, second;
    uint32_t type1, type2;
  };
  const Case cases[] = {
      {"login and login", Packet(0, 0), Packet(0, 0), 1, 1},
      {"poll and poll", Packet(5, s), Packet(5, s), 2, 2},
      {"data and poll", Packet(5, s, msg), Packet(5, s), 2, 2},
      {"poll and stale data", Packet(5, s), Packet(3, 0, msg), 2, 1},
      {"other and poll", Packet(4, s, msg), Packet(5, s, msg), 2, 2},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_TRUE(c.Send(k.first + k.second));
    Answer a, b;
    ASSERT_TRUE(c.Read(&a));
    ASSERT_TRUE(c.Read(&b));
    EXPECT_EQ(a.head, "HTTP/1.1 200 OK\r\nContent-Length: 64\r\n\r\n");
    EXPECT_EQ(b.head, "HTTP/1.1 200 OK\r\nContent-Length: 64\r\n\r\n");
    EXPECT_EQ(a.type(), k.type1);
    EXPECT_EQ(b.type(), k.type2);
    EXPECT_EQ(a.total(), 64u);
    EXPECT_EQ(b.total(), 64u);
    if (k.type1 == 1 && k.type2 == 1) {
      EXPECT_NE(a.session(), b.session());
    }
    EXPECT_EQ(c.pending(), 0u);
  }
}

TEST_F(DvrSimTest, PacketSplitAcrossWritesIsOneAnswer) {
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  Bytes p = Packet(5, s, SmallMessage("QCMD", Bytes(20, 1)));  // 116 bytes
  const size_t splits[] = {1, 3, 4, 5, 8, 9, 63, 64, 65, 96, 115};
  for (size_t at : splits) {
    SCOPED_TRACE(testing::Message() << "split at " << at);
    ASSERT_TRUE(c.Send(Bytes(p.begin(), p.begin() + at)));
    usleep(5000);  // lets the first part arrive on its own
    ASSERT_TRUE(c.Send(Bytes(p.begin() + at, p.end())));
    Answer a;
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.type(), 2u);
    EXPECT_EQ(sim_.WaitFor("module "), "module QCMD len=52 unknown");
  }
  // And one byte per write.
  for (uint8_t byte : p) ASSERT_TRUE(c.Send({byte}));
  Answer a;
  ASSERT_TRUE(c.Read(&a));
  EXPECT_EQ(a.type(), 2u);
}

TEST_F(DvrSimTest, SessionsAreSharedByClients) {
  // The viewer's second socket polls with the session granted on its first.
  Client first(sim_.port());
  Client second(sim_.port());
  uint32_t s = Login(first);
  ASSERT_NE(s, 0u);
  Answer a;
  ASSERT_TRUE(second.Send(Packet(5, s, {}, 0, 1)));
  ASSERT_TRUE(second.Read(&a));
  EXPECT_EQ(a.type(), 2u);
  EXPECT_EQ(a.session(), s);
  EXPECT_EQ(a.sock(), 1u);
  ASSERT_TRUE(first.Send(Packet(5, s)));
  ASSERT_TRUE(first.Read(&a));
  EXPECT_EQ(a.type(), 2u);
}

TEST(DvrSimProcess, RestartsOnTheSamePortAtOnce) {
  uint16_t port;
  {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0"}));
    port = sim.port();
    Client c(port);
    Answer a;
    ASSERT_TRUE(c.Send(Packet(0, 0)));
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(sim.Stop(), 0);  // closes the client first: the port lingers in TIME_WAIT
    EXPECT_TRUE(c.ClosedByPeer());
  }
  SimProcess again;
  ASSERT_TRUE(again.Start({"--port", std::to_string(port)}));
  EXPECT_EQ(again.port(), port);
  Client c(port);
  Answer a;
  ASSERT_TRUE(c.Send(Packet(0, 0)));
  ASSERT_TRUE(c.Read(&a));
  EXPECT_EQ(a.type(), 1u);
}

TEST(DvrSimProcess, EndsCleanlyOnSignals) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(sig));
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0"}));
    Client c(sim.port());
    Answer a;
    ASSERT_TRUE(c.Send(Packet(0, 0)));
    ASSERT_TRUE(c.Read(&a));
    int status = sim.Stop(sig);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // Without --trace only the listening line and the stats line appear.
    ASSERT_EQ(sim.lines().size(), 2u);
    EXPECT_EQ(sim.lines()[1], "stats clients=1 packets=1 grants=1 modules=0 unknown=0 bad=0 broken=0");
  }
}

TEST(DvrSimProcess, RejectsBadArguments) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--port"},
      {"--port", "x"},
      {"--port", "70000"},
      {"--port", "-1"},
      {"--port", "0", "--bogus"},
      {"--trace=1", "--port", "0"},
      {"--port="},
      {"--port", "0", "--channels", "5"},
      {"--port", "0", "--channels", "32"},
      {"--port", "0", "--sockets", "0"},
      {"--port", "0", "--sockets", "3"},
      {"--port", "0", "--variant", "x"},
      {"--port", "0", "--close-after-ms", "-1"},
      {"--port", "0", "--text1", std::string(33, 'x')},
      {"--port", "0", "--pal=1"},
      {"--port", "0", "--gop", "0"},
      {"--port", "0", "--tone", "0"},
      {"--port", "0", "--tone", "4000"},
      {"--port", "0", "--camera", "/nonexistent/camera.h264"},
      {"--port", "0", "--camera", "/dev/null"},
      {"--port", "0", "--audio", "/nonexistent/sound.wav"},
      {"--port", "0", "--backup-speed", "0"},
      {"--port", "0", "--backup-speed", "65"},
      {"--port", "0", "--size-change-at", "10,5"},
      {"--port", "0", "--size-change-at", "5,"},
      {"--port", "0", "--size-change-at", "1,2,3,4,5,6,7,8,9"},
      {"--port", "0", "--clock", "24:00:00"},
      {"--port", "0", "--clock", "8:00"},
      {"--port", "0", "--gap-jump=1"},
      {"--port", "0", "--mss", "535"},
      {"--port", "0", "--mss", "65496"},
      {"--port", "0", "--mss", "-1"},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    SimProcess sim;
    sim.QuietErrors();
    EXPECT_FALSE(sim.Start(args));
    int status = sim.Stop(0);  // signal 0: just wait for it to end
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    EXPECT_TRUE(sim.lines().empty());
  }
}

// The connections take the segment size of an Ethernet link unless told
// otherwise; --mss 0 leaves loopback's own, far larger one.
TEST(DvrSimProcess, ConnectionsUseTheSegmentSizeAsked) {
  struct Case {
    std::vector<std::string> args;
    int low, high;  // the segment size the client sends with
  } cases[] = {
      {{"--port", "0"}, 1000, 1460},
      {{"--port", "0", "--mss", "8960"}, 8000, 8960},
      {{"--port", "0", "--mss", "0"}, 16384, 65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    SimProcess sim;
    ASSERT_TRUE(sim.Start(c.args));
    Client client(sim.port());
    ASSERT_TRUE(client.connected());
    int mss = client.SegmentSize();
    EXPECT_GE(mss, c.low);
    EXPECT_LE(mss, c.high);
    Answer a;
    ASSERT_TRUE(client.Send(Packet(0, 0)));
    ASSERT_TRUE(client.Read(&a));
    EXPECT_EQ(a.type(), 1u);
  }
}

TEST(DvrSimProcess, AcceptsThePortInBothSpellings) {
  for (const char* spelling : {"--port=0", "--port 0"}) {
    SCOPED_TRACE(spelling);
    SimProcess sim;
    std::vector<std::string> args;
    if (std::string(spelling) == "--port=0") args = {"--port=0"};
    else args = {"--port", "0"};
    ASSERT_TRUE(sim.Start(args));
    EXPECT_NE(sim.port(), 0);
    EXPECT_EQ(sim.Stop(), 0);
  }
}

// --- The recorder's modules: handshake, commands, named variables ---------

// A module message with the checksum the wire asks for: the byte sum up to
// 1024 bytes after the header, one word per whole kilobyte above.
Bytes Checked(const char* code, const Bytes& rest) {
  uint32_t sum = 0;
  if (rest.size() <= 1024) {
    for (uint8_t b : rest) sum += b;
  } else {
    for (size_t k = 0; k + 1024 <= rest.size(); k += 1024) sum += U32(&rest[k]);
  }
  return Message(code, rest, sum);
}

// Sub-header words (zero-filled to 32 bytes), then the body.
Bytes Rest(std::vector<uint32_t> words, const Bytes& body = {}) {
  Bytes r(32, 0);
  for (size_t i = 0; i < words.size() && i < 8; i++) Put32(r, 4 * i, words[i]);
  return r + body;
}

// One module message of an answer's payload, its header included.
struct Msg {
  std::string code;
  Bytes m;
  uint32_t word(size_t i) const { return U32(&m[32 + 4 * i]); }
  const uint8_t* body() const { return &m[64]; }
  size_t body_size() const { return m.size() - 64; }
};

// The messages of an answer packet, each checked for length and checksum.
std::vector<Msg> Messages(const Answer& a) {
  std::vector<Msg> out;
  size_t at = 64;
  while (at + 32 <= a.body.size()) {
    uint32_t len = U32(&a.body[at]);
    EXPECT_GE(len, 64u);
    EXPECT_LE(at + len, a.body.size());
    if (len < 64 || at + len > a.body.size()) break;
    Bytes m(a.body.begin() + at, a.body.begin() + at + len);
    Bytes rest(m.begin() + 32, m.end());
    EXPECT_EQ(U32(&m[8]), U32(&Checked("XXXX", rest)[8])) << "checksum";
    out.push_back(Msg{std::string(reinterpret_cast<const char*>(&m[4]), 4), m});
    at += len;
  }
  EXPECT_EQ(at, a.body.size());
  return out;
}

Bytes HelloBody() {
  Bytes b(256, 0);
  Put32(b, 0, 1);
  Put32(b, 4, 1);
  b[9] = 1;
  b[10] = 0x11, b[11] = 0x08;  // 0x0811
  b[12] = 0x34, b[13] = 0x12;  // 0x1234
  return b;
}

Bytes ClientInfoBody() {
  Bytes b(256, 0);
  Put32(b, 0, 16);
  Put32(b, 8, 1);
  const char* texts[4] = {"[OS] 2.9.2_138ED", "[SN] 1234567890", "[B] REV:1.9", "[N] 7104"};
  for (int t = 0; t < 4; t++) memcpy(&b[12 + 32 * t], texts[t], strlen(texts[t]));
  return b;
}

std::string Text(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), n));
}

// A client with a session, talking to the modules.
class Recorder {
 public:
  Recorder(SimProcess& sim) : sim_(sim), c_(sim.port()) {
    Answer a;
    if (c_.Send(Packet(0, 0)) && c_.Read(&a) && a.type() == 1) session_ = a.session();
  }
  uint32_t session() const { return session_; }
  // Sends one packet of these messages and returns the answer's messages.
  std::vector<Msg> Exchange(const Bytes& payload, uint32_t sock = 0) {
    Answer a;
    if (!c_.Send(Packet(5, session_, payload, 0, sock)) || !c_.Read(&a)) {
      ADD_FAILURE() << "no answer";
      return {};
    }
    EXPECT_EQ(a.session(), session_);
    EXPECT_EQ(a.type(), a.body.size() > 64 ? 5u : 2u);
    return Messages(a);
  }
  std::vector<Msg> Tavn(uint32_t code, const Bytes& body) {
    return Exchange(Checked("TAVN", Rest({session_, code}, body)));
  }
  std::vector<Msg> Icmd(uint32_t op, uint32_t type, uint32_t seq, const Bytes& body) {
    return Exchange(Checked("ICMD", Rest({session_, op, type, 3, seq}, body)));
  }
  std::vector<Msg> Ictl(const std::string& name, const Bytes& value, uint32_t flag = 1) {
    Bytes body(256, 0);
    Put32(body, 0, uint32_t(value.size() + 256));
    memcpy(&body[4], name.data(), name.size());
    return Exchange(Checked("ICTL", Rest({session_, 0, 0, flag}, body + value)));
  }
  // The machine record after a good hello and client info.
  Bytes Handshake() {
    std::vector<Msg> hello = Tavn(0, HelloBody());
    EXPECT_EQ(hello.size(), 1u);
    std::vector<Msg> info = Tavn(1, ClientInfoBody());
    if (info.size() != 1 || info[0].code != "TAVN" || info[0].word(1) != 1) return {};
    return Bytes(info[0].body(), info[0].body() + info[0].body_size());
  }
  Client& client() { return c_; }

 private:
  SimProcess& sim_;
  Client c_;
  uint32_t session_ = 0;
};

TEST(DvrSimHandshake, HelloIsAnsweredWithClientKindOneAndClientInfoWithTheMachineRecord) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
  Recorder r(sim);
  ASSERT_NE(r.session(), 0u);
  std::vector<Msg> hello = r.Tavn(0, HelloBody());
  ASSERT_EQ(hello.size(), 1u);
  EXPECT_EQ(hello[0].code, "TAVN");
  EXPECT_EQ(hello[0].m.size(), 64u + 256u);
  EXPECT_EQ(hello[0].word(0), r.session());
  EXPECT_EQ(hello[0].word(1), 0u);
  EXPECT_EQ(U32(hello[0].body()), 1u);  // client kind
  EXPECT_EQ(sim.WaitFor("tavn hello "), "tavn hello session=" + std::to_string(r.session()) + " bytes=256");

  std::vector<Msg> info = r.Tavn(1, ClientInfoBody());
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0].m.size(), 64u + 256u);
  EXPECT_EQ(info[0].word(1), 1u);
  EXPECT_EQ(sim.WaitFor("tavn client-info"),
            "tavn client-info session=" + std::to_string(r.session()) +
                " bytes=256 words=16,0,1 os=\"[OS] 2.9.2_138ED\" sn=\"[SN] 1234567890\" b=\"[B] REV:1.9\" "
                "n=\"[N] 7104\"");
  EXPECT_NE(sim.WaitFor("tavn machine-record"), "");

  // The viewer's close is taken without an answer.
  EXPECT_TRUE(r.Tavn(2, {}).empty());
  EXPECT_NE(sim.WaitFor("tavn close-from-viewer"), "");
}

TEST(DvrSimHandshake, BadHellosAndEarlyClientInfoAreNotAnswered) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
  Recorder r(sim);
  ASSERT_NE(r.session(), 0u);
  EXPECT_TRUE(r.Tavn(1, ClientInfoBody()).empty());  // no hello yet
  struct Case {
    const char* name;
    size_t at;
    uint8_t value;
    size_t size;
  };
  const Case cases[] = {
      {"word 0 not 1", 0, 2, 256},     {"byte 9 not 1", 9, 0, 256},   {"0x0811 wrong", 10, 0x12, 256},
      {"0x1234 wrong", 13, 0x13, 256}, {"word 14 not 0", 14, 1, 256}, {"short body", 0, 1, 200},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Bytes b = HelloBody();
    b[k.at] = k.value;
    b.resize(k.size);
    EXPECT_TRUE(r.Tavn(0, b).empty());
  }
  // A hello naming another session is not this session's.
  Bytes wrong = Checked("TAVN", Rest({r.session() + 1, 0}, HelloBody()));
  EXPECT_TRUE(r.Exchange(wrong).empty());
}

TEST(DvrSimHandshake, MachineRecordFollowsTheCommandLine) {
  const std::string full(32, 'M');
  struct Case {
    std::vector<std::string> args;
    uint32_t channels, variant, titles, fps25, sockets, audio;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {{}, 4, 0, 0, 0, 1, 1, {"DVR-SIM", "V1.0.0 SIM", "SN 00000001", ""}},
      {{"--channels", "8", "--sockets", "2", "--pal", "--no-audio"},
       8,
       0,
       0,
       1,
       2,
       2,
       {"DVR-SIM", "V1.0.0 SIM", "SN 00000001", ""}},
      {{"--channels", "16", "--variant", "3", "--titles", "--text1", full, "--text2", "B", "--text3", "",
        "--text4", "D4"},
       16,
       3,
       1,
       0,
       1,
       1,
       {full, "B", "", "D4"}},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    SimProcess sim;
    ASSERT_TRUE(sim.Start(args));
    Recorder r(sim);
    Bytes m = r.Handshake();
    ASSERT_EQ(m.size(), 256u);
    EXPECT_EQ(U32(&m[0]), k.channels);
    EXPECT_EQ(U32(&m[4]), k.variant);
    EXPECT_EQ(U32(&m[8]), k.titles);
    for (int t = 0; t < 4; t++) EXPECT_EQ(Text(&m[12 + 32 * t], 32), k.texts[t]) << "text " << t;
    EXPECT_EQ(U32(&m[140]), k.fps25);
    EXPECT_EQ(U32(&m[148]), k.sockets);
    EXPECT_EQ(U32(&m[224]), k.audio);
    EXPECT_EQ(U32(&m[228]), 0u);
  }
}

TEST(DvrSimHandshake, CloseAfterMsClosesTheConfiguredSessionOnce) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--close-after-ms", "50"}));
  Recorder r(sim);
  ASSERT_EQ(r.Handshake().size(), 256u);
  std::vector<Msg> got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (got.empty() && std::chrono::steady_clock::now() < deadline) {
    got = r.Exchange({});
    if (got.empty()) usleep(5000);
  }
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].code, "TAVN");
  EXPECT_EQ(got[0].m.size(), 64u);
  EXPECT_EQ(got[0].word(0), r.session());
  EXPECT_EQ(got[0].word(1), 2u);
  EXPECT_EQ(sim.WaitFor("tavn close "), "tavn close session=" + std::to_string(r.session()));
  // Once per run: a new session is not closed again.
  Recorder again(sim);
  ASSERT_EQ(again.Handshake().size(), 256u);
  usleep(100000);
  EXPECT_TRUE(again.Exchange({}).empty());
}

TEST(DvrSimHandshake, EachConnectionTracesItsFirstPacket) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
  Recorder r(sim);
  ASSERT_NE(r.session(), 0u);
  EXPECT_EQ(sim.WaitFor("first-packet"), "first-packet client=1 type=0 session=0 socket=0");
  Client second(sim.port());
  Answer a;
  ASSERT_TRUE(second.Send(Packet(5, r.session(), {}, 0, 1)));
  ASSERT_TRUE(second.Read(&a));
  ASSERT_TRUE(second.Send(Packet(5, r.session(), {}, 0, 1)));
  ASSERT_TRUE(second.Read(&a));
  EXPECT_EQ(sim.WaitFor("first-packet"),
            "first-packet client=2 type=5 session=" + std::to_string(r.session()) + " socket=1");
  EXPECT_EQ(sim.Stop(), 0);
  size_t n = 0;
  for (const std::string& l : sim.lines()) n += l.rfind("first-packet", 0) == 0;
  EXPECT_EQ(n, 2u);
}

// A setup body: header {mask, 72 + size, byte sum} and the item.
Bytes SetupBody(uint32_t mask, const Bytes& item, uint32_t total = 0, int sum_delta = 0) {
  Bytes b(72, 0);
  Put32(b, 0, mask);
  Put32(b, 4, total ? total : uint32_t(72 + item.size()));
  uint32_t sum = 0;
  for (uint8_t x : item) sum += x;
  Put32(b, 8, sum + uint32_t(sum_delta));
  return b + item;
}

Bytes Cut(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

TEST(DvrSimCommands, GetAnswersEachStoredItemWithOpFour) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
  Recorder r(sim);
  struct Case {
    uint32_t mask, size;
  };
  const Case cases[] = {{1, 4}, {2, 68}, {4, 116}, {8, 256}, {16, 256}, {32, 0}};
  uint32_t seq = 40;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.mask);
    Bytes request(4, 0);
    Put32(request, 0, k.mask);
    std::vector<Msg> got = r.Icmd(1, 4096, ++seq, request);
    ASSERT_EQ(got.size(), 1u);
    const Msg& m = got[0];
    EXPECT_EQ(m.code, "ICMD");
    EXPECT_EQ(m.word(0), r.session());
    EXPECT_EQ(m.word(1), 4u);
    EXPECT_EQ(m.word(2), 4096u);
    EXPECT_EQ(m.word(3), 3u);   // the mode word sent
    EXPECT_EQ(m.word(4), seq);  // the request's number
    ASSERT_EQ(m.body_size(), 72u + k.size);
    EXPECT_EQ(U32(m.body()), k.mask);
    EXPECT_EQ(U32(m.body() + 4), 72u + k.size);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < k.size; i++) sum += m.body()[72 + i];
    EXPECT_EQ(U32(m.body() + 8), sum);
  }
  // Sane start values: bitrate 9, mail marker 20 in the apply form.
  Bytes req(4, 0);
  Put32(req, 0, 1);
  EXPECT_EQ(U32(r.Icmd(1, 4096, 1, req)[0].body() + 72), 9u);
  Put32(req, 0, 8);
  std::vector<Msg> mail = r.Icmd(1, 4096, 2, req);
  EXPECT_EQ(mail[0].body()[72], 20);
  EXPECT_EQ(mail[0].body()[73], 9);
}

TEST(DvrSimCommands, StartItemsFollowTheVariantAndGetsCanBeLeftUnanswered) {
  struct Case {
    std::vector<std::string> flags;
    uint16_t ddnsService;
    std::string ddnsHost;
    char mailMode;
    uint32_t intervalWord;  // machine record word 57
    bool answered;
  };
  const Case cases[] = {
      {{}, 0, "", '0', 0, true},
      {{"--variant", "1"}, 2, "guest", '2', 0, true},
      {{"--variant", "2"}, 0, "", '0', 0, true},
      {{"--interval-hidden", "--no-setup-answer"}, 0, "", '0', 1, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.flags.empty() ? "defaults" : k.flags[0] + " " + k.flags.back());
    SimProcess sim;
    std::vector<std::string> args = {"--port", "0", "--trace"};
    args.insert(args.end(), k.flags.begin(), k.flags.end());
    ASSERT_TRUE(sim.Start(args));
    Recorder r(sim);
    Bytes machine = r.Handshake();
    ASSERT_EQ(machine.size(), 256u);
    EXPECT_EQ(U32(machine.data() + 228), k.intervalWord);
    Bytes req(4, 0);
    Put32(req, 0, 4);
    std::vector<Msg> ddns = r.Icmd(1, 4096, 1, req);
    Put32(req, 0, 8);
    std::vector<Msg> mail = r.Icmd(1, 4096, 2, req);
    if (!k.answered) {
      EXPECT_TRUE(ddns.empty());
      EXPECT_TRUE(mail.empty());
      EXPECT_EQ(sim.WaitFor("icmd get"), "icmd get mask=4 unanswered");
      // A set is still stored and answered.
      Bytes pppoe(68, 0);
      pppoe[0] = 1;
      std::vector<Msg> set = r.Icmd(2, 4096, 3, SetupBody(2, pppoe));
      ASSERT_EQ(set.size(), 1u);
      EXPECT_EQ(set[0].word(1), 4u);
      continue;
    }
    ASSERT_EQ(ddns.size(), 1u);
    const uint8_t* d = ddns[0].body() + 72;
    EXPECT_EQ(uint16_t(d[2] | (d[3] << 8)), k.ddnsService);
    EXPECT_EQ(Text(d + 68, 48), k.ddnsHost);
    ASSERT_EQ(mail.size(), 1u);
    EXPECT_EQ(mail[0].body()[72 + 2], k.mailMode);
  }
}

TEST(DvrSimCommands, SetIsStoredAndAnsweredOnlyWhenItsHeaderHolds) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
  Recorder r(sim);
  Bytes pppoe(68, 0);
  pppoe[0] = 1;
  memcpy(&pppoe[4], "someone", 7);
  memcpy(&pppoe[36], "secret", 6);
  Bytes other = pppoe;
  other[0] = 0;
  struct Case {
    const char* name;
    Bytes body;
    bool stored;
    const char* trace;
  };
  const Case cases[] = {
      {"wrong sum", SetupBody(2, other, 0, 1), false, "icmd set mask=2 bad-sum"},
      {"total too small", SetupBody(2, other, 100), false, "icmd set mask=2 total=100 bytes=140 bad-size"},
      {"cut short", Cut(SetupBody(2, other), 120), false, "icmd set mask=2 total=140 bytes=120 bad-size"},
      {"unknown mask", SetupBody(64, other), false, "icmd set mask=64 unknown"},
      {"good", SetupBody(2, pppoe), true, "icmd set mask=2 stored"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::vector<Msg> got = r.Icmd(2, 4096, 7, k.body);
    EXPECT_EQ(sim.WaitFor("icmd set"), k.trace);
    if (!k.stored) {
      EXPECT_TRUE(got.empty());
      continue;
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].word(1), 4u);
    EXPECT_EQ(Bytes(got[0].body(), got[0].body() + got[0].body_size()), SetupBody(2, pppoe));
  }
  // A later get returns what the good set stored.
  Bytes req(4, 0);
  Put32(req, 0, 2);
  std::vector<Msg> got = r.Icmd(1, 4096, 8, req);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(Bytes(got[0].body() + 72, got[0].body() + 140), pppoe);
}

TEST(DvrSimCommands, RequestBlocksAreEchoedAndEveryCommandIsTraced) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
  Recorder r(sim);
  Bytes block(64);
  for (size_t i = 0; i < 64; i++) block[i] = uint8_t(i * 3);
  for (uint32_t type : {256u, 512u, 1024u}) {
    SCOPED_TRACE(type);
    std::vector<Msg> got = r.Icmd(2, type, type + 1, block);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].word(1), 4u);
    EXPECT_EQ(got[0].word(2), type);
    EXPECT_EQ(Bytes(got[0].body(), got[0].body() + 64), block);
    EXPECT_EQ(sim.WaitFor("icmd op="), "icmd op=2 type=" + std::to_string(type) +
                                           " mode=3 seq=" + std::to_string(type + 1) + " bytes=64");
  }
  EXPECT_TRUE(r.Icmd(2, 2048, 9, {}).empty());
  EXPECT_EQ(sim.WaitFor("icmd op="), "icmd op=2 type=2048 mode=3 seq=9 bytes=0");
}

TEST(DvrSimVariables, MachineTypeReportsUpnpAsTheCommandLineSays) {
  for (bool upnp : {false, true}) {
    SCOPED_TRACE(upnp);
    SimProcess sim;
    std::vector<std::string> args = {"--port", "0", "--trace"};
    if (upnp) args.push_back("--upnp");
    ASSERT_TRUE(sim.Start(args));
    Recorder r(sim);
    Bytes value(960, 0);
    value[100] = 7;
    std::vector<Msg> got = r.Ictl("Tavn_Mach_Type_Data_W", value);
    ASSERT_EQ(got.size(), 1u);
    const Msg& m = got[0];
    EXPECT_EQ(m.code, "ICTL");
    EXPECT_EQ(m.m.size(), 1280u);
    EXPECT_EQ(m.word(0), r.session());
    EXPECT_EQ(m.word(2), 0u);  // sub-type
    EXPECT_EQ(m.word(3), 1u);  // run the handler
    EXPECT_EQ(U32(m.body()), 960u + 256u);
    EXPECT_EQ(Text(m.body() + 4, 252), "Tavn_Mach_Type_Data_R");
    EXPECT_EQ(U32(m.body() + 256 + 8), upnp ? 1u : 0u);
    EXPECT_EQ(m.body()[256 + 100], 7);
  }
}

TEST(DvrSimVariables, UpnpWordIsStoredByWritesAndAnsweredToReads) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
  Recorder r(sim);
  struct Case {
    uint32_t sent, answered;
  };
  const Case cases[] = {
      {0xC0001F90, 80},          // a read before any write: the start value
      {0x60001F90, 0x40001F90},  // a write, stored without bit 29
      {0x80000000, 0x40001F90},  // a read
      {0x20000050, 0x00000050},  // switched off, port 80
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << k.sent);
    Bytes value(4);
    Put32(value, 0, k.sent);
    std::vector<Msg> got = r.Ictl("Tavn_Upnp_C_Data_W", value);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(Text(got[0].body() + 4, 252), "Tavn_Upnp_C_Data_R");
    EXPECT_EQ(U32(got[0].body()), 260u);
    EXPECT_EQ(U32(got[0].body() + 256), k.answered);
  }
}

TEST(DvrSimVariables, WatermarkRequestGetsTheWatermarkBlock) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
  Recorder r(sim);
  Bytes channel(4, 0);
  channel[0] = 3;
  std::vector<Msg> got = r.Ictl("Tavn_Watermark_Var_R", channel);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(Text(got[0].body() + 4, 252), "Tavn_Watermark_Var_W");
  EXPECT_EQ(U32(got[0].body()), 160u + 256u);
  EXPECT_NE(U32(got[0].body() + 256 + 36), 0u);
  // Sizes other than the variable's, unknown names and short messages get nothing.
  EXPECT_TRUE(r.Ictl("Tavn_Watermark_Var_R", Bytes(5, 0)).empty());
  EXPECT_TRUE(r.Ictl("Tavn_Nothing_W", Bytes(4, 0)).empty());
  Bytes lying(256, 0);
  Put32(lying, 0, 256 + 960);  // announces 960 bytes, carries none
  memcpy(&lying[4], "Tavn_Mach_Type_Data_W", 21);
  EXPECT_TRUE(r.Exchange(Checked("ICTL", Rest({r.session(), 0, 0, 1}, lying))).empty());
  EXPECT_NE(sim.WaitFor("ictl bad"), "");
}

// --- The cameras and microphones -------------------------------------------

// One frame as the recorder sent it: its block, header and payload.
struct Frame {
  Bytes block, header, payload;
  uint32_t word(size_t at) const { return U32(&block[at]); }
  uint32_t kind() const { return word(48); }
  uint32_t channel() const { return word(20); }
  uint32_t units() const { return uint32_t(header[18] | header[19] << 8); }
  uint32_t time() const { return U32(&header[4]); }
  uint32_t count(uint32_t fps) const { return time() * fps + header[8]; }
  bool key() const { return ((header[15] >> 4) & 3) == 0; }
  uint32_t source() const { return uint32_t(header[23] >> 5 & 3); }
};

// The viewer's 256-byte status report: it asks the recorder for frames and
// says how many bytes of frames it has room for (word 32).
Bytes StatusReport(uint32_t session, uint32_t room = 3 << 20) {
  Bytes report(256, 0);
  Put32(report, 128, room);
  return Checked("VIDO", Rest({session, 1}, report));
}

// The messages of a poll as the viewer sends them: its status report last.
Bytes WithReport(Recorder& r, Bytes first, uint32_t room = 3 << 20) {
  Bytes report = StatusReport(r.session(), room);
  first.insert(first.end(), report.begin(), report.end());
  return first;
}

// Polls until n video frames came (and their sound), each checked for the
// block's and header's lengths.
std::vector<Frame> PollFrames(Recorder& r, size_t n, Bytes first = {}) {
  std::vector<Frame> frames;
  size_t video = 0;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (video < n && std::chrono::steady_clock::now() < until) {
    for (const Msg& m : r.Exchange(WithReport(r, first))) {
      if (m.code != "VIDO") continue;
      EXPECT_EQ(m.word(0), r.session());
      EXPECT_EQ(m.word(1), 0u);  // op 0: a frame
      if (m.body_size() < 160) {
        ADD_FAILURE() << "short frame";
        continue;
      }
      Frame f{Bytes(m.body(), m.body() + 128), Bytes(m.body() + 128, m.body() + 160),
              Bytes(m.body() + 160, m.body() + m.body_size())};
      EXPECT_EQ(f.word(0), m.body_size());               // total length
      EXPECT_EQ(f.word(0), 128 + 64 * f.units());        // whole 64-byte units, header included
      EXPECT_EQ(U32(&f.header[0]), 0x03000000u);         // magic
      EXPECT_EQ(uint32_t(f.header[11] >> 6), f.kind());  // the kind in both
      if (f.kind() == 1) video++;
      frames.push_back(f);
    }
    first.clear();
    usleep(5000);
  }
  EXPECT_GE(video, n);
  return frames;
}

std::vector<Frame> OfKind(const std::vector<Frame>& frames, uint32_t kind) {
  std::vector<Frame> out;
  for (const Frame& f : frames)
    if (f.kind() == kind) out.push_back(f);
  return out;
}

TEST(DvrSimFrames, LiveChannelZeroFollowsTheFirstStatusReportAtTheFrameRate) {
  struct Case {
    bool pal;
    uint32_t fps, height, period;
  };
  for (const Case& k : {Case{false, 30, 15, 33}, Case{true, 25, 16, 40}}) {
    SCOPED_TRACE(k.pal ? "pal" : "ntsc");
    SimProcess sim;
    std::vector<std::string> args = {"--port", "0", "--trace", "--gop", "3"};
    if (k.pal) args.push_back("--pal");
    ASSERT_TRUE(sim.Start(args));
    Recorder r(sim);
    ASSERT_NE(r.session(), 0u);
    // No frames before the viewer reports its stream status.
    usleep(100000);
    for (const Msg& m : r.Exchange({})) EXPECT_NE(m.code, "VIDO");
    std::vector<Frame> frames = PollFrames(r, 13, StatusReport(r.session()));
    std::vector<Frame> video = OfKind(frames, 1);
    ASSERT_GE(video.size(), 13u);
    for (size_t i = 0; i < video.size(); i++) {
      SCOPED_TRACE(i);
      const Frame& f = video[i];
      EXPECT_EQ(f.channel(), 0u);
      EXPECT_EQ(f.word(8), k.period);                    // frame period, ms
      EXPECT_EQ(f.word(12), i + 1);                      // channel sequence
      EXPECT_EQ(f.word(52), 0u);                         // no request yet: any
      EXPECT_EQ(f.header[13], 20);                       // 320 wide
      EXPECT_EQ(f.header[12], k.height);                 // 240 or 256 high
      EXPECT_EQ(f.header[14] >> 4, 0);                   // channel bits
      EXPECT_EQ(f.source(), 0u);                         // live
      EXPECT_EQ(U32(&f.header[24]), (20 * k.fps) << 5);  // time scale
      EXPECT_EQ(f.key(), i % 3 == 0);
      if (i > 0) {
        EXPECT_EQ(f.count(k.fps) - video[i - 1].count(k.fps), 1u);
      }
      // One NAL unit that covers the rest of the unit: an IDR or a P slice.
      ASSERT_GE(f.payload.size(), 5u);
      uint32_t nal = uint32_t(f.payload[0]) << 24 | f.payload[1] << 16 | f.payload[2] << 8 | f.payload[3];
      EXPECT_EQ(nal + 4, f.payload.size());
      EXPECT_EQ(f.payload[4], f.key() ? 0x65 : 0x41);
    }
    // Sound with every fifth of a second of video, on the video's clock.
    std::vector<Frame> sound = OfKind(frames, 2);
    ASSERT_GE(sound.size(), 2u);
    for (size_t i = 0; i < sound.size(); i++) {
      EXPECT_EQ(sound[i].channel(), 0u);
      EXPECT_EQ(sound[i].units(), 51u);
      EXPECT_EQ(sound[i].word(12), i + 1);
      EXPECT_EQ((sound[i].count(k.fps) - video[0].count(k.fps)) % (k.fps / 5), 0u);
    }
  }
}

TEST(DvrSimFrames, PlaybackCommandSendsRecordedFramesOfItsChannelFromItsTime) {
  SimProcess sim;
  ASSERT_TRUE(
      sim.Start({"--port", "0", "--trace", "--channels", "8", "--no-audio", "--recordings", "always"}));
  Recorder r(sim);
  PollFrames(r, 1, StatusReport(r.session()));
  Bytes block(64, 0);
  Put32(block, 8, 5);      // playbackChannel
  Put32(block, 12, 1);     // playbackRun: playing
  Put32(block, 16, 1);     // playbackDirection: forwards
  Put32(block, 20, 1000);  // playbackTime
  std::vector<Frame> frames = PollFrames(r, 40, Checked("ICMD", Rest({r.session(), 2, 512, 1, 77}, block)));
  EXPECT_TRUE(OfKind(frames, 2).empty());  // --no-audio
  std::vector<Frame> recorded;
  for (const Frame& f : OfKind(frames, 1))
    if (f.source() == 1) recorded.push_back(f);
  ASSERT_GE(recorded.size(), 5u);
  EXPECT_EQ(recorded[0].time(), 1000u);
  EXPECT_EQ(recorded[0].header[8], 0);
  for (size_t i = 0; i < recorded.size(); i++) {
    EXPECT_EQ(recorded[i].channel(), 5u);
    EXPECT_EQ(recorded[i].header[14] >> 4, 5);
    EXPECT_EQ(recorded[i].word(52), 77u);  // the request it answers
    EXPECT_EQ(recorded[i].key(), true);    // every frame a key frame by default
    EXPECT_EQ(recorded[i].count(30), 1000u * 30 + i);
  }
  EXPECT_TRUE(sim.Seen("vido start session=" + std::to_string(r.session()) +
                       " mode=1 source=1 channels=5 request=77"));
  // Setup mode stops the frames.
  r.Exchange(Checked("ICMD", Rest({r.session(), 1, 4096, 3, 78}, Bytes(4, 0))));
  usleep(100000);
  for (int i = 0; i < 3; i++)
    for (const Msg& m : r.Exchange({})) EXPECT_NE(m.code, "VIDO");
}

TEST(DvrSimFrames, ArmedBackupSendsItsSpanOnceAndEnds) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--pal", "--gop", "10", "--recordings", "always"}));
  Recorder r(sim);
  PollFrames(r, 1, StatusReport(r.session()));
  Bytes block(64, 0);
  Put32(block, 8, 1);     // backupChannel
  Put32(block, 12, 1);    // backupArmed: running
  Put32(block, 16, 500);  // backupStart
  Put32(block, 20, 501);  // backupEnd
  std::vector<Frame> recorded;
  Bytes first = Checked("ICMD", Rest({r.session(), 2, 1024, 2, 9}, block));
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!sim.Seen("vido stop session=" + std::to_string(r.session()) + " reason=end") &&
         std::chrono::steady_clock::now() < until) {
    for (const Msg& m : r.Exchange(WithReport(r, first))) {
      if (m.code != "VIDO" || m.body_size() < 160) continue;
      Frame f{Bytes(m.body(), m.body() + 128), Bytes(m.body() + 128, m.body() + 160), {}};
      if (f.kind() == 1 && f.source() == 1) recorded.push_back(f);
    }
    first.clear();
    usleep(5000);
  }
  // One second at 25 frames per second, a key frame every tenth, and the
  // first frame of the end mark, which ends the viewer's part.
  ASSERT_EQ(recorded.size(), 26u);
  EXPECT_EQ(recorded.back().count(25), 501u * 25);
  for (size_t i = 0; i < recorded.size(); i++) {
    EXPECT_EQ(recorded[i].count(25), 500u * 25 + i);
    EXPECT_EQ(recorded[i].channel(), 1u);
    EXPECT_EQ(recorded[i].key(), i % 10 == 0);
  }
  for (const Msg& m : r.Exchange({})) EXPECT_NE(m.code, "VIDO");
}

// A RIFF WAVE file of mono PCM samples at the given rate.
std::string WriteWav(const std::string& name, uint32_t rate, uint32_t bits, const Bytes& samples) {
  const std::string path = testing::TempDir() + name;
  Bytes w(44, 0);
  memcpy(&w[0], "RIFF", 4);
  Put32(w, 4, uint32_t(36 + samples.size()));
  memcpy(&w[8], "WAVEfmt ", 8);
  Put32(w, 16, 16);  // fmt size
  w[20] = 1;         // PCM
  w[22] = 1;         // one channel
  Put32(w, 24, rate);
  Put32(w, 28, rate * bits / 8);  // bytes per second
  w[32] = uint8_t(bits / 8);      // block align
  w[34] = uint8_t(bits);
  memcpy(&w[36], "data", 4);
  Put32(w, 40, uint32_t(samples.size()));
  w.insert(w.end(), samples.begin(), samples.end());
  FILE* f = fopen(path.c_str(), "wb");
  if (f) {
    fwrite(w.data(), 1, w.size(), f);
    fclose(f);
  }
  return path;
}

TEST(DvrSimFrames, SoundCarriesTheToneOrTheWavFileInTheHighBytes) {
  // 16-bit samples 0, 300, 600, ... and 8-bit samples 0 .. 255, 101 of each.
  Bytes s16, s8;
  for (int i = 0; i < 101; i++) {
    int16_t v = int16_t(i * 300 - 15000);
    s16.push_back(uint8_t(v));
    s16.push_back(uint8_t(uint16_t(v) >> 8));
    s8.push_back(uint8_t(i * 5 / 2));
  }
  const std::string wav16 = WriteWav("sim16.wav", 8000, 16, s16);
  const std::string wav8 = WriteWav("sim8.wav", 8000, 8, s8);
  const std::string wav11k = WriteWav("sim11k.wav", 11025, 16, s16);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::function<uint16_t(uint64_t)> sample;  // sample n as 16-bit offset binary
  };
  const Case cases[] = {
      {"tone 440",
       {"--tone", "440"},
       [](uint64_t n) {
         return uint16_t(32768 + lround(16384.0 * sin(2.0 * M_PI * 440.0 * double(n % 8000) / 8000.0)));
       }},
      {"16-bit file",
       {"--audio", wav16},
       [&](uint64_t n) {
         return uint16_t(int16_t(s16[2 * (n % 101)] | s16[2 * (n % 101) + 1] << 8) + 32768);
       }},
      {"8-bit file", {"--audio", wav8}, [&](uint64_t n) { return uint16_t(s8[n % 101] << 8); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SimProcess sim;
    std::vector<std::string> args = {"--port", "0", "--trace"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    ASSERT_TRUE(sim.Start(args));
    Recorder r(sim);
    std::vector<Frame> sound = OfKind(PollFrames(r, 14, StatusReport(r.session())), 2);
    ASSERT_GE(sound.size(), 2u);
    for (size_t f = 0; f < sound.size(); f++) {
      ASSERT_EQ(sound[f].payload.size(), 64u * 51 - 32);
      for (uint32_t i = 0; i < 1600; i++) {
        uint16_t want = k.sample(f * 1600 + i);
        uint16_t got = uint16_t(sound[f].payload[2 * i] | sound[f].payload[2 * i + 1] << 8);
        ASSERT_EQ(got, want) << "frame " << f << " sample " << i;
      }
    }
  }
  // A file of another rate is refused.
  SimProcess sim;
  sim.QuietErrors();
  EXPECT_FALSE(sim.Start({"--port", "0", "--audio", wav11k}));
  int status = sim.Stop(0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
  for (const std::string& p : {wav16, wav8, wav11k}) remove(p.c_str());
}

// --- Titles ------------------------------------------------------------------

constexpr uint32_t kTitleTotal = 115592;
constexpr uint32_t kTitleSections[5] = {16, 1, 2, 3, 4};
constexpr uint32_t kTitleSizes[5] = {1160, 50176, 30976, 20736, 12544};

// A VDTT message: sub-header {session, mode, op, section}, the body head
// {offset, length, byte sum + sum_delta}, then the data.
Bytes Vdtt(uint32_t session, uint32_t mode, uint32_t op, uint32_t section, uint32_t offset, uint32_t length,
           const Bytes& data = {}, int sum_delta = 0) {
  Bytes head(32, 0);
  uint32_t sum = 0;
  for (uint8_t b : data) sum += b;
  Put32(head, 0, offset);
  Put32(head, 4, length);
  Put32(head, 8, sum + uint32_t(sum_delta));
  return Checked("VDTT", Rest({session, mode, op, section}, head + data));
}

// Titles as the viewer uploads them: settings and four sets, the settings'
// word at 1144 the byte sums of the blocks with that word taken as 0.
Bytes TitleBlocks(uint8_t seed) {
  Bytes t = Pattern(kTitleTotal, 1);
  for (size_t i = 0; i < t.size(); i++) t[i] = uint8_t(t[i] * 7 + seed + i / 256);
  Put32(t, 1144, 0);
  uint32_t sum = 0;
  size_t at = 0;
  for (uint32_t size : kTitleSizes) {
    for (size_t i = 0; i < size; i++) sum += t[at + i];
    at += size;
  }
  Put32(t, 1144, sum);
  return t;
}

size_t SectionStart(uint32_t section) {
  size_t at = 0;
  for (int i = 0; i < 5 && kTitleSections[i] != section; i++) at += kTitleSizes[i];
  return at;
}

// Sends the first chunk, then every chunk the recorder asks for, until it
// asks for section 0; the chunk at bad_at (section, offset) gets a wrong sum.
// Returns the chunks sent.
int Upload(SimProcess& sim, Recorder& r, const Bytes& t, uint32_t bad_section = 99, uint32_t bad_offset = 0) {
  uint32_t section = 16, offset = 0, length = 1152;
  int chunks = 0;
  for (int guard = 0; guard < 200; guard++) {
    size_t start = SectionStart(section);
    Bytes data(t.begin() + long(start + offset), t.begin() + long(start + offset + length));
    int delta = section == bad_section && offset == bad_offset ? 1 : 0;
    std::vector<Msg> got = r.Exchange(Vdtt(r.session(), 0, 1, section, offset, length, data, delta));
    sim.Collect(0);
    chunks++;
    if (got.size() != 1 || got[0].code != "VDTT") {
      ADD_FAILURE() << "no request after section " << section << " offset " << offset;
      return chunks;
    }
    EXPECT_EQ(got[0].word(1), 1u);  // mode 1
    EXPECT_EQ(got[0].word(2), 0u);  // op 0: a chunk request
    EXPECT_EQ(got[0].body_size(), 32u);
    uint32_t next = got[0].word(3), next_offset = U32(got[0].body()), next_length = U32(got[0].body() + 4);
    if (next == 0) return chunks;
    // Each request is the chunk that follows, never more than 1,152 bytes.
    uint32_t size = kTitleSizes[std::find(kTitleSections, kTitleSections + 5, section) - kTitleSections];
    if (offset + length < size) {
      EXPECT_EQ(next, section);
      EXPECT_EQ(next_offset, offset + length);
    } else {
      EXPECT_EQ(next_offset, 0u);
    }
    uint32_t next_size = kTitleSizes[std::find(kTitleSections, kTitleSections + 5, next) - kTitleSections];
    EXPECT_EQ(next_length, std::min<uint32_t>(1152, next_size - next_offset));
    section = next, offset = next_offset, length = next_length;
  }
  ADD_FAILURE() << "the upload did not end";
  return chunks;
}

// A chunk of the stored titles: its head's offset and length and its data.
Bytes ReadChunk(Recorder& r, uint32_t mode, uint32_t section, uint32_t offset, uint32_t length,
                uint32_t* got_length) {
  std::vector<Msg> got = r.Exchange(Vdtt(r.session(), mode, 0, section, offset, length));
  if (got.size() != 1) {
    ADD_FAILURE() << "no chunk";
    return {};
  }
  EXPECT_EQ(got[0].word(2), 1u);  // op 1: data
  EXPECT_EQ(got[0].word(3), section);
  *got_length = U32(got[0].body() + 4);
  EXPECT_EQ(got[0].body_size(), 32u + *got_length);
  Bytes data(got[0].body() + 32, got[0].body() + got[0].body_size());
  uint32_t sum = 0;
  for (uint8_t b : data) sum += b;
  EXPECT_EQ(U32(got[0].body() + 8), sum);
  return data;
}

TEST(DvrSimTitles, AnUploadIsAskedForChunkByChunkTakenWholeAndReadBack) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
  Recorder r(sim);
  Bytes first = TitleBlocks(3);
  EXPECT_EQ(Upload(sim, r, first), 102);
  EXPECT_TRUE(sim.Seen("vdtt upload bytes=115592 checksum=" + std::to_string(U32(&first[1144])) + " ok"));

  struct {
    uint32_t mode, section, offset, length, want;
  } reads[] = {
      {0, 17, 0, 1152, 1152},   {1, 17, 1152, 1152, 8},     {1, 16, 1160, 8, 0},
      {1, 1, 50000, 1152, 176}, {1, 4, 0xFFFFFFF0u, 64, 0}, {1, 3, 0, 0xFFFFFFFFu, 1152},
  };
  for (auto c : reads) {
    uint32_t length = 0;
    Bytes data = ReadChunk(r, c.mode, c.section, c.offset, c.length, &length);
    EXPECT_EQ(length, c.want) << c.section << " " << c.offset;
    size_t start = SectionStart(c.section == 17 ? 16 : c.section);
    if (c.want > 0) {
      EXPECT_EQ(data, Bytes(first.begin() + long(start + c.offset),
                            first.begin() + long(start + c.offset + c.want)));
    }
  }
  EXPECT_TRUE(r.Exchange(Vdtt(r.session(), 1, 0, 0, 0, 1152)).empty());  // section 0 ends a read
  EXPECT_TRUE(sim.Seen("vdtt read done"));

  // An upload with one bad chunk goes on to its end but changes nothing.
  Bytes second = TitleBlocks(9);
  EXPECT_EQ(Upload(sim, r, second, 2, 2304), 102);
  EXPECT_NE(first, second);
  EXPECT_TRUE(sim.Seen("vdtt chunk section=2 offset=2304 length=1152 bad"));
  EXPECT_TRUE(sim.Seen("vdtt upload bytes=114440 "));
  uint32_t length = 0;
  EXPECT_EQ(ReadChunk(r, 1, 1, 0, 1152, &length), Bytes(first.begin() + 1160, first.begin() + 1160 + 1152));

  // Chunks beyond their section, longer than 1,152 bytes or than their
  // message are refused; the next chunk is asked for all the same.
  struct {
    uint32_t section, offset, length;
    size_t bytes;
  } hostile[] = {{3, 20736, 1152, 1152}, {3, 0xFFFFFF00u, 512, 512}, {3, 0, 2000, 2000}, {3, 0, 1152, 600}};
  for (auto h : hostile) {
    std::vector<Msg> got =
        r.Exchange(Vdtt(r.session(), 0, 1, h.section, h.offset, h.length, Pattern(h.bytes, 1)));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].word(2), 0u);
    EXPECT_TRUE(sim.Seen("vdtt chunk section=3 offset=" + std::to_string(h.offset) +
                         " length=" + std::to_string(h.length) + " bad"));
  }
}

}  // namespace

// --- The recording index and the recording search ---------------------------

// Recorder time of a date: seconds since 2000-01-01 in a calendar that
// counts 2000 as a common year.
uint32_t RecorderTime(uint32_t y, uint32_t m, uint32_t d, uint32_t h = 0, uint32_t mi = 0, uint32_t s = 0) {
  static const uint32_t kMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  auto leap = [](uint32_t k) { return k % 4 == 0 && k % 100 != 0; };
  uint32_t days = 0;
  for (uint32_t k = 0; k < y - 2000; k++) days += leap(k) ? 366 : 365;
  for (uint32_t i = 0; i + 1 < m; i++) days += kMonth[i] + (i == 1 && leap(y - 2000) ? 1 : 0);
  return (days + d - 1) * 86400 + h * 3600 + mi * 60 + s;
}

// A query or echo: sub-header {session, index, op, channel}, 72-byte record.
Bytes Search(uint32_t session, uint32_t index, uint32_t op, uint32_t channel, uint32_t a, uint32_t b,
             uint32_t c = 0) {
  Bytes record(72, 0);
  Put32(record, 0, a);
  Put32(record, 4, b);
  Put32(record, 8, c);
  return Checked("PBBA", Rest({session, index, op, channel}, record));
}

// The PBBA messages of an answer.
std::vector<Msg> Pbba(const std::vector<Msg>& msgs) {
  std::vector<Msg> out;
  for (const Msg& m : msgs)
    if (m.code == "PBBA") out.push_back(m);
  return out;
}

// Runs a whole search: query, the answer echoed, the reply; the entries'
// flags (first byte's low five bits), or nothing when any step failed.
std::vector<int> Entries(Recorder& r, uint32_t index, uint32_t channel, uint32_t start, uint32_t end) {
  std::vector<Msg> answer = Pbba(r.Exchange(Search(r.session(), index, 0, channel, start, end)));
  EXPECT_EQ(answer.size(), 1u);
  if (answer.size() != 1) return {};
  const Msg& a = answer[0];
  EXPECT_EQ(a.word(0), r.session());
  EXPECT_EQ(a.word(1), index);
  EXPECT_EQ(a.word(2), 0u);
  EXPECT_EQ(a.word(3), channel);
  EXPECT_GE(a.body_size(), 8u);
  std::vector<Msg> reply =
      Pbba(r.Exchange(Search(r.session(), index, 1, channel, U32(a.body()), U32(a.body() + 4), 72)));
  EXPECT_EQ(reply.size(), 1u);
  if (reply.size() != 1) return {};
  const Msg& m = reply[0];
  EXPECT_EQ(m.word(1), index);
  EXPECT_EQ(m.word(2), 1u);
  EXPECT_EQ(m.word(3), channel);
  uint32_t length = U32(m.body() + 8);
  EXPECT_EQ(length, m.body_size());
  uint32_t sum = 0;
  for (uint32_t i = 72; i < length && i < m.body_size(); i++) sum += m.body()[i];
  EXPECT_EQ(U32(m.body() + 12), sum);
  std::vector<int> set;
  for (uint32_t i = 72; i + 1 < length && i + 1 < m.body_size(); i += 2)
    set.push_back((m.body()[i] & 0x1F) != 0);
  return set;
}

std::vector<int> Flags(size_t n, std::initializer_list<size_t> on) {
  std::vector<int> out(n, 0);
  for (size_t i : on) out[i] = 1;
  return out;
}

TEST(DvrSimSearch, RepliesFollowTheRecordingIndex) {
  SimProcess sim;
  // Channel 2: 5 to 7 March 08:00-18:00; channels 1-4: 20 March 10:30-11:00.
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--channels", "4", "--recordings",
                         "2/2024-03-05..2024-03-07/08:00-18:00;1-4/2024-03-20/10:30-11:00"}));
  Recorder r(sim);
  const uint32_t grid = RecorderTime(2024, 2, 25), day = 86400;
  // The 42 days from Sunday 25 February.
  EXPECT_EQ(Entries(r, 4, 1, grid, grid + 42 * day), Flags(42, {9, 10, 11, 24}));
  EXPECT_EQ(Entries(r, 4, 0, grid, grid + 42 * day), Flags(42, {24}));
  EXPECT_EQ(Entries(r, 4, 3, grid, grid + 42 * day), Flags(42, {24}));
  // Half hours of one day.
  std::vector<int> office(48, 0);
  for (int i = 16; i < 36; i++) office[i] = 1;
  EXPECT_EQ(Entries(r, 7, 1, RecorderTime(2024, 3, 6), RecorderTime(2024, 3, 7)), office);
  EXPECT_EQ(Entries(r, 7, 2, RecorderTime(2024, 3, 20), RecorderTime(2024, 3, 21)), Flags(48, {21}));
  EXPECT_EQ(Entries(r, 7, 2, RecorderTime(2024, 3, 6), RecorderTime(2024, 3, 7)), Flags(48, {}));
  // A channel the machine does not have has nothing.
  EXPECT_EQ(Entries(r, 7, 9, RecorderTime(2024, 3, 20), RecorderTime(2024, 3, 21)), Flags(48, {}));
  EXPECT_EQ(sim.Count("pbba reply "), 7u);
}

TEST(DvrSimSearch, AWindowBeforeTheRangesStartWrapsLikeTheGrid) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--recordings", "1/2000-01-01..2000-01-03/all"}));
  Recorder r(sim);
  // January 2000's grid starts a week before time 0.
  EXPECT_EQ(Entries(r, 4, 0, 0u - 7 * 86400u, 35 * 86400u), Flags(42, {7, 8, 9}));
}

TEST(DvrSimSearch, OnlyAGoodEchoGetsTheReply) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--recordings", "always"}));
  Recorder r(sim);
  const uint32_t s = r.session(), t = RecorderTime(2024, 3, 6);
  // An echo with no query before it.
  EXPECT_TRUE(Pbba(r.Exchange(Search(s, 7, 1, 0, 1, 48, 72))).empty());
  std::vector<Msg> answer = Pbba(r.Exchange(Search(s, 7, 0, 0, t, t + 86400)));
  ASSERT_EQ(answer.size(), 1u);
  uint32_t a = U32(answer[0].body()), b = U32(answer[0].body() + 4);
  struct Case {
    const char* what;
    Bytes echo;
  } const bad[] = {
      {"first word", Search(s, 7, 1, 0, a + 1, b, 72)},
      {"second word", Search(s, 7, 1, 0, a, b + 1, 72)},
      {"word 8", Search(s, 7, 1, 0, a, b, 71)},
      {"another channel", Search(s, 7, 1, 1, a, b, 72)},
      {"another index", Search(s, 4, 1, 0, a, b, 72)},
      {"short", Checked("PBBA", Rest({s, 7, 1, 0}, Bytes(71, 0)))},
      {"index 8", Search(s, 8, 1, 0, a, b, 72)},
  };
  for (const Case& k : bad) EXPECT_TRUE(Pbba(r.Exchange(k.echo)).empty()) << k.what;
  // The good one still answers, once.
  EXPECT_EQ(Pbba(r.Exchange(Search(s, 7, 1, 0, a, b, 72))).size(), 1u);
  EXPECT_TRUE(Pbba(r.Exchange(Search(s, 7, 1, 0, a, b, 72))).empty());
  EXPECT_GE(sim.Count("pbba echo session=" + std::to_string(s) + " index=7 bad"), 5u);
}

TEST(DvrSimProcess, RejectsBadRecordingSpecs) {
  for (const char* spec :
       {"", "all", "all/last10", "all/last0/08:00-18:00", "0/last10/08:00-18:00", "17/last10/08:00-18:00",
        "all/2024-02-30/08:00-18:00", "all/1999-12-31/all", "all/2024-03-05..2024-03-01/all",
        "all/last10/08:15-18:00", "all/last10/18:00-08:00", "all/last10/08:00-24:30",
        "all/last10/08:00-18:00/x", "1,,2/all/all"}) {
    SCOPED_TRACE(spec);
    SimProcess sim;
    sim.QuietErrors();
    EXPECT_FALSE(sim.Start({"--port", "0", "--recordings", spec}));
    int status = sim.Stop(0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
  }
}

TEST(DvrSimFrames, PlaybackSendsFramesOnlyWhereTheIndexHasVideo) {
  SimProcess sim;
  ASSERT_TRUE(
      sim.Start({"--port", "0", "--trace", "--no-audio", "--recordings", "1/2024-03-05/08:00-08:30"}));
  Recorder r(sim);
  PollFrames(r, 1, StatusReport(r.session()));
  const std::string gap = "vido gap session=" + std::to_string(r.session()) + " ch=0 time=";
  const uint32_t end = RecorderTime(2024, 3, 5, 8, 30);
  // Playing from 08:29:59: one second of frames, then none.
  auto play = [&](uint32_t time, uint32_t seq, uint32_t gapAt) {
    Bytes block(64, 0);
    Put32(block, 8, 0);   // playbackChannel
    Put32(block, 12, 1);  // playing
    Put32(block, 16, 1);  // forwards
    Put32(block, 20, time);
    std::vector<Frame> recorded;
    Bytes first = Checked("ICMD", Rest({r.session(), 2, 512, 1, seq}, block));
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    // Until the gap shows (every frame before it is due by then), then
    // until an exchange after it brings no more frames.
    bool gapSeen = false;
    while (std::chrono::steady_clock::now() < until) {
      const bool drained = gapSeen;
      size_t got = 0;
      for (const Msg& m : r.Exchange(WithReport(r, first))) {
        if (m.code != "VIDO" || m.body_size() < 160) continue;
        Frame f{Bytes(m.body(), m.body() + 128), Bytes(m.body() + 128, m.body() + 160), {}};
        if (f.kind() == 1 && f.source() == 1 && f.word(52) == seq) recorded.push_back(f), got++;
      }
      first.clear();
      if (drained && got == 0) break;
      if (!gapSeen) gapSeen = sim.Count(gap + std::to_string(gapAt)) > 0;
      usleep(5000);
    }
    return recorded;
  };
  std::vector<Frame> recorded = play(end - 1, 50, end);
  ASSERT_EQ(recorded.size(), 30u);
  for (size_t i = 0; i < recorded.size(); i++) EXPECT_EQ(recorded[i].count(30), (end - 1) * 30 + i);
  EXPECT_TRUE(sim.Seen(gap + std::to_string(end)));
  // A time with no recording gets no frames at all.
  EXPECT_TRUE(play(RecorderTime(2024, 3, 5, 7), 51, RecorderTime(2024, 3, 5, 7)).empty());
  EXPECT_TRUE(sim.Seen(gap + std::to_string(RecorderTime(2024, 3, 5, 7))));
}

// What dvr-sim --dump-frames writes from recorder second 850000000 with
// these options; empty when it fails.
Bytes DumpedFrames(const std::string& options) {
  Bytes d;
  const std::string file = ScratchFile("tavlin-dump");
  if (file.empty()) return d;
  std::string cmd = std::string(DVR_SIM_PATH) + " --dump-frames " + file + " --dump-start 850000000 " +
                    options + " >/dev/null 2>&1";
  if (system(cmd.c_str()) == 0) {
    if (FILE* f = fopen(file.c_str(), "rb")) {
      uint8_t buf[65536];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + n);
      fclose(f);
    }
  }
  unlink(file.c_str());
  return d;
}

// --dump-frames: without listening, the frames a backup would bring, each
// header and payload one after another, paced by their headers alone.
TEST(DvrSimFrames, DumpFramesWritesABackupsFramesToAFile) {
  struct Case {
    const char* options;
    uint32_t fps, heightMbs, channel, sound;  // sound frames per second
  } cases[] = {
      {"--seconds 2 --gop 10", 30, 15, 0, 5},
      {"--seconds 3 --pal --dump-channel 1", 25, 16, 1, 5},
      {"--seconds 1 --no-audio --dump-channel 3", 30, 15, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Bytes d = DumpedFrames(c.options);
    ASSERT_FALSE(d.empty());
    uint32_t video = 0, sound = 0, keys = 0;
    uint64_t expected = 850000000ull * c.fps;
    size_t at = 0;
    while (at + 32 <= d.size()) {
      const uint8_t* h = &d[at];
      ASSERT_EQ(U32(h), 0x03000000u);
      uint32_t bytes = 64u * (h[18] | (h[19] << 8));
      ASSERT_GE(bytes, 64u);
      ASSERT_LE(bytes, d.size() - at);
      EXPECT_EQ(h[14] >> 4, c.channel);
      EXPECT_EQ((h[23] >> 5) & 3, 1);  // recorded
      if ((h[11] >> 6) == 1) {
        EXPECT_EQ(uint64_t(U32(h + 4)) * c.fps + h[8], expected + video);
        EXPECT_EQ(h[12], c.heightMbs);
        if (((h[15] >> 4) & 3) == 0) keys++;
        video++;
      } else {
        EXPECT_EQ(h[11] >> 6, 2);
        sound++;
      }
      at += bytes;
    }
    EXPECT_EQ(at, d.size());
    uint32_t seconds = video / c.fps;
    EXPECT_EQ(video, seconds * c.fps);
    EXPECT_GE(seconds, 1u);
    EXPECT_EQ(sound, seconds * c.sound);
    EXPECT_GE(keys, 1u);
  }
  // A channel past the machine's count is refused.
  std::string bad =
      std::string(DVR_SIM_PATH) + " --dump-frames /tmp/tavlin-dump-bad --dump-channel 5 >/dev/null 2>&1";
  int status = system(bad.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}

// A backup of one channel asked for on a fresh session: the frames that
// came (video and sound, source 1) until the stream ended or ms passed,
// each poll carrying a status report that says room.
struct BackupRun {
  std::vector<Frame> frames;
  size_t mostPerAnswer = 0;  // frame bytes in the fullest answer
};
BackupRun RunBackup(SimProcess& sim, uint32_t from, uint32_t to, uint32_t room, int ms) {
  Recorder r(sim);
  PollFrames(r, 1, StatusReport(r.session()));
  Bytes block(64, 0);
  Put32(block, 8, 0);      // backupChannel
  Put32(block, 12, 1);     // backupArmed: running
  Put32(block, 16, from);  // backupStart
  Put32(block, 20, to);    // backupEnd
  BackupRun run;
  Bytes first = Checked("ICMD", Rest({r.session(), 2, 1024, 2, 9}, block));
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!sim.Seen("vido stop session=" + std::to_string(r.session()) + " reason=end") &&
         std::chrono::steady_clock::now() < until) {
    size_t bytes = 0;
    for (const Msg& m : r.Exchange(WithReport(r, first, room))) {
      if (m.code != "VIDO" || m.body_size() < 160) continue;
      Frame f{Bytes(m.body(), m.body() + 128), Bytes(m.body() + 128, m.body() + 160), {}};
      if (f.source() != 1) continue;
      run.frames.push_back(f);
      bytes += m.body_size() + 32;
    }
    if (bytes > run.mostPerAnswer) run.mostPerAnswer = bytes;
    first.clear();
    usleep(2000);
  }
  return run;
}

TEST(DvrSimFrames, ARecordedStreamSendsNoMoreThanTheViewerHasRoomFor) {
  // Key frames of 115 KB: with room for 300 KB an answer carries three at
  // most; the backup still arrives whole, frame after frame.
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--recordings", "always", "--backup-speed", "64"}));
  BackupRun run = RunBackup(sim, 500, 502, 300000, 30000);
  std::vector<Frame> video = OfKind(run.frames, 1);
  ASSERT_EQ(video.size(), 61u);
  for (size_t i = 0; i < video.size(); i++) EXPECT_EQ(video[i].count(30), 500u * 30 + i);
  EXPECT_GT(run.mostPerAnswer, 0u);
  EXPECT_LE(run.mostPerAnswer, 300000u + 120000u) << "one frame past the room at most";
  // No room: nothing comes.
  SimProcess none;
  ASSERT_TRUE(none.Start({"--port", "0", "--trace", "--recordings", "always"}));
  EXPECT_TRUE(RunBackup(none, 500, 502, 0, 800).frames.empty());
}

TEST(DvrSimFrames, AGapInTheRecordingIsWaitedThroughOrJumped) {
  // Recorded up to 08:30 and from 09:00: a backup from 08:29:58 to 09:00:02
  // at 64 times real time waits 28 s through the gap, or with --gap-jump
  // goes on at once with the frames of 09:00.
  const uint32_t day = RecorderTime(2024, 3, 5);
  for (bool jump : {false, true}) {
    SCOPED_TRACE(jump);
    SimProcess sim;
    std::vector<std::string> args = {"--port",         "0",
                                     "--trace",        "--no-audio",
                                     "--gop",          "30",
                                     "--backup-speed", "64",
                                     "--recordings",   "1/2024-03-05/08:00-08:30;1/2024-03-05/09:00-10:00"};
    if (jump) args.push_back("--gap-jump");
    ASSERT_TRUE(sim.Start(args));
    auto started = std::chrono::steady_clock::now();
    BackupRun run =
        RunBackup(sim, day + 8 * 3600 + 29 * 60 + 58, day + 9 * 3600 + 2, 3 << 20, jump ? 20000 : 60000);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::vector<Frame> video = OfKind(run.frames, 1);
    ASSERT_EQ(video.size(), 2u * 30 + 2u * 30 + 1u);
    EXPECT_EQ(video[59].count(30), (day + 8 * 3600 + 29 * 60 + 59) * 30u + 29);
    EXPECT_EQ(video[60].count(30), (day + 9 * 3600) * 30u) << "the frames after the gap keep their times";
    EXPECT_TRUE(video[60].key());
    EXPECT_EQ(sim.Seen("vido jump "), jump);
    if (!jump) {
      EXPECT_GT(took, 1800.0 / 64) << "waited through the gap";
    }
  }
}

TEST(DvrSimFrames, SizeChangesAlternateThePictureWidthOnKeyFrames) {
  Bytes d = DumpedFrames("--seconds 4 --gop 100000 --no-audio --size-change-at 1,3");
  ASSERT_FALSE(d.empty());
  std::vector<std::pair<uint32_t, bool>> widths;  // per video frame: width, key
  for (size_t at = 0; at + 32 <= d.size();) {
    const uint8_t* h = &d[at];
    uint32_t bytes = 64u * (h[18] | (h[19] << 8));
    ASSERT_GE(bytes, 64u);
    widths.push_back({h[13], ((h[15] >> 4) & 3) == 0});
    at += bytes;
  }
  ASSERT_EQ(widths.size(), 120u);
  for (size_t i = 0; i < widths.size(); i++) {
    EXPECT_EQ(widths[i].first, i < 30 || i >= 90 ? 20u : 16u) << i;
    EXPECT_EQ(widths[i].second, i == 0 || i == 30 || i == 90) << i;
  }
}

TEST(DvrSimFrames, TheClockShowsTheTimeOfDayAsked) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--no-audio", "--clock", "08:23:40"}));
  Recorder r(sim);
  std::vector<Frame> live = OfKind(PollFrames(r, 1, StatusReport(r.session())), 1);
  ASSERT_FALSE(live.empty());
  uint32_t of_day = live[0].time() % 86400;
  EXPECT_GE(of_day, 8u * 3600 + 23 * 60 + 40);
  EXPECT_LE(of_day, 8u * 3600 + 23 * 60 + 50);
}

namespace {

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
      .count();
}

}  // namespace

// Slowness is only ever checked from below: a loaded machine makes it longer.
TEST(DvrSimSlowRecorder, RecordDelayHoldsTheMachineRecordsAnswer) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--record-delay-ms", "700"}));
  Recorder r(sim);
  ASSERT_EQ(r.Tavn(0, HelloBody()).size(), 1u);
  auto sent = std::chrono::steady_clock::now();
  std::vector<Msg> info = r.Tavn(1, ClientInfoBody());
  EXPECT_GE(ElapsedMs(sent), 700);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0].word(1), 1u);
  EXPECT_EQ(sim.WaitFor("tavn machine-record-delay"),
            "tavn machine-record-delay session=" + std::to_string(r.session()) + " ms=700");
  // Later answers are not held.
  Answer a;
  ASSERT_TRUE(r.client().Send(Packet(5, r.session())));
  ASSERT_TRUE(r.client().Read(&a));
}

TEST(DvrSimSlowRecorder, AnswerRateSpreadsAnAnswerOverTime) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--answer-rate", "2000"}));
  Recorder r(sim);
  ASSERT_NE(r.session(), 0u);
  auto sent = std::chrono::steady_clock::now();
  std::vector<Msg> hello = r.Tavn(0, HelloBody());
  // The answer: its HTTP head, 64 bytes of packet header and a 320-byte message.
  ASSERT_EQ(hello.size(), 1u);
  EXPECT_GE(ElapsedMs(sent), (64 + 320) * 1000 / 2000 - 10);
  EXPECT_EQ(U32(hello[0].body()), 1u) << "whole and in order";
}

TEST(DvrSimSlowRecorder, FreezeOnSetLosesTheSetAndAnswersNothingWhileFrozen) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--freeze-on-set", "800"}));
  Recorder r(sim);
  Bytes pppoe(68, 0);
  pppoe[0] = 1;
  memcpy(&pppoe[4], "lost", 4);
  auto sent = std::chrono::steady_clock::now();
  std::vector<Msg> got = r.Icmd(2, 4096, 7, SetupBody(2, pppoe));
  EXPECT_GE(ElapsedMs(sent), 800);
  EXPECT_TRUE(got.empty()) << "the set is not answered";
  EXPECT_EQ(sim.WaitFor("icmd set"), "icmd set mask=2 lost freeze-ms=800");
  // Once a run: the recorder has its start item still, and takes the next set.
  Bytes req(4, 0);
  Put32(req, 0, 2);
  got = r.Icmd(1, 4096, 8, req);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(Text(got[0].body() + 72 + 4, 32), "user");
  got = r.Icmd(2, 4096, 9, SetupBody(2, pppoe));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(sim.WaitFor("icmd set"), "icmd set mask=2 stored");
}
