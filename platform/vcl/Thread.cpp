// TThread on std::thread. Each object owns its thread and the mutex and
// condition variable through which Suspend, Resume, WaitFor and the
// thread's parking meet.
#include "platform/vcl/Thread.h"
#include <pthread.h>
#include <cstring>
#include <exception>

TThread::TThread(bool CreateSuspended) { FSuspended.store(CreateSuspended); }

TThread::~TThread() { EndThread(); }

bool TThread::OnOwnThread() const { return FId.load() == std::this_thread::get_id(); }

void TThread::Start()
{
    FStarted = true;
    FThread = std::thread(&TThread::Run, this);
}

void TThread::Run()
{
    FId.store(std::this_thread::get_id());
    try {
        Execute();
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> g(FLock);
        FFatal = e.what();
        if (FFatal.empty()) FFatal = "exception";
    } catch (...) {
        std::lock_guard<std::mutex> g(FLock);
        FFatal = "unknown exception";
    }
    bool freeIt;
    {
        std::lock_guard<std::mutex> g(FLock);
        FFinished.store(true);
        freeIt = FreeOnTerminate.load() && !FDestroying;
        FChanged.notify_all();
    }
    // Nothing of the object is touched after this point unless we free it.
    if (freeIt) delete this;
}

void TThread::AfterConstruction()
{
    std::lock_guard<std::mutex> g(FLock);
    if (!FStarted && !FSuspended.load() && !FDestroying) Start();
}

void TThread::Resume()
{
    std::lock_guard<std::mutex> g(FLock);
    if (FDestroying) return;
    FSuspended.store(false);
    if (!FStarted) {
        Start();
        return;
    }
    if (FSuspendAsked.load()) {
        FSuspendAsked.store(false);
        FChanged.notify_all();
    }
}

void TThread::Suspend()
{
    if (OnOwnThread()) {
        {
            std::lock_guard<std::mutex> g(FLock);
            FSuspended.store(true);
            FSuspendAsked.store(true);
        }
        ParkIfSuspended();
        return;
    }
    std::unique_lock<std::mutex> l(FLock);
    FSuspended.store(true);
    if (!FStarted || FFinished.load() || FDestroying) return;
    FSuspendAsked.store(true);
    FChanged.wait(l, [this] { return FParked || FFinished.load() || !FSuspendAsked.load(); });
}

void TThread::ParkIfSuspended()
{
    if (!FSuspendAsked.load()) return;
    std::unique_lock<std::mutex> l(FLock);
    if (!FSuspendAsked.load()) return;
    FParked = true;
    FChanged.notify_all();
    FChanged.wait(l, [this] { return !FSuspendAsked.load(); });
    FParked = false;
}

void TThread::Terminate() { FTerminated.store(true); }

int TThread::WaitFor()
{
    std::unique_lock<std::mutex> l(FLock);
    FChanged.wait(l, [this] { return FFinished.load(); });
    return ReturnValue.load();
}

void TThread::EndThread()
{
    std::thread t;
    {
        std::lock_guard<std::mutex> g(FLock);
        FDestroying = true;
        if (!FThread.joinable()) return;
        t = std::move(FThread);
        FTerminated.store(true);
        FSuspended.store(false);
        FSuspendAsked.store(false);
        FChanged.notify_all();
    }
    if (t.get_id() == std::this_thread::get_id()) t.detach();
    else t.join();
}

AnsiString TThread::FatalException() const
{
    std::lock_guard<std::mutex> g(FLock);
    return FFatal;
}

void TThread::NameThreadForDebugging(const char* name)
{
    if (!name) return;
    char shortName[16];
    std::strncpy(shortName, name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = '\0';
    pthread_setname_np(pthread_self(), shortName);
}
