// The class library's thread class: a descendant overrides Execute, which
// runs on a thread of its own. Suspension is cooperative: Suspend asks, and
// the thread parks at the top of its loop, where Execute calls
// ParkIfSuspended; it is never stopped at an arbitrary point.
#pragma once
#include "platform/vcl/Vcl.h"
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class TThread : public TObject {
public:
    // CreateSuspended = true: Execute does not run until Resume().
    // CreateSuspended = false: Execute starts at AfterConstruction(), which
    // the creator calls right after construction. (A base constructor
    // cannot start Execute itself: the descendant is not built yet.)
    explicit TThread(bool CreateSuspended);
    // Ends the thread as EndThread does. A descendant whose Execute uses
    // the descendant's own members calls EndThread in its own destructor,
    // since those members are gone before this destructor runs.
    ~TThread() override;

    // Starts a thread created with CreateSuspended = false (once).
    void AfterConstruction();
    // Starts a thread created suspended, or lets a parked one go on. Not
    // counted: one Resume undoes any number of Suspend calls.
    void Resume();
    // Asks the thread to park and returns when it has parked at its
    // ParkIfSuspended call (at once when it has not started or has
    // finished). An Execute that never calls ParkIfSuspended makes this
    // wait for the end of Execute. Called by the thread itself, it parks
    // there until Resume.
    void Suspend();
    // Sets Terminated, which Execute polls. Does not wake a parked thread:
    // a thread suspended and terminated never runs again.
    void Terminate();
    // Waits until Execute has returned and gives ReturnValue. Not for a
    // FreeOnTerminate thread (it may be gone) nor from the thread itself;
    // a suspended thread must be resumed first.
    int WaitFor();

    bool Suspended() const { return FSuspended.load(); }
    bool Terminated() const { return FTerminated.load(); }
    // Execute has returned.
    bool Finished() const { return FFinished.load(); }
    // The message of an exception that escaped Execute; empty when none.
    AnsiString FatalException() const;

    // When set, the object deletes itself once Execute returns.
    std::atomic<bool> FreeOnTerminate{false};

    // Names the calling thread for debuggers (at most 15 characters kept).
    static void NameThreadForDebugging(const char* name);

protected:
    // The thread's work. Loops must call ParkIfSuspended once per pass (at
    // the top, where no lock or device is held) and end when Terminated().
    virtual void Execute() = 0;
    // Parks here while a suspension is asked for, acknowledging it to
    // Suspend; returns at once otherwise.
    void ParkIfSuspended();

    // Given back by WaitFor.
    std::atomic<int> ReturnValue{0};

    // From another thread: a thread still running is marked terminated,
    // woken when parked and waited for; a thread that never ran is simply
    // dropped. From the thread itself (FreeOnTerminate) it lets go of it.
    // Later calls do nothing.
    void EndThread();

private:
    void Start(); // FLock held
    void Run();   // the thread's body
    bool OnOwnThread() const;

    mutable std::mutex FLock;
    std::condition_variable FChanged; // every change below is announced
    std::thread FThread;
    bool FStarted = false; // the std::thread exists
    std::atomic<bool> FSuspendAsked{false};
    bool FParked = false;
    bool FDestroying = false;
    AnsiString FFatal;
    std::atomic<bool> FSuspended{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<std::thread::id> FId{};
};
