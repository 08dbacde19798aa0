// The viewer's link, frame stream and stream step against dvr-sim behind a
// small faulty peer of our own on loopback: a relay that, on the first
// connection only, resets in the middle of an answer, sends half an answer
// and falls silent, sends a flood of garbage, answers the login or the
// handshake with another status, or never answers at all. Whatever it did,
// the link finds its way back and the recorder's video comes again.
#include "control/Pending.h"
#include "control/Session.h"
#include "link/Conn.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include "platform/win/Win.h"
#include "tests/support/LinkLoop.h"
#include "tests/support/Loopback.h"
#include "tests/support/SimProcess.h"
#include "tests/support/StreamLoop.h"
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

enum class Fault { ResetMidAnswer, HalfAnswerThenSilence, Garbage, Non200ToLogin, Non200ToHandshake, NeverAnswers };

// The process clock as the link sees it, which the test can move on: a
// peer that stalls is only given up after a minute.
std::atomic<uint32_t> gClockAhead{0};
uint32_t TestTick()
{
    using namespace std::chrono;
    return (uint32_t)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + gClockAhead.load();
}

uint32_t U32(const std::string& b, size_t at)
{
    return (uint32_t)(uint8_t)b[at] | ((uint32_t)(uint8_t)b[at + 1] << 8) | ((uint32_t)(uint8_t)b[at + 2] << 16) |
           ((uint32_t)(uint8_t)b[at + 3] << 24);
}

void SendAll(int fd, const std::string& bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return;
        at += (size_t)n;
    }
}

const char kServerError[] = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n";

// The relay. Its own thread polls the listener and every pair of sockets;
// the viewer's packets and the recorder's answers are cut whole, so a
// fault lands on one of them.
class FaultyPeer {
public:
    FaultyPeer(Fault fault, uint16_t recorderPort) : fault_(fault), recorderPort_(recorderPort)
    {
        listen_ = ListenOnLoopback(8, &port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~FaultyPeer()
    {
        stop_ = true;
        thread_.join();
        for (Pair& p : pairs_) Drop(p);
        close(listen_);
    }
    uint16_t port() const { return (uint16_t)port_; }
    bool faulted() const { return faulted_.load(); }
    // Answers passed on to the viewer since the fault.
    size_t answersAfterFault() const { return answersAfterFault_.load(); }

private:
    struct Pair {
        int viewer = -1, recorder = -1;
        bool faulty = false; // the first connection: the one the fault is for
        bool silent = false; // passes nothing on any more
        std::string fromViewer, fromRecorder;
        size_t answers = 0;
    };

    Fault fault_;
    uint16_t recorderPort_;
    int listen_ = -1, port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> faulted_{false};
    std::atomic<size_t> answersAfterFault_{0};
    std::vector<Pair> pairs_;
    size_t accepted_ = 0;
    static constexpr size_t kAnswersBeforeFault = 40;

    static void Drop(Pair& p)
    {
        if (p.viewer >= 0) close(p.viewer);
        if (p.recorder >= 0) close(p.recorder);
        p.viewer = p.recorder = -1;
    }

    static void Reset(int fd)
    {
        linger l{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close(fd);
    }

    int ConnectRecorder()
    {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(recorderPort_);
        if (connect(fd, (sockaddr*)&a, sizeof a) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }

    void Accept()
    {
        int fd = accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        Pair p;
        p.viewer = fd;
        p.faulty = accepted_++ == 0;
        if (p.faulty && fault_ == Fault::NeverAnswers) {
            p.silent = true; // holds the connection open and says nothing
            faulted_ = true;
        } else {
            p.recorder = ConnectRecorder();
        }
        pairs_.push_back(p);
    }

    static bool CarriesHello(const std::string& packet)
    {
        for (size_t at = 64; at + 40 <= packet.size();) {
            uint32_t length = U32(packet, at);
            if (length < 32 || at + length > packet.size()) break;
            if (packet.compare(at + 4, 4, "TAVN") == 0 && U32(packet, at + 36) == 0) return true;
            at += length;
        }
        return false;
    }

    // One whole packet from the viewer.
    void FromViewer(Pair& p, const std::string& packet)
    {
        if (p.silent) return;
        if (p.faulty && !faulted_) {
            bool login = U32(packet, 8) == 0;
            if ((fault_ == Fault::Non200ToLogin && login) || (fault_ == Fault::Non200ToHandshake && CarriesHello(packet))) {
                faulted_ = true;
                SendAll(p.viewer, kServerError); // the recorder never sees it
                return;
            }
        }
        if (p.recorder >= 0) SendAll(p.recorder, packet);
    }

    // One whole answer from the recorder.
    void FromRecorder(Pair& p, const std::string& answer)
    {
        if (p.silent) return;
        ++p.answers;
        bool midStream = fault_ == Fault::ResetMidAnswer || fault_ == Fault::HalfAnswerThenSilence || fault_ == Fault::Garbage;
        if (!p.faulty || faulted_ || !midStream || p.answers <= kAnswersBeforeFault) {
            if (faulted_) ++answersAfterFault_;
            SendAll(p.viewer, answer);
            return;
        }
        faulted_ = true;
        close(p.recorder);
        p.recorder = -1;
        switch (fault_) {
        case Fault::ResetMidAnswer:
            SendAll(p.viewer, answer.substr(0, answer.size() / 2));
            Reset(p.viewer);
            p.viewer = -1;
            break;
        case Fault::HalfAnswerThenSilence:
            SendAll(p.viewer, answer.substr(0, answer.size() / 2));
            p.silent = true;
            break;
        default: // a burst of garbage, larger than any answer, and nothing after it
            SendAll(p.viewer, std::string(600 * 1024, 'G'));
            p.silent = true;
            break;
        }
    }

    // Reads what a socket has; false when it has closed.
    static bool Take(int fd, std::string& into)
    {
        char b[65536];
        ssize_t n = recv(fd, b, sizeof b, MSG_DONTWAIT);
        if (n == 0) return false;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        into.append(b, (size_t)n);
        return true;
    }

    void CutPackets(Pair& p)
    {
        while (p.fromViewer.size() >= 64) {
            uint32_t total = U32(p.fromViewer, 0);
            if (total < 64 || total > (1u << 20)) { // not ours to judge: pass it on
                FromViewer(p, p.fromViewer);
                p.fromViewer.clear();
                return;
            }
            if (p.fromViewer.size() < total) return;
            std::string packet = p.fromViewer.substr(0, total);
            p.fromViewer.erase(0, total);
            FromViewer(p, packet);
        }
    }

    void CutAnswers(Pair& p)
    {
        for (;;) {
            size_t end = p.fromRecorder.find("\r\n\r\n");
            if (end == std::string::npos) return;
            size_t header = end + 4;
            size_t body = 0;
            size_t key = p.fromRecorder.find("Content-Length: ");
            if (key != std::string::npos && key < header) body = (size_t)std::stoul(p.fromRecorder.substr(key + 16));
            if (p.fromRecorder.size() < header + body) return;
            std::string answer = p.fromRecorder.substr(0, header + body);
            p.fromRecorder.erase(0, header + body);
            FromRecorder(p, answer);
            if (p.viewer < 0) return;
        }
    }

    void Run()
    {
        while (!stop_) {
            std::vector<pollfd> fds{{listen_, POLLIN, 0}};
            for (const Pair& p : pairs_) {
                fds.push_back({p.viewer, POLLIN, 0});
                fds.push_back({p.recorder, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), 20) <= 0) continue;
            if (fds[0].revents & POLLIN) Accept();
            for (size_t i = 0; i < pairs_.size() && 1 + 2 * i + 1 < fds.size(); ++i) {
                Pair& p = pairs_[i];
                bool open = true;
                if (p.viewer >= 0 && fds[1 + 2 * i].revents) {
                    open = Take(p.viewer, p.fromViewer);
                    if (open) CutPackets(p);
                }
                if (open && p.recorder >= 0 && p.viewer >= 0 && fds[2 + 2 * i].revents) {
                    open = Take(p.recorder, p.fromRecorder);
                    if (open) CutAnswers(p);
                }
                if (!open || p.viewer < 0) Drop(p);
            }
            for (size_t i = pairs_.size(); i-- > 0;)
                if (pairs_[i].viewer < 0) pairs_.erase(pairs_.begin() + (long)i);
        }
    }
};

size_t gFrames = 0;
int CountFrame(const uint8_t*, uint32_t, uint32_t)
{
    ++gFrames;
    return 0;
}
int NoBackup(TStreamRecord*) { return 0; }

// The stream loop counting the frames handed to the decoder.
struct VideoLoop : FrameStreamLoop {
    VideoLoop() : FrameStreamLoop(CountFrame, NoBackup) { gFrames = 0; }
};

const char* Name(Fault f)
{
    switch (f) {
    case Fault::ResetMidAnswer: return "reset in the middle of an answer";
    case Fault::HalfAnswerThenSilence: return "half an answer, then silence";
    case Fault::Garbage: return "600 KiB of garbage";
    case Fault::Non200ToLogin: return "500 to the login";
    case Fault::Non200ToHandshake: return "500 to the hello";
    case Fault::NeverAnswers: return "a peer that never answers";
    }
    return "?";
}

TEST(FaultyPeer, VideoComesBackAfterEveryFault)
{
    const struct {
        Fault fault;
        bool stalls; // the link only gives up on it after a minute
    } cases[] = {
        {Fault::ResetMidAnswer, false},    {Fault::HalfAnswerThenSilence, true}, {Fault::Garbage, false},
        {Fault::Non200ToLogin, false},     {Fault::Non200ToHandshake, false},    {Fault::NeverAnswers, true},
    };
    Win_SetTickSource(TestTick);
    for (const auto& k : cases) {
        SCOPED_TRACE(Name(k.fault));
        gClockAhead = 0;
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--port", "0", "--channels", "4", "--no-audio"}));
        FaultyPeer peer(k.fault, sim.port());
        VideoLoop loop;
        loop.Connect(peer.port());

        ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return peer.faulted(); }, 10000));
        if (k.stalls) {
            Application_ProcessMessagesFor(300);
            EXPECT_EQ(gConnections[0].socketState[0], (uint32_t)SOCK_OPENING); // still held by the peer
            gClockAhead += 61000;
        }
        // The link is back when the recorder's answers reach it again, and
        // the video with them: a second of frames, more than any held back.
        ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return peer.answersAfterFault() > 0; }, 10000));
        size_t before = gFrames;
        bool back = Application_ProcessMessagesUntil([&] { return gFrames >= before + 30; }, 10000);
        EXPECT_TRUE(back) << "frames " << before << " -> " << gFrames;
        EXPECT_EQ(gConnections[0].linkState, (uint32_t)LINK_LOGGED_IN);
        EXPECT_EQ(gConnections[0].active, 1u);
    }
    Win_SetTickSource(nullptr);
}

} // namespace
