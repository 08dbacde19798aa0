// TThread: suspended creation, Resume, cooperative Suspend, Terminate,
// FreeOnTerminate and destruction in each state.
#include "platform/vcl/Thread.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

// What a loop thread reports; lives outside the thread object so that it
// can be read after a FreeOnTerminate thread has gone.
struct TLoopReport {
    std::atomic<int> passes{0};      // loop passes begun (after the park point)
    std::atomic<bool> inBody{false}; // between the park point and the pass's end
    std::atomic<bool> ran{false};
    std::atomic<bool> sawTerminated{false};
    std::atomic<bool> destroyed{false};
};

// The audio thread's shape: park at the top, then one pass of work.
class TLoopThread : public TThread {
public:
    TLoopThread(bool suspended, TLoopReport& report, int maxPasses = -1, int suspendSelfAt = -1)
        : TThread(suspended), FReport(report), FMaxPasses(maxPasses), FSuspendSelfAt(suspendSelfAt)
    {
    }
    ~TLoopThread() override
    {
        EndThread();
        FReport.destroyed = true;
    }

protected:
    void Execute() override
    {
        FReport.ran = true;
        while (!Terminated()) {
            ParkIfSuspended();
            if (Terminated()) break;
            FReport.inBody = true;
            int n = ++FReport.passes;
            std::this_thread::sleep_for(std::chrono::microseconds(200)); // a pass takes time
            FReport.inBody = false;
            if (n == FSuspendSelfAt) Suspend();
            if (n == FMaxPasses) break;
        }
        FReport.sawTerminated = Terminated();
        ReturnValue = 42;
    }

private:
    TLoopReport& FReport;
    int FMaxPasses, FSuspendSelfAt;
};

TEST(Thread, CreatedSuspendedDoesNotRunUntilResumed)
{
    TLoopReport r;
    TLoopThread t(true, r);
    EXPECT_TRUE(t.Suspended());
    Pause();
    EXPECT_FALSE(r.ran);
    t.Resume();
    EXPECT_FALSE(t.Suspended());
    ASSERT_TRUE(WaitUntil([&] { return r.passes > 3; }));
}

TEST(Thread, CreatedRunningStartsAfterConstruction)
{
    TLoopReport r;
    TLoopThread t(false, r);
    EXPECT_FALSE(t.Suspended());
    t.AfterConstruction();
    ASSERT_TRUE(WaitUntil([&] { return r.passes > 3; }));
}

TEST(Thread, SuspendReturnsOnlyWhenParkedAtTheLoopTop)
{
    TLoopReport r;
    TLoopThread t(true, r);
    t.Resume();
    for (int round = 0; round < 50; round++) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(WaitUntil([&] { return r.passes > 0; }));
        t.Suspend();
        EXPECT_TRUE(t.Suspended());
        EXPECT_FALSE(r.inBody); // parked, not somewhere inside a pass
        int at = r.passes;
        if (round % 10 == 0) {
            Pause();
            EXPECT_EQ(at, r.passes.load()); // and it stays there
        }
        t.Resume();
        EXPECT_FALSE(t.Suspended());
        ASSERT_TRUE(WaitUntil([&] { return r.passes > at; }));
    }
}

TEST(Thread, SuspendTwiceThenOneResume)
{
    TLoopReport r;
    TLoopThread t(true, r);
    t.Resume();
    ASSERT_TRUE(WaitUntil([&] { return r.passes > 0; }));
    t.Suspend();
    t.Suspend();
    int at = r.passes;
    t.Resume();
    ASSERT_TRUE(WaitUntil([&] { return r.passes > at; }));
}

TEST(Thread, SuspendReturnsAtOnceWhenNotRunning)
{
    // Never started, and finished.
    TLoopReport r1;
    TLoopThread never(true, r1);
    never.Suspend();
    EXPECT_TRUE(never.Suspended());
    EXPECT_FALSE(r1.ran);

    TLoopReport r2;
    TLoopThread done(true, r2, 3);
    done.Resume();
    EXPECT_EQ(42, done.WaitFor());
    done.Suspend();
    EXPECT_TRUE(done.Finished());
}

TEST(Thread, ThreadCanSuspendItself)
{
    TLoopReport r;
    TLoopThread t(true, r, -1, 5);
    t.Resume();
    ASSERT_TRUE(WaitUntil([&] { return t.Suspended(); }));
    t.Suspend(); // returns once it is parked
    EXPECT_EQ(5, r.passes.load());
    Pause();
    EXPECT_EQ(5, r.passes.load());
    t.Resume();
    ASSERT_TRUE(WaitUntil([&] { return r.passes > 5; }));
}

TEST(Thread, TerminateEndsTheLoop)
{
    TLoopReport r;
    TLoopThread t(true, r);
    t.Resume();
    ASSERT_TRUE(WaitUntil([&] { return r.passes > 2; }));
    EXPECT_FALSE(t.Terminated());
    t.Terminate();
    EXPECT_TRUE(t.Terminated());
    EXPECT_EQ(42, t.WaitFor());
    EXPECT_TRUE(t.Finished());
    EXPECT_TRUE(r.sawTerminated);
}

TEST(Thread, SuspendedAndTerminatedNeverRunsAgain)
{
    // What the library does before unloading: Suspend, then Terminate.
    TLoopReport r;
    auto* t = new TLoopThread(true, r);
    t->Resume();
    ASSERT_TRUE(WaitUntil([&] { return r.passes > 2; }));
    t->Suspend();
    t->Terminate();
    int at = r.passes;
    Pause();
    EXPECT_EQ(at, r.passes.load());
    EXPECT_FALSE(t->Finished());
    delete t; // wakes it so it can see Terminated, and joins
    EXPECT_EQ(at, r.passes.load());
    EXPECT_TRUE(r.sawTerminated);
}

TEST(Thread, FreeOnTerminateDeletesItself)
{
    struct Case {
        bool terminate;
        int maxPasses;
    } cases[] = {
        {false, 5}, // Execute ends by itself
        {true, -1}, // Terminate ends it
    };
    for (const Case& c : cases) {
        TLoopReport r;
        auto* t = new TLoopThread(true, r, c.maxPasses);
        t->FreeOnTerminate = true;
        t->Resume();
        ASSERT_TRUE(WaitUntil([&] { return r.passes > 2; }));
        if (c.terminate) t->Terminate();
        // No pointer is kept: the object frees itself (a leak or a double
        // free shows in the sanitized build).
        t = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return r.destroyed.load(); }));
    }
}

TEST(Thread, DestroyInEveryState)
{
    enum State { NeverResumed, Running, Parked, Finished };
    for (State s : {NeverResumed, Running, Parked, Finished}) {
        SCOPED_TRACE(s);
        TLoopReport r;
        auto* t = new TLoopThread(true, r, s == Finished ? 3 : -1);
        if (s != NeverResumed) {
            t->Resume();
            ASSERT_TRUE(WaitUntil([&] { return r.passes > 2; }));
        }
        if (s == Parked) t->Suspend();
        if (s == Finished) t->WaitFor();
        delete t;
        EXPECT_TRUE(r.destroyed);
        EXPECT_EQ(s != NeverResumed, r.ran.load());
    }
}

class TThrowingThread : public TThread {
public:
    TThrowingThread() : TThread(true) {}
    ~TThrowingThread() override { EndThread(); }

protected:
    void Execute() override { throw std::runtime_error("no device"); }
};

TEST(Thread, ExceptionEndsExecuteAndIsKept)
{
    TThrowingThread t;
    t.Resume();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
    EXPECT_EQ("no device", t.FatalException());
}

} // namespace
