#include "TZqNNTP.h"
#include "SafeText.h"
#include "SocketWrite.h"
#include "TDeflateMemory.h"
#include "TMeasureClock.h"
#include "ZqListField.h"

#include <QAbstractEventDispatcher>
#include <QSslSocket>

#include <algorithm>
#include <climits>
#include <utility>

namespace {
// A server's words reach labels, the log and a terminal: no control or bidi
// character of theirs may act there.
QString Words(const QByteArray &serverLine) { return SafeText::Shown(serverLine.trimmed()); }
} // namespace

TZqNNTP::TZqNNTP(QObject *owner) : QObject(owner)
{
    connectTimer_.setSingleShot(true);
    connectTimer_.setInterval(ConnectGuardMs);
    connect(&connectTimer_, &QTimer::timeout, this, [this] { ConnectTimeout(); });
    connector_.OnOpened = [this](QTcpSocket *s) { Opened(s); };
    connector_.OnFailed = [this](bool certificate, const QString &reason) {
        AttemptFailed(certificate ? FailCertificate : FailNetwork, reason);
    };
}

TZqNNTP::~TZqNNTP() { CloseSocket(); }

QString TZqNNTP::Where() const
{
    const QString host = QString::fromUtf8(host_);
    const bool v6 = host.contains(':');
    return (v6 ? '[' + host + ']' : host) + ':' + QString::number(port_);
}

bool TZqNNTP::Connect(const QByteArray &host, int port)
{
    Connected = false;
    dialect_.Forget();
    OverviewRefused = false;
    lineTerminator_ = "\r\n";
    LastFailure = FailNone;
    FailureText.clear();
    PeerSha256.clear();
    CertificateErrors.clear();
    host_ = host;
    port_ = port > 0 && port <= 65535 ? quint16(port) : 0;

    QList<QHostAddress> addresses;
    QString why;
    if (!TNntpConnector::Resolve(host, addresses, why)) {
        LastFailure = FailNetwork;
        FailureText = SafeText::Shown(Where() + QStringLiteral(": ") + why);
        return false;
    }

    // Every attempt gets a fresh socket; nothing of an earlier connection may
    // pass for this one's greeting.
    CloseSocket();
    receiver_.StopReplyTimer();
    receiver_.DropPartialLine();
    ReplyLines.clear();
    setup_.Stop();

    connectTimer_.start();
    ReceiveMode = ModeNormal;
    ConnectionState = StateConnecting;

    // The outcome of an attempt is always reported later, never from inside
    // Connect.
    if (port_ == 0) {
        const quint64 generation = generation_;
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == generation_)
                AttemptFailed(FailNetwork, QStringLiteral("not a port number"));
        });
    } else {
        connector_.Open(addresses, host_, port_, UseTls, TrustedSha256);
    }
    return true;
}

void TZqNNTP::Opened(QTcpSocket *s)
{
    if (ConnectionState != StateConnecting) {
        s->deleteLater();
        return;
    }
    s->setParent(this);
    // Blocks of one read's size: taken whole without a copy, and small enough
    // for the heap to hand the same memory back (large ones fault in afresh).
    if (!qobject_cast<QSslSocket *>(s))
        s->setReadBufferSize(TNntpReceiver::ReadSize);
    socket_ = s;
    const quint64 generation = generation_;
    auto mine = [this, generation] { return generation == generation_; };
    connect(s, &QAbstractSocket::errorOccurred, this, [this, mine] {
        if (mine())
            SocketError();
    });
    connect(s, &QIODevice::readyRead, this, [this, mine] {
        if (mine())
            receiver_.Readable();
    });
    StartSession();
    // What came with the handshake signals nothing more.
    if (s->bytesAvailable() > 0)
        QTimer::singleShot(0, this, [this, mine] {
            if (mine())
                receiver_.Readable();
        });
}

void TZqNNTP::SocketError()
{
    const QString reason = socket_ ? socket_->errorString() : QString();
    if (ConnectionState == StateConnecting) {
        // The server was reached and then ended the session.
        AttemptFailed(FailNetwork, reason);
        return;
    }
    if (socket_ && socket_->error() == QAbstractSocket::RemoteHostClosedError)
        TransportEnded(QStringLiteral("the server closed the connection"));
    else
        TransportEnded(reason);
}

void TZqNNTP::StartSession()
{
    setup_.Start(UserName, Password, UseCompression && !TDeflateMemory::Broken(host_, port_));
    if (!ReplyLines.isEmpty())
        SetupReply();
}

void TZqNNTP::SetupReply()
{
    if (!setup_.Active())
        return;
    const QByteArray status = ReplyLines.first();
    const TSessionSetup::Step step = setup_.Reply(ReplyLines);
    switch (step.next) {
    case TSessionSetup::Next::Send:
        SendCommand(step.command);
        return;
    case TSessionSetup::Next::Wait:
        return;
    case TSessionSetup::Next::Done:
        // Nothing was sent after COMPRESS, so both streams begin here.
        if (step.compressed && !deflate_.Start()) {
            AttemptFailed(FailNetwork, QStringLiteral("compression could not be started: ") + deflate_.Error());
            return;
        }
        SetupDone();
        return;
    case TSessionSetup::Next::ServerRefused:
        AttemptFailed(FailServer, Words(status));
        return;
    case TSessionSetup::Next::LoginRefused:
        AttemptFailed(FailLogin, Words(status));
        return;
    case TSessionSetup::Next::LoginRequired:
        AttemptFailed(FailLoginRequired, Words(status));
        return;
    }
}

void TZqNNTP::SetupDone()
{
    setup_.Stop();
    ConnectionState = StateConnected;
    Connected = true;
    connectTimer_.stop();
    // The greeting stays until the next command, as on a plain server.
    ReplyLines = {setup_.Greeting()};
    StateChange(StateConnected);
}

void TZqNNTP::AttemptFailed(Failure kind, const QString &reason)
{
    if (ConnectionState != StateConnecting)
        return;
    Connected = false;
    ConnectionState = StateClosed;
    connectTimer_.stop();
    setup_.Stop();
    PeerSha256 = connector_.PeerSha256;
    CertificateErrors = connector_.CertificateErrors;
    CloseSocket();
    LastFailure = kind;
    FailureText = SafeText::Shown(Where() + QStringLiteral(": ") + reason);
    StateChange(StateAttemptFailed);
}

void TZqNNTP::ConnectTimeout()
{
    if (ConnectionState != StateConnecting)
        return;
    const TSessionSetup::Stage stage = setup_.CurrentStage();
    const QString what = stage == TSessionSetup::Stage::Off        ? QStringLiteral("no connection")
                         : stage == TSessionSetup::Stage::Greeting ? QStringLiteral("no greeting")
                                                                   : QStringLiteral("no reply from the server");
    AttemptFailed(connector_.CertificateRefused ? FailCertificate : FailNetwork,
                  what + QStringLiteral(" within %1 seconds").arg(ConnectGuardMs / 1000));
}

bool TZqNNTP::Disconnect()
{
    receiver_.StopReplyTimer();
    ReplyLines.clear();
    BodyLines.clear();
    Connected = false;
    setup_.Stop();
    CloseSocket();
    // Let a waiting command see the change even if no other event follows.
    if (QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance(thread()))
        d->wakeUp();
    return true;
}

void TZqNNTP::SendCommand(const QByteArray &text)
{
    receiver_.DropPartialLine();
    ReplyLines.clear();
    receiver_.ResetReplyBytes();
    if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState)
        return;
    if (!Write(text))
        TransportEnded(socket_->errorString());
}

bool TZqNNTP::Write(const QByteArray &data)
{
    if (!deflate_.Active()) {
        WireBytesOut += data.size();
        return WriteToSocket(socket_, data);
    }
    QByteArray packed;
    if (!deflate_.Deflate(data, packed))
        return false;
    WireBytesOut += packed.size();
    return WriteToSocket(socket_, packed);
}

void TZqNNTP::CloseSocket()
{
    ++generation_;
    connector_.Abort();
    // Replies still due belong to this connection only.
    pipeline_.Clear();
    receiver_.ResetReplyBytes();
    receiver_.DropHeld();
    deflate_.Stop();
    if (QTcpSocket *s = socket_) {
        socket_ = nullptr;
        s->disconnect(this);
        s->abort();
        s->deleteLater();
    }
}

void TZqNNTP::StateChange(qint32 state)
{
    // A copy: the handler may assign a new one while it runs.
    const TStateChangeEvent handler = OnStateChange;
    if (handler)
        handler(this, state);
}

void TZqNNTP::TransportEnded(const QString &reason)
{
    // Before the session is set up the attempt itself fails, reported once
    // through OnStateChange.
    if (ConnectionState != StateConnected || !Connected) {
        if (ConnectionState == StateConnecting)
            AttemptFailed(FailNetwork, reason);
        return;
    }
    EndForLogin(FailNetwork, reason);
}

// Ends an established connection without Disconnect, telling the owner.
void TZqNNTP::EndForLogin(Failure kind, const QString &reason)
{
    LastFailure = kind;
    FailureText = SafeText::Shown(Where() + QStringLiteral(": ") + reason);
    receiver_.StopReplyTimer();
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

// After a 480: logs in (never pipelined) and says whether to send the command
// once more. Without a user name, or with a refused login, the connection ends.
bool TZqNNTP::LogInAgain()
{
    if (!Connected || Nntp::StatusCode(LastStatus) != 480)
        return false;
    if (UserName.isEmpty()) {
        EndForLogin(FailLoginRequired, Words(LastStatus));
        return false;
    }
    const QPointer<TZqNNTP> self(this);
    if (!receiver_.DrainAhead())
        return false;
    const quint64 generation = generation_;
    ReceiveMode = ModeNormal;
    SendCommand(Nntp::AuthUserCommand(UserName));
    if (!receiver_.WaitStatus(generation))
        return false;
    QByteArray status = ReplyLines.first();
    if (Nntp::StatusCode(status) == 381) {
        SendCommand(Nntp::AuthPassCommand(Password));
        if (!receiver_.WaitStatus(generation))
            return false;
        status = ReplyLines.first();
    }
    ReplyLines.clear();
    if (Nntp::StatusCode(status) == 281)
        return true;
    EndForLogin(FailLogin, Words(status));
    return false;
}

namespace {
// Sends a command, and once more after a 480 and a login. The client may be
// deleted inside any of the waits.
template <typename Once>
bool WithLogin(TZqNNTP *client, Once once, bool (TZqNNTP::*logIn)())
{
    const QPointer<TZqNNTP> self(client);
    if (once())
        return true;
    return self && (client->*logIn)() && self && once();
}
} // namespace

bool TZqNNTP::SelectGroup(const QByteArray &name, qint64 overFirst, qint64 overLast)
{
    return WithLogin(this, [&] { return SelectGroupOnce(name, overFirst, overLast); }, &TZqNNTP::LogInAgain);
}

bool TZqNNTP::GetHeader(qint64 number)
{
    return WithLogin(this, [&] { return GetHeaderOnce(number); }, &TZqNNTP::LogInAgain);
}

bool TZqNNTP::GetOverview(qint64 first, qint64 last, QList<Nntp::OverviewEntry> &entries)
{
    entries.clear();
    const QPointer<TZqNNTP> self(this); // may be deleted inside a wait
    if (OverviewRefused || !Connected)
        return false;
    auto once = [this](const QByteArray &command, QList<QByteArray> &lines) {
        return WithLogin(this, [&] { return MultiLineOnce(command, lines); }, &TZqNNTP::LogInAgain);
    };
    QList<QByteArray> lines;
    // The list of fields goes out with the first batch: a server answers in order.
    bool paired = false;
    bool pairOk = false;
    const OverviewAhead ahead = std::exchange(overviewAhead_, OverviewAhead{});
    if (ahead.generation == generation_ && dialect_.FormatKnown() && ahead.verb == dialect_.Verbs().first() &&
        ahead.first == first && last <= ahead.last) {
        paired = true;
        pairOk = ahead.ok;
        LastStatus = ahead.status;
        lines = ahead.lines;
        if (last < ahead.last) {
            // Asked for less than was sent for: the rest are articles, not faults.
            lines.removeIf([&](const QByteArray &line) {
                Nntp::OverviewEntry e;
                return Nntp::ParseOverviewLine(line, dialect_.Format(), e) && e.number > last && e.number <= ahead.last;
            });
        }
    } else if (!dialect_.FormatKnown()) {
        bool listed = false;
        QList<QByteArray> format;
        const QByteArray over = Nntp::OverCommand(dialect_.Verbs().first(), first, last);
        pairOk = WithLogin(
            this, [&] { return TwoMultiLineOnce(Nntp::ListOverviewFormatCommand(), over, listed, format, lines); },
            &TZqNNTP::LogInAgain);
        if (!self || !Connected)
            return false;
        dialect_.TakeFormat(listed, format);
        paired = true;
    }
    for (const QByteArray &verb : dialect_.Verbs()) {
        const bool ok = std::exchange(paired, false) ? pairOk : once(Nntp::OverCommand(verb, first, last), lines);
        if (!self || !Connected)
            return false;
        if (dialect_.Answered(verb, ok, LastStatus)) {
            OverviewIncomplete = !Nntp::ParseOverviewLines(lines, dialect_.Format(), first, last, entries);
            return true;
        }
        if (dialect_.Settled())
            break;
    }
    // Refused (or an overview that failed once it worked): per-article headers from now on.
    OverviewRefused = true;
    return false;
}

bool TZqNNTP::TwoMultiLineOnce(const QByteArray &first, const QByteArray &second, bool &firstOk,
                               QList<QByteArray> &firstLines, QList<QByteArray> &lines)
{
    LastStatus.clear();
    firstOk = false;
    firstLines.clear();
    lines.clear();
    if (!receiver_.DrainAhead(true))
        return false;
    SendCommand(first + second);
    const quint64 generation = generation_;
    qsizetype taken;
    {
        const TNntpReceiver::ReplyWait timing(receiver_, TNntpReceiver::Awaiting::MultiLine);
        while ((taken = Nntp::FirstReplyLines(ReplyLines)) < 0)
            if (!receiver_.WaitPass(generation))
                return false;
    }
    firstOk = Nntp::JudgeMultiLineReply(ReplyLines.mid(0, taken)) == Nntp::ReplyState::Success;
    if (firstOk)
        firstLines = ReplyLines.mid(1, taken - 2);
    ReplyLines.remove(0, taken);
    return TakeMultiLineReply(generation, lines);
}

bool TZqNNTP::MultiLineOnce(const QByteArray &command, QList<QByteArray> &lines)
{
    LastStatus.clear();
    lines.clear();
    if (!receiver_.DrainAhead(true))
        return false;
    SendCommand(command);
    return TakeMultiLineReply(generation_, lines);
}

bool TZqNNTP::TakeMultiLineReply(quint64 generation, QList<QByteArray> &lines)
{
    const TNntpReceiver::ReplyWait timing(receiver_, TNntpReceiver::Awaiting::MultiLine);
    Nntp::ReplyState state;
    while ((state = Nntp::JudgeMultiLineReply(ReplyLines)) == Nntp::ReplyState::Waiting)
        if (!receiver_.WaitPass(generation))
            return false;
    LastStatus = ReplyLines.first();
    const bool ok = state == Nntp::ReplyState::Success;
    if (ok)
        lines = ReplyLines.mid(1, ReplyLines.size() - 2);
    ReplyLines.clear();
    return ok;
}

bool TZqNNTP::GetBody(qint64 number, const QList<qint64> &ahead, const QByteArray &expectedId)
{
    return WithLogin(this, [&] { return bodies_.FetchOnce(number, ahead, expectedId); }, &TZqNNTP::LogInAgain);
}

bool TZqNNTP::GetGroupList(QList<QByteArray> &target)
{
    return WithLogin(this, [&] { return GetGroupListOnce(target); }, &TZqNNTP::LogInAgain);
}

bool TZqNNTP::SelectGroupOnce(const QByteArray &name, qint64 overFirst, qint64 overLast)
{
    LastStatus.clear();
    overviewAhead_ = {};
    if (!receiver_.DrainAhead())
        return false;
    const bool over = overFirst > 0 && overLast >= overFirst && !OverviewRefused;
    const bool format = over && !dialect_.FormatKnown();
    const QByteArray verb = over ? dialect_.Verbs().first() : QByteArray();
    const qint64 sentNs = TMeasureClock::NowNs();
    SendCommand(Nntp::GroupCommand(name) + (format ? Nntp::ListOverviewFormatCommand() : QByteArray()) +
                (over ? Nntp::OverCommand(verb, overFirst, overLast) : QByteArray()));
    const quint64 generation = generation_;
    if (!receiver_.WaitStatus(generation))
        return false;
    RoundTripUs = (TMeasureClock::NowNs() - sentNs) / 1000;
    const QByteArray status = ReplyLines.first();
    const bool selected = Nntp::JudgeStatusReply(ReplyLines.mid(0, 1)) == Nntp::ReplyState::Success;
    if (over) {
        // The replies that follow are read whatever GROUP said: they are on their way.
        ReplyLines.removeFirst();
        if (format) {
            qsizetype taken;
            {
                const TNntpReceiver::ReplyWait timing(receiver_, TNntpReceiver::Awaiting::MultiLine);
                while ((taken = Nntp::FirstReplyLines(ReplyLines)) < 0)
                    if (!receiver_.WaitPass(generation))
                        return false;
            }
            const bool listed = Nntp::JudgeMultiLineReply(ReplyLines.mid(0, taken)) == Nntp::ReplyState::Success;
            // Refused for want of a login, say, it says nothing of the server's format.
            if (selected)
                dialect_.TakeFormat(listed, listed ? ReplyLines.mid(1, taken - 2) : QList<QByteArray>());
            ReplyLines.remove(0, taken);
        }
        OverviewAhead ahead{generation, overFirst, overLast, verb, {}, false, {}};
        ahead.ok = TakeMultiLineReply(generation, ahead.lines);
        if (generation != generation_)
            return false;
        ahead.status = LastStatus;
        if (selected)
            overviewAhead_ = std::move(ahead);
    }
    LastStatus = status;
    if (!selected)
        return false;
    const Nntp::GroupRange range = Nntp::NarrowGroupRange(status);
    FirstArticle = range.first;
    LastArticle = range.last;
    return true;
}

bool TZqNNTP::GetHeaderOnce(qint64 number)
{
    ProtocolError = false;
    QList<QByteArray> lines;
    if (!MultiLineOnce(Nntp::HeadCommand(number), lines))
        return false;
    // Another article's header would file this one under its subject and id.
    if (!Nntp::ReplyAnswers(LastStatus, number, {}, false)) {
        ProtocolError = true;
        TransportEnded(QStringLiteral("HEAD %1 was answered with \"%2\"")
                           .arg(number)
                           .arg(QString::fromLatin1(LastStatus.left(200))));
        return false;
    }
    Nntp::ScanHeaderLines(lines, Subject, Lines);
    Header = Nntp::ScanHeaderFields(lines);
    Nntp::ParseArticleStatus(LastStatus, ArticleNumber, MessageID);
    return true;
}

bool TZqNNTP::WaitsForRoundTrip(qint64 number) { return Connected && pipeline_.IdleBefore(number); }

int TZqNNTP::RequestBodies(const QList<Want> &wants)
{
    QList<Want> sendable;
    for (const Want &w : wants)
        if (!ByMessageId || Nntp::SendableMessageId(w.id))
            sendable.append(ByMessageId ? w : Want{w.number, {}});
    return bodies_.Send(sendable, INT_MAX);
}

bool TZqNNTP::GetGroupListOnce(QList<QByteArray> &target)
{
    LastStatus.clear();
    if (!receiver_.DrainAhead())
        return false;
    ReceiveMode = ModeList;
    GroupListTarget = &target;
    target.clear();
    SendCommand(Nntp::ListCommand());
    const TNntpReceiver::ReplyWait timing(receiver_, TNntpReceiver::Awaiting::MultiLine);
    const quint64 generation = generation_;
    const QPointer<TZqNNTP> self(this);
    Nntp::ReplyState state;
    do {
        if (!receiver_.WaitPass(generation)) {
            if (self)
                GroupListTarget = nullptr;
            return false;
        }
        emit GroupListGrew();
        if (!self)
            return false;
        state = Nntp::JudgeMultiLineReply(ReplyLines);
    } while (state == Nntp::ReplyState::Waiting);

    LastStatus = ReplyLines.first();
    ReceiveMode = ModeNormal;
    // The caller's list is not ours to keep a pointer to.
    GroupListTarget = nullptr;
    return state == Nntp::ReplyState::Success;
}

QByteArray TZqNNTP::GetField(const QByteArray &line, int index, char separator)
{
    return ::GetField(line, index, separator);
}
