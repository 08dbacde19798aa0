// Qt backend of the class library: the application loop, components,
// timers and client sockets. Qt objects live only in the Impl records here.
#include "platform/vcl/Vcl.h"
#include "platform/win/Win.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>
#include <algorithm>

// --- TComponent ----------------------------------------------------------

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner)
{
    if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent()
{
    // Children first, newest first; a child leaving removes itself from us.
    while (!FComponents.empty()) {
        TComponent* c = FComponents.back();
        c->FOwner = nullptr;
        FComponents.pop_back();
        delete c;
    }
    if (FOwner) {
        auto& v = FOwner->FComponents;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
}

TComponent* TComponent::Components(int index) const
{
    if (index < 0 || index >= (int)FComponents.size()) return nullptr;
    return FComponents[(size_t)index];
}

TComponent* TComponent::FindComponent(const AnsiString& name) const
{
    if (name.empty()) return nullptr;
    for (TComponent* c : FComponents)
        if (c->Name == name) return c;
    return nullptr;
}

// --- Application ---------------------------------------------------------

static QApplication* gQtApp = nullptr;
static int gFallbackArgc = 1;
static char gFallbackName[] = "tavlin";
static char* gFallbackArgv[] = {gFallbackName, nullptr};

void Application_Initialize(int& argc, char** argv)
{
    if (QCoreApplication::instance()) return;
    gQtApp = new QApplication(argc, argv);
}

static void EnsureApplication()
{
    if (!QCoreApplication::instance()) Application_Initialize(gFallbackArgc, gFallbackArgv);
}

int Application_Run()
{
    EnsureApplication();
    return QCoreApplication::exec();
}

void Application_Terminate()
{
    if (QCoreApplication::instance()) QCoreApplication::quit();
}

void Application_ProcessMessages()
{
    EnsureApplication();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Application_DeliverPosted()
{
    EnsureApplication();
    QCoreApplication::sendPostedEvents();
}

bool Application_ProcessMessagesUntil(const std::function<bool()>& done, uint32_t timeoutMs)
{
    EnsureApplication();
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done && done()) return true;
        if (clock.elapsed() >= (qint64)timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
}

void Application_ProcessMessagesFor(uint32_t ms) { Application_ProcessMessagesUntil(nullptr, ms); }

// --- TTimer --------------------------------------------------------------

struct TTimer::Impl {
    QTimer timer;
    bool enabled = true;
    uint32_t interval = 1000;
};

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), FImpl(nullptr)
{
    EnsureApplication();
    FImpl = new Impl;
    FImpl->timer.setTimerType(Qt::PreciseTimer);
    FImpl->timer.setInterval((int)FImpl->interval);
    QObject::connect(&FImpl->timer, &QTimer::timeout, [this]() {
        if (FImpl->enabled && OnTimer) OnTimer(this);
    });
    FImpl->timer.start();
}

TTimer::~TTimer() { delete FImpl; }

bool TTimer::Enabled() const { return FImpl->enabled; }

void TTimer::SetEnabled(bool value)
{
    FImpl->enabled = value;
    if (value && FImpl->interval > 0) FImpl->timer.start((int)FImpl->interval);
    else FImpl->timer.stop();
}

uint32_t TTimer::Interval() const { return FImpl->interval; }

void TTimer::SetInterval(uint32_t ms)
{
    FImpl->interval = ms;
    SetEnabled(FImpl->enabled);
}

// --- Client sockets ------------------------------------------------------

// One activation of a TClientSocket: the Qt socket and what the owner must
// be told about it. `active` is true from the connect request until the
// single OnDisconnect of that activation has been raised.
struct TClientSocket::Impl {
    TClientSocket* owner = nullptr;
    QTcpSocket* qsock = nullptr;
    AnsiString host;
    int port = 0;
    bool active = false;
    bool readPosted = false;
    bool inRead = false;
    bool inConnectCall = false; // inside connectToHost: events wait for the loop
};

struct TCustomWinSocket::Impl {
    TClientSocket::Impl* client = nullptr;
};

bool TCustomWinSocket::Connected() const
{
    auto* c = FImpl ? FImpl->client : nullptr;
    return c && c->active && c->qsock && c->qsock->state() == QAbstractSocket::ConnectedState;
}

int TCustomWinSocket::SendBuf(const void* Buf, int Count)
{
    if (!Connected() || !Buf || Count < 0) return -1;
    qint64 n = FImpl->client->qsock->write((const char*)Buf, Count);
    return n < 0 ? -1 : (int)n;
}

int TCustomWinSocket::ReceiveLength()
{
    auto* c = FImpl ? FImpl->client : nullptr;
    if (!c || !c->qsock) return 0;
    return (int)std::min<qint64>(c->qsock->bytesAvailable(), 0x7FFFFFFF);
}

int TCustomWinSocket::ReceiveBuf(void* Buf, int Count)
{
    auto* c = FImpl ? FImpl->client : nullptr;
    if (!c || !c->qsock || !Buf || Count <= 0) return 0;
    qint64 n = c->qsock->read((char*)Buf, Count);
    return n < 0 ? 0 : (int)n;
}

intptr_t TCustomWinSocket::SocketHandle() const
{
    auto* c = FImpl ? FImpl->client : nullptr;
    if (!c || !c->qsock) return -1;
    return (intptr_t)c->qsock->socketDescriptor();
}

int Win_SetSocketOption(SOCKET s, int option, int value)
{
    if (s < 0) return -1;
    int opt;
    switch (option) {
    case WIN_SO_RCVBUF: opt = SO_RCVBUF; break;
    case WIN_SO_SNDBUF: opt = SO_SNDBUF; break;
    default: return -1;
    }
    return setsockopt((int)s, SOL_SOCKET, opt, &value, sizeof value) == 0 ? 0 : -1;
}

namespace {

// Read events keep coming, one per message-loop pass, while unread bytes
// remain; a handler that takes only part of them is called again later.
void PostRead(TClientSocket::Impl* d);

void RaiseRead(TClientSocket::Impl* d)
{
    d->readPosted = false;
    if (!d->active || !d->qsock || d->qsock->bytesAvailable() <= 0) return;
    qint64 before = d->qsock->bytesAvailable();
    d->inRead = true;
    if (d->owner->OnRead) d->owner->OnRead(d->owner, d->owner->Socket());
    d->inRead = false;
    if (d->active && d->qsock && d->qsock->bytesAvailable() > 0) {
        // Nothing taken: wait for the next arrival rather than spin; the
        // owner takes its bytes when it has room again.
        if (d->qsock->bytesAvailable() < before) PostRead(d);
        else QTimer::singleShot(10, d->qsock, [d]() { PostRead(d); });
    }
}

void PostRead(TClientSocket::Impl* d)
{
    if (d->readPosted || !d->qsock) return;
    d->readPosted = true;
    QTimer::singleShot(0, d->qsock, [d]() { RaiseRead(d); });
}

// Ends the activation: drops the Qt socket and raises the one OnDisconnect.
void EndActivation(TClientSocket::Impl* d)
{
    if (!d->active) return;
    d->active = false;
    QTcpSocket* q = d->qsock;
    d->qsock = nullptr;
    d->readPosted = false;
    if (q) {
        q->disconnect();
        q->abort();
        q->deleteLater();
    }
    if (d->owner->OnDisconnect) d->owner->OnDisconnect(d->owner, d->owner->Socket());
}

} // namespace

TClientSocket::TClientSocket(TComponent* AOwner) : TComponent(AOwner), FImpl(new Impl), FSocket(new TCustomWinSocket)
{
    FImpl->owner = this;
    FSocket->FImpl = new TCustomWinSocket::Impl;
    FSocket->FImpl->client = FImpl;
}

TClientSocket::~TClientSocket()
{
    if (FImpl->qsock) {
        FImpl->qsock->disconnect();
        FImpl->qsock->abort();
        delete FImpl->qsock;
    }
    delete FSocket->FImpl;
    delete FSocket;
    delete FImpl;
}

AnsiString TClientSocket::Host() const { return FImpl->host; }
void TClientSocket::SetHost(const AnsiString& host) { FImpl->host = host; }
int TClientSocket::Port() const { return FImpl->port; }
void TClientSocket::SetPort(int port) { FImpl->port = port; }
bool TClientSocket::Active() const { return FImpl->active; }
TCustomWinSocket* TClientSocket::Socket() const { return FSocket; }

void TClientSocket::Close() { EndActivation(FImpl); }

void TClientSocket::SetActive(bool value)
{
    if (!value) {
        Close();
        return;
    }
    if (FImpl->active) return;
    EnsureApplication();
    Impl* d = FImpl;
    d->active = true;
    QTcpSocket* q = new QTcpSocket;
    d->qsock = q;
    // Sockets are unbuffered on our side beyond Qt's own queue: SendBuf
    // never blocks, and unread bytes wait in Qt's read buffer.
    QObject::connect(q, &QTcpSocket::connected, q, [d, q]() {
        if (d->qsock != q) return;
        if (d->owner->OnConnect) d->owner->OnConnect(d->owner, d->owner->Socket());
        if (d->qsock == q && d->owner->OnWrite) d->owner->OnWrite(d->owner, d->owner->Socket());
        if (d->qsock == q && q->bytesAvailable() > 0) PostRead(d);
    });
    QObject::connect(q, &QTcpSocket::readyRead, q, [d, q]() {
        if (d->qsock == q && !d->inRead) PostRead(d);
    });
    // A connect that fails at once (no route, no descriptor) reports it
    // from inside connectToHost; like every socket event it reaches the
    // owner from the message loop, after SetActive has returned.
    auto onError = [d, q](QAbstractSocket::SocketError err) {
        if (d->qsock != q) return;
        if (err == QAbstractSocket::RemoteHostClosedError) {
            // The peer closed: bytes that already arrived are still taken
            // by the read handler before the disconnect is raised.
            if (q->bytesAvailable() > 0) RaiseRead(d);
            if (d->qsock == q) EndActivation(d);
            return;
        }
        bool connecting = q->state() != QAbstractSocket::ConnectedState;
        int code = 10000 + (int)err; // a non-zero Windows-style error code
        if (d->owner->OnError)
            d->owner->OnError(d->owner, d->owner->Socket(), connecting ? eeConnect : eeGeneral, code);
        // Whatever the handler did, an activation that failed ends in one
        // OnDisconnect, so the owner can try again.
        if (d->qsock == q) EndActivation(d);
    };
    QObject::connect(q, &QTcpSocket::errorOccurred, q, [d, q, onError](QAbstractSocket::SocketError err) {
        if (d->qsock != q) return;
        if (d->inConnectCall) {
            QTimer::singleShot(0, q, [onError, err]() { onError(err); });
            return;
        }
        onError(err);
    });
    auto onDisconnected = [d, q]() {
        if (d->qsock != q) return;
        if (q->bytesAvailable() > 0) RaiseRead(d);
        if (d->qsock == q) EndActivation(d);
    };
    QObject::connect(q, &QTcpSocket::disconnected, q, [d, q, onDisconnected]() {
        if (d->inConnectCall) QTimer::singleShot(0, q, onDisconnected);
        else onDisconnected();
    });
    d->inConnectCall = true;
    q->connectToHost(QString::fromStdString(d->host), (quint16)d->port);
    d->inConnectCall = false;
}

int StrToInt(const AnsiString& text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') i++;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t first = i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) break;
    }
    if (i == first || i != text.size() || value > (negative ? 2147483648LL : 2147483647LL))
        throw EConvertError("'" + text + "' is not a valid integer value");
    return (int)(negative ? -value : value);
}
