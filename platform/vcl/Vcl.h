// The component class library the viewer is written against: components
// with owners and tags, the UI-thread application loop, timers and the
// event-driven client socket. One backend (Qt) implements it; nothing of
// that backend shows here.
#pragma once
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

typedef std::string AnsiString;

// The conversion error of the run-time library ("'x' is not a valid
// integer value").
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const AnsiString& message) : std::runtime_error(message) {}
};
// A decimal integer with optional blanks in front and a sign; anything
// else, or a value outside the 32-bit range, raises EConvertError.
int StrToInt(const AnsiString& text);

class TObject {
public:
    virtual ~TObject() {}
};

// A component belongs to its owner, which frees it.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;
    TComponent* Owner() const { return FOwner; }
    // The components this one owns, oldest first.
    int ComponentCount() const { return (int)FComponents.size(); }
    TComponent* Components(int index) const;
    // The owned component of that name (exact comparison), or null.
    TComponent* FindComponent(const AnsiString& name) const;
    int Tag = 0;
    AnsiString Name;

private:
    TComponent* FOwner;
    std::vector<TComponent*> FComponents;
};

typedef std::function<void(TObject* Sender)> TNotifyEvent;

// --- Application: the user-interface thread's message loop ---------------

// Makes the process a GUI application (once; later calls do nothing).
void Application_Initialize(int& argc, char** argv);
// Runs the message loop until Application_Terminate.
int Application_Run();
void Application_Terminate();
// Handles every pending message, then returns.
void Application_ProcessMessages();
// Delivers the messages the controls posted to themselves (repaints,
// layout), without timers or sockets: for code that drives controls
// without a message loop (the fuzz targets), whose posted messages would
// otherwise pile up.
void Application_DeliverPosted();
// Runs the message loop for ms milliseconds of real time.
void Application_ProcessMessagesFor(uint32_t ms);
// Runs the message loop until done() holds or timeoutMs passes; true when done.
bool Application_ProcessMessagesUntil(const std::function<bool()>& done, uint32_t timeoutMs);

// --- TTimer --------------------------------------------------------------

// OnTimer arrives on the user-interface thread every Interval ms while
// Enabled. Switching Enabled off and on restarts the period.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;
    bool Enabled() const;
    void SetEnabled(bool value);
    uint32_t Interval() const;
    void SetInterval(uint32_t ms);
    TNotifyEvent OnTimer;

    struct Impl;

private:
    Impl* FImpl;
};

// --- Client sockets ------------------------------------------------------

enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

// The connection of a TClientSocket. The methods are virtual so tests can
// stand a fake in its place.
class TCustomWinSocket : public TObject {
public:
    virtual bool Connected() const;
    // Queues count bytes for sending; never blocks. Bytes taken, -1 when
    // the socket is not connected.
    virtual int SendBuf(const void* Buf, int Count);
    // Bytes that have arrived and not yet been taken.
    virtual int ReceiveLength();
    // Takes at most Count arrived bytes; returns how many.
    virtual int ReceiveBuf(void* Buf, int Count);
    // The operating-system handle, -1 while there is none.
    virtual intptr_t SocketHandle() const;

protected:
    friend class TClientSocket;
    struct Impl;
    Impl* FImpl = nullptr;
};

typedef std::function<void(TObject* Sender, TCustomWinSocket* Socket)> TSocketNotifyEvent;
typedef std::function<void(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>
    TSocketErrorEvent;

// Non-blocking client socket. Events arrive on the user-interface thread:
// OnConnect when the connect succeeds; OnError when it fails or the link
// breaks (the handler may clear ErrorCode); OnDisconnect whenever an active
// socket ends, whether by Close, by the peer or by a failed connect; OnRead
// while arrived bytes remain unread; OnWrite once connected and writable.
class TClientSocket : public TComponent {
public:
    explicit TClientSocket(TComponent* AOwner);
    ~TClientSocket() override;

    // Virtual so that tests can stand a fake socket in its place.
    virtual AnsiString Host() const;
    virtual void SetHost(const AnsiString& host);
    virtual int Port() const;
    virtual void SetPort(int port);
    // true starts a connect to Host:Port; false is Close.
    virtual bool Active() const;
    virtual void SetActive(bool value);
    virtual void Close();
    virtual TCustomWinSocket* Socket() const;

    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnDisconnect;
    TSocketErrorEvent OnError;
    TSocketNotifyEvent OnRead;
    TSocketNotifyEvent OnWrite;

    struct Impl;

private:
    Impl* FImpl;
    TCustomWinSocket* FSocket;
};
