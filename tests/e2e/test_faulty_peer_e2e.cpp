// The viewer's link, frame stream and stream step against dvr-sim behind a
// small faulty peer of our own on loopback: a relay that, on the first
// connection only, resets in the middle of an answer, sends half an answer
// and falls silent, sends a flood of garbage, answers the login or the
// handshake with another status, or never answers at all. Whatever it did,
// the link finds its way back and the recorder's video comes again.
// Against a recorder that takes two sockets, the relay drops socket 0,
// socket 1 or both in the middle of answers while video streams (the
// other socket half through an answer of its own), once also refusing
// every socket after: video and the lit link lamp are back within a
// second, and the link stays up.
#include "control/Session.h"
#include "link/Bytes.h"
#include "link/Conn.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include "link/Ulcm.h"
#include "platform/win/Win.h"
#include "tools/dvr-sim/sim_machine.h"
#include "tests/support/LinkLoop.h"
#include "tests/support/Loopback.h"
#include "tests/support/SimProcess.h"
#include "tests/support/StreamLoop.h"
#include "control/TavlinImpl1.h"
#include "tests/support/Wait.h"
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

enum class Fault {
    ResetMidAnswer,
    HalfAnswerThenSilence,
    Garbage,
    Non200ToLogin,
    Non200ToHandshake,
    NeverAnswers,
    // Two sockets: the ones named drop, each half through an answer, while
    // the other is half through one too.
    DropSocket0,
    DropSocket1,
    DropBoth,
    DropSocket1NoMoreSockets, // and no connection is taken after it
};

bool TwoSockets(Fault f)
{
    return f == Fault::DropSocket0 || f == Fault::DropSocket1 || f == Fault::DropBoth ||
           f == Fault::DropSocket1NoMoreSockets;
}

bool Drops(Fault f, int socket)
{
    switch (f) {
    case Fault::DropSocket0: return socket == 0;
    case Fault::DropSocket1:
    case Fault::DropSocket1NoMoreSockets: return socket == 1;
    case Fault::DropBoth: return true;
    default: return false;
    }
}

int64_t SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The recorder's clock (its own code) in milliseconds: what its live frames are stamped with.
uint64_t RecorderNowMs()
{
    uint32_t seconds = 0, ms = 0;
    Machine_RecorderNow(&seconds, &ms);
    return (uint64_t)seconds * 1000 + ms;
}

// The recorder time of the two-socket drop; frames stamped from then on
// came after it. Written by the relay, read by the stream's hand-off.
std::atomic<uint64_t> gDropRecorderMs{UINT64_MAX};

// The process clock as the link sees it, which the test can move on: a
// peer that stalls is only given up after a minute.
std::atomic<uint32_t> gClockAhead{0};
uint32_t TestTick()
{
    using namespace std::chrono;
    return (uint32_t)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + gClockAhead.load();
}

uint32_t U32(const std::string& b, size_t at) { return GetU32((const uint8_t*)b.data() + at); }

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
        if (listen_ >= 0) close(listen_);
    }
    uint16_t port() const { return (uint16_t)port_; }
    bool faulted() const { return faulted_.load(); }
    // Answers passed on to the viewer since the fault.
    size_t answersAfterFault() const { return answersAfterFault_.load(); }
    // Logins the viewer sent since the fault.
    size_t loginsAfterFault() const { return loginsAfterFault_.load(); }
    // When the two-socket drop happened, on the test's steady clock.
    int64_t droppedAtMs() const { return droppedAt_.load(); }

private:
    struct Pair {
        int viewer = -1, recorder = -1;
        bool faulty = false; // the first connection (two sockets: the first two): the ones the fault is for
        bool silent = false; // passes nothing on any more
        std::string fromViewer, fromRecorder;
        size_t answers = 0;
        int socket = -1;  // the viewer's socket index, from its first packet
        bool cut = false; // two sockets: half an answer sent, the rest in held
        std::string held; // answer bytes held back from the viewer
    };

    Fault fault_;
    uint16_t recorderPort_;
    int listen_ = -1, port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> faulted_{false};
    std::atomic<size_t> answersAfterFault_{0};
    std::atomic<size_t> loginsAfterFault_{0};
    std::atomic<int64_t> droppedAt_{0};
    std::vector<Pair> pairs_;
    size_t accepted_ = 0;
    bool armed_ = false;    // two sockets: every faulty pair cuts its next answer
    int64_t releaseAt_ = 0; // two sockets: when the survivors get the rest of their answers
    static constexpr size_t kAnswersBeforeFault = 40;
    static constexpr int64_t kSurvivorHoldMs = 150;

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
        p.faulty = accepted_++ < (TwoSockets(fault_) ? 2u : 1u);
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
        if (p.socket < 0) p.socket = (int)U32(packet, 56);
        if (faulted_ && U32(packet, 8) == 0) ++loginsAfterFault_;
        if (p.faulty && !faulted_) {
            bool login = U32(packet, 8) == 0;
            if ((fault_ == Fault::Non200ToLogin && login) ||
                (fault_ == Fault::Non200ToHandshake && CarriesHello(packet))) {
                faulted_ = true;
                SendAll(p.viewer, kServerError); // the recorder never sees it
                return;
            }
        }
        if (p.recorder >= 0) SendAll(p.recorder, packet);
    }

    Pair* PairOn(int socket)
    {
        for (Pair& p : pairs_)
            if (p.faulty && p.socket == socket && p.viewer >= 0) return &p;
        return nullptr;
    }

    // Two sockets: once both have carried video a while, the next answer on
    // each goes half way; when both are half through, the named sockets
    // are reset and the other gets the rest of its answer a moment later.
    void TwoSocketAnswer(Pair& p, const std::string& answer)
    {
        Pair* s0 = PairOn(0);
        Pair* s1 = PairOn(1);
        if (!armed_ && s0 && s1 && s0->answers >= kAnswersBeforeFault && s1->answers >= 10) armed_ = true;
        if (!armed_ || faulted_ || !p.faulty || p.cut) {
            if (!p.held.empty()) p.held += answer; // behind the half held back
            else SendAll(p.viewer, answer);
            return;
        }
        SendAll(p.viewer, answer.substr(0, answer.size() / 2));
        p.held = answer.substr(answer.size() / 2);
        p.cut = true;
        if (!(s0 && s1 && s0->cut && s1->cut)) return;
        gDropRecorderMs = RecorderNowMs();
        for (Pair* q : {s0, s1}) {
            if (!Drops(fault_, q->socket)) continue;
            Reset(q->viewer);
            q->viewer = -1;
            q->held.clear();
        }
        if (fault_ == Fault::DropSocket1NoMoreSockets) {
            close(listen_);
            listen_ = -1;
        }
        droppedAt_ = SteadyMs();
        releaseAt_ = droppedAt_ + kSurvivorHoldMs;
        faulted_ = true;
    }

    void ReleaseHeld()
    {
        if (releaseAt_ == 0 || SteadyMs() < releaseAt_) return;
        releaseAt_ = 0;
        for (Pair& p : pairs_) {
            if (p.viewer >= 0 && !p.held.empty()) SendAll(p.viewer, p.held);
            p.held.clear();
        }
    }

    // One whole answer from the recorder.
    void FromRecorder(Pair& p, const std::string& answer)
    {
        if (p.silent) return;
        ++p.answers;
        if (TwoSockets(fault_)) {
            TwoSocketAnswer(p, answer);
            return;
        }
        bool midStream =
            fault_ == Fault::ResetMidAnswer || fault_ == Fault::HalfAnswerThenSilence || fault_ == Fault::Garbage;
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
            ReleaseHeld();
            std::vector<pollfd> fds{{listen_, POLLIN, 0}}; // a closed listener (-1) is passed over
            for (const Pair& p : pairs_) {
                fds.push_back({p.viewer, POLLIN, 0});
                fds.push_back({p.recorder, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), 20) <= 0) continue;
            if (listen_ >= 0 && (fds[0].revents & POLLIN)) Accept();
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
int64_t gFirstNewFrameMs = 0; // the first frame stamped after the two-socket drop reached the decoder
int CountFrame(const uint8_t*, uint32_t, uint32_t)
{
    ++gFrames;
    // The frame being handed over; 30 frames a second.
    const TStreamRecord& s = gStreamRecords[0];
    const uint64_t stamped = (uint64_t)s.heldTime * 1000 + (uint64_t)s.heldFrameNumber * 1000 / 30;
    if (gFirstNewFrameMs == 0 && stamped >= gDropRecorderMs.load()) gFirstNewFrameMs = SteadyMs();
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
    case Fault::DropSocket0: return "socket 0 drops mid-answer, socket 1 half through one";
    case Fault::DropSocket1: return "socket 1 drops mid-answer, socket 0 half through one";
    case Fault::DropBoth: return "both sockets drop mid-answer";
    case Fault::DropSocket1NoMoreSockets: return "socket 1 drops mid-answer, and no socket is taken after it";
    }
    return "?";
}

TEST(FaultyPeer, VideoComesBackAfterEveryFault)
{
    const struct {
        Fault fault;
        bool stalls; // the link only gives up on it after a minute
    } cases[] = {
        {Fault::ResetMidAnswer, false}, {Fault::HalfAnswerThenSilence, true}, {Fault::Garbage, false},
        {Fault::Non200ToLogin, false},  {Fault::Non200ToHandshake, false},    {Fault::NeverAnswers, true},
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

        ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return peer.faulted(); }, kWaitLimitMs));
        if (k.stalls) {
            Application_ProcessMessagesFor(300);
            EXPECT_EQ(gConnections[0].socketState[0], (uint32_t)SOCK_OPENING); // still held by the peer
            gClockAhead += 61000;
        }
        // The link is back when the recorder's answers reach it again, and
        // the video with them: a second of frames, more than any held back.
        ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return peer.answersAfterFault() > 0; }, kWaitLimitMs));
        size_t before = gFrames;
        bool back = Application_ProcessMessagesUntil([&] { return gFrames >= before + 30; }, kWaitLimitMs);
        EXPECT_TRUE(back) << "frames " << before << " -> " << gFrames;
        EXPECT_EQ(gConnections[0].linkState, (uint32_t)LINK_LOGGED_IN);
        EXPECT_EQ(gConnections[0].active, 1u);
    }
    Win_SetTickSource(nullptr);
}

TEST(FaultyPeer, TwoSocketLinkIsBackWithinASecondAfterEitherOrBothSocketsDropAndStaysUp)
{
    // A socket that waits for an answer for good is given up after the
    // busy time-out: 3 s here instead of 60, so that a second outage shows
    // within seconds of watching.
    const int64_t kTimeoutMs = 3000;
    Ulcm_SetBusyTimeout((uint32_t)kTimeoutMs * 100);
    Win_SetTickSource(TestTick);
    gClockAhead = 0;
    const Fault rows[] = {Fault::DropSocket0, Fault::DropSocket1, Fault::DropBoth, Fault::DropSocket1NoMoreSockets};
    for (Fault fault : rows) {
        SCOPED_TRACE(Name(fault));
        gDropRecorderMs = UINT64_MAX;
        gFirstNewFrameMs = 0;
        SimProcess sim;
        // Answers at 6 MB/s, so that video answers take a while on the wire.
        ASSERT_TRUE(
            sim.Start({"--port", "0", "--channels", "4", "--no-audio", "--sockets", "2", "--answer-rate", "6000000"}));
        FaultyPeer peer(fault, sim.port());
        VideoLoop loop;
        loop.Connect(peer.port());
        ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return peer.faulted(); }, kWaitLimitMs))
            << "the two sockets never both carried video";
        const int64_t dropped = peer.droppedAtMs();
        ASSERT_GT(gFrames, 0u) << "video streamed before the drop";

        // Back: logged in again since the drop with the lamp lit, and a
        // frame the recorder made after the drop handed to the decoder.
        int64_t litAt = 0;
        bool back = Application_ProcessMessagesUntil(
            [&] {
                if (litAt == 0 && peer.loginsAfterFault() > 0 && Viewer_LinkIconShown() == 1 &&
                    Conn_LinkUp(&gConnections[0]))
                    litAt = SteadyMs();
                return litAt != 0 && gFirstNewFrameMs != 0;
            },
            kWaitLimitMs);
        ASSERT_TRUE(back) << "lamp " << Viewer_LinkIconShown() << ", logins since the drop " << peer.loginsAfterFault()
                          << ", a new frame " << (gFirstNewFrameMs != 0);
        printf("%s: lamp lit after %lld ms, video after %lld ms\n", Name(fault), (long long)(litAt - dropped),
               (long long)(gFirstNewFrameMs - dropped));
        EXPECT_LT(litAt - dropped, 1000) << "the lamp was lit " << litAt - dropped << " ms after the drop";
        EXPECT_LT(gFirstNewFrameMs - dropped, 1000)
            << "video came " << gFirstNewFrameMs - dropped << " ms after the drop";

        // No second outage: the lamp stays lit, no new login, video goes on,
        // past the time-out twice over.
        const size_t logins = peer.loginsAfterFault();
        const size_t framesBack = gFrames;
        const int64_t watchFrom = SteadyMs();
        const int64_t watchUntil = dropped + 2 * kTimeoutMs + 1000;
        int64_t darkAt = 0;
        Application_ProcessMessagesUntil(
            [&] {
                if (darkAt == 0 && (Viewer_LinkIconShown() != 1 || peer.loginsAfterFault() != logins))
                    darkAt = SteadyMs();
                return SteadyMs() >= watchUntil;
            },
            (uint32_t)(watchUntil - watchFrom + 5000));
        EXPECT_EQ(darkAt, 0) << "the link went down again " << darkAt - dropped << " ms after the drop";
        EXPECT_EQ(peer.loginsAfterFault(), logins);
        const int64_t watched = SteadyMs() - watchFrom;
        EXPECT_GE(gFrames - framesBack, (size_t)(watched * 30 / 1000 / 2)) << "video went on for " << watched << " ms";
    }
    Win_SetTickSource(nullptr);
    Ulcm_SetBusyTimeout(0);
}

} // namespace
