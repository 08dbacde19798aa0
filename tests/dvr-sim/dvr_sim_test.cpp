// Black-box tests of dvr-sim: each test starts the program, talks raw ULCM
// over loopback sockets to it and reads its trace lines from a pipe. The
// child is killed on every path by SimProcess's destructor.
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

uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) b[at + i] = uint8_t(v >> (8 * i));
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A client packet: 64-byte header, then the payload.
Bytes Packet(uint32_t type, uint32_t session, const Bytes& payload = {},
             uint32_t conn = 0, uint32_t sock = 0) {
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
  struct Case { uint32_t type, conn, sock; };
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
  struct Case { uint32_t type, session; };
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
    EXPECT_EQ(sim_.WaitFor("stale "), "stale type=" + std::to_string(k.type) +
                                          " session=" + std::to_string(k.session));
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
      EXPECT_EQ(sim_.WaitFor("packet "), "packet type=" + std::to_string(type) +
                                             " session=" + std::to_string(session));
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
  struct Case { uint32_t n; int kind; uint32_t checksum; };
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
  Bytes good = SmallMessage("ICMD", Bytes(40, 2));  // 72 bytes
  Bytes bad = Message("TAVN", Bytes(10, 1), 11);    // checksum should be 10
  Bytes shortLen = good;
  Put32(shortLen, 0, 31);
  Bytes overLen = good;
  Put32(overLen, 0, 73);
  struct Case { const char* name; Bytes payload; std::vector<std::string> lines; };
  const Case cases[] = {
      {"bad checksum in the middle", good + bad + good,
       {"module ICMD len=72 unknown", "module TAVN len=42 bad-checksum", "module ICMD len=72 unknown"}},
      {"partial header at the end", good + Bytes(20, 0),
       {"module ICMD len=72 unknown", "bad-message offset=72 len=0 left=20"}},
      {"length below 32 ends the walk", shortLen + good,
       {"bad-message offset=0 len=31 left=144"}},
      {"length past the payload", good + overLen,
       {"module ICMD len=72 unknown", "bad-message offset=72 len=73 left=72"}},
      {"bare 32-byte message", Message("VIDO", {}, 0), {"module VIDO len=32 unknown"}},
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
    EXPECT_EQ(sim_.Between("poll session=" + std::to_string(s) + " bytes=" +
                               std::to_string(k.payload.size()),
                           "answer "),
              k.lines);
  }
}

TEST_F(DvrSimTest, UnknownModulesAreCountedPerRun) {
  Client c(sim_.port());
  uint32_t s = Login(c);
  ASSERT_NE(s, 0u);
  Answer a;
  ASSERT_TRUE(c.Send(Packet(5, s, SmallMessage("ICMD", {1}) + SmallMessage("ICTL", {2}))));
  ASSERT_TRUE(c.Read(&a));
  // Type 3 data is walked like type 5.
  ASSERT_TRUE(c.Send(Packet(3, s, SmallMessage("VIDO", {3}) + Message("PBBA", {4}, 0))));
  ASSERT_TRUE(c.Read(&a));
  EXPECT_EQ(a.type(), 2u);
  EXPECT_EQ(sim_.Stop(), 0);
  ASSERT_FALSE(sim_.lines().empty());
  EXPECT_EQ(sim_.lines().back(),
            "stats clients=1 packets=3 grants=1 modules=3 unknown=3 bad=1 broken=0");
}

TEST_F(DvrSimTest, BrokenStreamClosesOnlyThatClient) {
  Bytes hugeTotal = Packet(5, 0);
  Put32(hugeTotal, 0, (1u << 20) + 1);
  Bytes badMagic = Packet(5, 0);
  memcpy(&badMagic[4], "ULCX", 4);
  struct Case { const char* name; Bytes bytes; };
  const Case cases[] = {
      {"total 0", Bytes(4, 0)},
      {"total 63", Bytes{63, 0, 0, 0}},
      {"total above 1 MiB", hugeTotal},
      {"total 0xFFFFFFFF", Bytes{0xFF, 0xFF, 0xFF, 0xFF}},
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
  Bytes msg = SmallMessage("ICMD", Bytes(100, 9));
  struct Case { const char* name; Bytes first, second; uint32_t type1, type2; };
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
  Bytes p = Packet(5, s, SmallMessage("ICMD", Bytes(20, 1)));  // 116 bytes
  const size_t splits[] = {1, 3, 4, 5, 8, 9, 63, 64, 65, 96, 115};
  for (size_t at : splits) {
    SCOPED_TRACE(testing::Message() << "split at " << at);
    ASSERT_TRUE(c.Send(Bytes(p.begin(), p.begin() + at)));
    usleep(5000);  // lets the first part arrive on its own
    ASSERT_TRUE(c.Send(Bytes(p.begin() + at, p.end())));
    Answer a;
    ASSERT_TRUE(c.Read(&a));
    EXPECT_EQ(a.type(), 2u);
    EXPECT_EQ(sim_.WaitFor("module "), "module ICMD len=52 unknown");
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
      {}, {"--port"}, {"--port", "x"}, {"--port", "70000"}, {"--port", "-1"},
      {"--port", "0", "--bogus"}, {"--trace=1", "--port", "0"}, {"--port="},
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

}  // namespace
