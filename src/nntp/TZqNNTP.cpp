#include "TZqNNTP.h"

#include "ZqListField.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kReadSize = 32768;
constexpr int kConnectGuardMs = 10000;
} // namespace

TZqNNTP::TZqNNTP(QObject *owner)
    : QObject(owner), receiveBuffer_(new char[kReadSize])
{
    readNotifier_ = new QSocketNotifier(QSocketNotifier::Read, this);
    writeNotifier_ = new QSocketNotifier(QSocketNotifier::Write, this);
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { Readable(); });
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { ConnectDone(); });
    connectTimer_.setSingleShot(true);
    connectTimer_.setInterval(kConnectGuardMs);
    connect(&connectTimer_, &QTimer::timeout, this, [this] { ConnectTimeout(); });
    replyTimer_.setSingleShot(true);
    connect(&replyTimer_, &QTimer::timeout, this, [this] { ReplyTimedOut(); });
}

// Runs the reply timer for the lifetime of one command's wait. The client may
// be deleted inside the wait, hence the guarded pointer.
struct TZqNNTP::ReplyWait {
    explicit ReplyWait(TZqNNTP &client) : client_(&client)
    {
        if (client.ReplyTimeoutMs > 0)
            client.replyTimer_.start(client.ReplyTimeoutMs);
    }
    ~ReplyWait()
    {
        if (client_)
            client_->replyTimer_.stop();
    }
    QPointer<TZqNNTP> client_;
};

TZqNNTP::~TZqNNTP()
{
    CloseSocket();
}

bool TZqNNTP::Connect(const QByteArray &host, int port)
{
    Connected = false;
    lineTerminator_ = "\r\n";

    // A dotted address is taken as it is; only names are looked up.
    if (host.contains('\0'))
        return false;
    in_addr_t address = inet_addr(host.constData());
    if (address == INADDR_NONE) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (getaddrinfo(host.constData(), nullptr, &hints, &found) != 0 || !found)
            return false;
        address = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(found);
    }

    // Every attempt gets a fresh socket; nothing of an earlier connection may
    // pass for this one's greeting.
    CloseSocket();
    replyTimer_.stop();
    cutter_.Clear();
    ReplyLines.clear();
    awaitingGreeting_ = false;

    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    int startError = socket_ < 0 ? errno : 0;
    if (socket_ >= 0) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(quint16(port));
        to.sin_addr.s_addr = address;
        if (::connect(socket_, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS)
            startError = errno;
    }

    connectTimer_.start();
    ReceiveMode = ModeNormal;
    ConnectionState = StateConnecting;

    if (startError != 0) {
        // The outcome of an attempt is always reported later, never from
        // inside Connect.
        const quint64 generation = generation_;
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == generation_ && ConnectionState == StateConnecting)
                ConnectFailed();
        });
    } else {
        // Readability is watched only once the connect has completed, so a
        // failed connect's error is left for ConnectDone to read.
        writeNotifier_->setSocket(socket_);
        writeNotifier_->setEnabled(true);
    }
    return true;
}

bool TZqNNTP::Disconnect()
{
    replyTimer_.stop();
    ReplyLines.clear();
    BodyLines.clear();
    Connected = false;
    CloseSocket();
    // Let a waiting command see the change even if no other event follows.
    if (QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance(thread()))
        d->wakeUp();
    return true;
}

void TZqNNTP::SendCommand(const QByteArray &text)
{
    cutter_.Clear();
    ReplyLines.clear();
    if (socket_ < 0)
        return;
    if (::send(socket_, text.constData(), size_t(text.size()), MSG_NOSIGNAL) < 0 && errno != EAGAIN
        && errno != EWOULDBLOCK && errno != EINTR)
        TransportEnded(errno);
}

void TZqNNTP::CloseSocket()
{
    ++generation_;
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

void TZqNNTP::StateChange(qint32 state)
{
    // A copy: the handler may assign a new one while it runs.
    const TStateChangeEvent handler = OnStateChange;
    if (handler)
        handler(this, state);
}

void TZqNNTP::ConnectDone()
{
    writeNotifier_->setEnabled(false);
    if (ConnectionState == StateClosed || socket_ < 0)
        return;
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        error = errno;
    if (error != 0) {
        ConnectFailed();
        return;
    }
    awaitingGreeting_ = true;
    readNotifier_->setSocket(socket_);
    readNotifier_->setEnabled(true);
}

void TZqNNTP::ConnectFailed()
{
    Connected = false;
    ConnectionState = StateClosed;
    connectTimer_.stop();
    CloseSocket();
    StateChange(4);
}

void TZqNNTP::ConnectTimeout()
{
    if (ConnectionState != StateConnecting)
        return;
    ConnectionState = StateClosed;
    Connected = false;
    CloseSocket();
    StateChange(4);
}

void TZqNNTP::GreetingArrived()
{
    // Any first line counts as the greeting; its code is not judged.
    awaitingGreeting_ = false;
    ConnectionState = StateConnected;
    Connected = true;
    connectTimer_.stop();
    StateChange(2);
}

void TZqNNTP::Readable()
{
    if (ConnectionState == StateClosed || socket_ < 0)
        return;
    const ssize_t n = ::recv(socket_, receiveBuffer_.get(), kReadSize, 0);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            TransportEnded(errno);
        return;
    }
    if (n == 0) {
        TransportEnded(0);
        return;
    }

    // The time-out counts silence, not the length of a reply.
    if (replyTimer_.isActive())
        replyTimer_.start();

    // Every byte is kept: a zero byte is data like any other.
    QByteArray chunk(receiveBuffer_.get(), n);
    const quint64 generation = generation_;
    if (OnDocOutput) {
        const QPointer<TZqNNTP> self(this);
        const TDocOutputEvent handler = OnDocOutput;
        handler(this, chunk);
        if (!self || generation != generation_)
            return; // the handler disconnected: this chunk belongs to nobody now
    }

    Nntp::LineSinks sinks;
    sinks.reply = &ReplyLines;
    sinks.body = &BodyLines;
    sinks.groups = GroupListTarget;
    cutter_.Feed(std::move(chunk), ReceiveMode, sinks);

    if (awaitingGreeting_ && ConnectionState == StateConnecting && !ReplyLines.isEmpty())
        GreetingArrived();
}

void TZqNNTP::TransportEnded(int error)
{
    Q_UNUSED(error);
    // End-of-file would otherwise report readiness for ever.
    readNotifier_->setEnabled(false);
    // Before the greeting the connect guard gives the verdict, reported once
    // through OnStateChange.
    if (ConnectionState != StateConnected || !Connected)
        return;
    // The peer closed the connection (error 0), the socket failed, or the
    // reply stayed away: the same end as Disconnect, and the owner is told.
    replyTimer_.stop();
    ReplyLines.clear();
    BodyLines.clear();
    Connected = false;
    ConnectionState = StateClosed;
    CloseSocket();
    if (QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance(thread()))
        d->wakeUp();
    const TConnectionLostEvent handler = OnConnectionLost;
    if (handler)
        handler(this);
}

void TZqNNTP::ReplyTimedOut()
{
    if (socket_ >= 0)
        TransportEnded(ETIMEDOUT);
}

bool TZqNNTP::WaitPass(quint64 generation)
{
    const QPointer<TZqNNTP> self(this);
    // Without a connection nothing would wake a blocking wait, and the
    // command ends after this pass anyway.
    const auto flags = Connected ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents;
    QCoreApplication::processEvents(flags);
    if (!self)
        return false;
    return Connected && generation == generation_;
}

bool TZqNNTP::SelectGroup(const QByteArray &name)
{
    SendCommand(Nntp::GroupCommand(name));
    const ReplyWait timing(*this);
    const quint64 generation = generation_;
    while (ReplyLines.isEmpty()) {
        if (!WaitPass(generation))
            return false;
    }
    if (Nntp::JudgeStatusReply(ReplyLines) != Nntp::ReplyState::Success)
        return false;
    const Nntp::GroupRange range = Nntp::NarrowGroupRange(ReplyLines.first());
    FirstArticle = range.first;
    LastArticle = range.last;
    return true;
}

bool TZqNNTP::GetHeader(qint32 number)
{
    SendCommand(Nntp::HeadCommand(number));
    const ReplyWait timing(*this);
    const quint64 generation = generation_;
    Nntp::ReplyState state;
    do {
        if (!WaitPass(generation))
            return false;
        state = Nntp::JudgeMultiLineReply(ReplyLines);
    } while (state == Nntp::ReplyState::Waiting);

    const bool ok = state == Nntp::ReplyState::Success;
    if (ok) {
        Nntp::ScanHeaderLines(ReplyLines, Subject, Lines);
        Nntp::ParseArticleStatus(ReplyLines.first(), ArticleNumber, MessageID);
    }
    ReplyLines.clear();
    return ok;
}

bool TZqNNTP::GetBody(qint32 number)
{
    ReceiveMode = ModeBody;
    SendCommand(Nntp::BodyCommand(number));
    BodyLines.clear();
    const ReplyWait timing(*this);
    const quint64 generation = generation_;
    Nntp::ReplyState state;
    do {
        if (!WaitPass(generation))
            return false;
        state = Nntp::JudgeMultiLineReply(ReplyLines);
        // Number and id are wanted while the body still arrives (progress),
        // and also when the whole reply came in one read.
        if (state != Nntp::ReplyState::Failure && Nntp::IsSuccessStatus(ReplyLines.value(0)))
            Nntp::ParseArticleStatus(ReplyLines.first(), ArticleNumber, MessageID);
    } while (state == Nntp::ReplyState::Waiting);

    ReceiveMode = ModeNormal;
    if (state == Nntp::ReplyState::Failure) {
        BodyLines.clear();
        return false;
    }
    return true;
}

bool TZqNNTP::GetGroupList(QList<QByteArray> &target)
{
    ReceiveMode = ModeList;
    GroupListTarget = &target;
    target.clear();
    SendCommand(Nntp::ListCommand());
    const ReplyWait timing(*this);
    const quint64 generation = generation_;
    const QPointer<TZqNNTP> self(this);
    Nntp::ReplyState state;
    do {
        if (!WaitPass(generation)) {
            if (self)
                GroupListTarget = nullptr;
            return false;
        }
        emit GroupListGrew();
        if (!self)
            return false;
        state = Nntp::JudgeMultiLineReply(ReplyLines);
    } while (state == Nntp::ReplyState::Waiting);

    ReceiveMode = ModeNormal;
    // The caller's list is not ours to keep a pointer to.
    GroupListTarget = nullptr;
    return state == Nntp::ReplyState::Success;
}

QByteArray TZqNNTP::GetField(const QByteArray &line, int index, char separator)
{
    return ::GetField(line, index, separator);
}
