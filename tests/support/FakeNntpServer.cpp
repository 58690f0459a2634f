#include "FakeNntpServer.h"

#include <QTimer>

#include <memory>

#include <climits>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

FakeNntpServer::FakeNntpServer(QObject *parent)
    : QObject(parent), server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &FakeNntpServer::Accept);
    pieceTimer_.setSingleShot(true);
    connect(&pieceTimer_, &QTimer::timeout, this, &FakeNntpServer::WriteNext);
}

FakeNntpServer::~FakeNntpServer()
{
    if (client_)
        client_->abort();
}

bool FakeNntpServer::Listen(quint16 port)
{
    return Listen(port, QHostAddress(QHostAddress::LocalHost));
}

bool FakeNntpServer::Listen(quint16 port, const QHostAddress &address)
{
    if (!server_->listen(address, port))
        return false;
    port_ = server_->serverPort();
    return true;
}

void FakeNntpServer::StopListening()
{
    server_->close();
}

quint16 FakeNntpServer::ClosedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void FakeNntpServer::Script(const QByteArray &command, const QList<QByteArray> &pieces)
{
    scripts_.append({command, pieces});
}

void FakeNntpServer::Accept()
{
    while (QTcpSocket *s = server_->nextPendingConnection()) {
        if (client_)
            client_->abort();
        client_ = s;
        ++connections;
        inbox_.clear();
        queue_.clear();
        currentGroup_.clear();
        userGiven_.clear();
        loggedIn_ = false;
        stalled_ = false;
        connect(s, &QTcpSocket::readyRead, this, &FakeNntpServer::ReadClient);
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        emit ClientConnected();
        if (closeOnAccept) {
            s->disconnectFromHost();
            continue;
        }
        if (!silent && !greeting.isNull())
            Send(greeting + "\r\n");
    }
}

void FakeNntpServer::ReadClient()
{
    auto *s = qobject_cast<QTcpSocket *>(sender());
    if (!s || s != client_)
        return;
    const QByteArray bytes = s->readAll();
    if (record)
        received += bytes;
    inbox_ += bytes;
    qsizetype lf;
    while ((lf = inbox_.indexOf('\n')) >= 0) {
        const QByteArray line = inbox_.left(lf + 1);
        inbox_.remove(0, lf + 1);
        const QByteArray upper = line.toUpper();
        if (record) {
            if (upper.startsWith("MODE READER") || upper.startsWith("AUTHINFO "))
                sessionCommands.append(line);
            else
                commands.append(line);
        }
        QByteArray command = line;
        command.chop(1);
        if (command.endsWith('\r'))
            command.chop(1);
        emit CommandReceived(command);
        if (latencyMs > 0) {
            const QPointer<QTcpSocket> from(s);
            QTimer::singleShot(latencyMs, this, [this, from, command] {
                if (from && from == client_)
                    Answer(command);
            });
        } else {
            Answer(command);
        }
    }
}

void FakeNntpServer::Answer(const QByteArray &command)
{
    if (!closeOn.isEmpty() && command.startsWith(closeOn)) {
        CloseClient();
        return;
    }
    // A stalled server answers nothing more on that connection, not even
    // the commands sent after the stalled one.
    if (!stallOn.isEmpty() && command.startsWith(stallOn))
        stalled_ = true;
    if (silent || stalled_)
        return;
    for (const auto &script : std::as_const(scripts_)) {
        if (script.first == command) {
            Send(script.second);
            return;
        }
    }
    if (responder && responder(*this, command))
        return;

    const qsizetype space = command.indexOf(' ');
    const QByteArray verb = command.left(space < 0 ? command.size() : space).toUpper();
    const QByteArray arg = space < 0 ? QByteArray() : command.mid(space + 1);

    if (verb == "MODE" && arg.toUpper() == "READER") {
        Send(modeReaderReply + "\r\n");
        return;
    }
    if (verb == "AUTHINFO") {
        const QByteArray what = arg.left(5).toUpper();
        if (what == "USER ") {
            userGiven_ = arg.mid(5);
            Send("381 password required\r\n");
        } else if (what == "PASS " && !user.isEmpty() && userGiven_ == user && arg.mid(5) == password) {
            loggedIn_ = true;
            Send("281 authentication accepted\r\n");
        } else {
            Send("481 authentication failed\r\n");
        }
        return;
    }
    if (verb != "QUIT") {
        const bool once = !askLoginOnce.isEmpty() && command.startsWith(askLoginOnce);
        if (once)
            askLoginOnce.clear();
        if (once || (loginRequired && !loggedIn_)) {
            loggedIn_ = false;
            Send("480 authentication required\r\n");
            return;
        }
    }

    if (verb == "GROUP") {
        const Group *g = FindGroup(arg);
        if (!g) {
            Send("411 no such news group\r\n");
            return;
        }
        currentGroup_ = g->name;
        Send(GroupReply(*g) + "\r\n");
    } else if (verb == "HEAD" || verb == "BODY") {
        if (currentGroup_.isEmpty()) {
            Send("412 no newsgroup selected\r\n");
            return;
        }
        bool ok = false;
        const qint32 number = arg.toInt(&ok);
        const Article *a = ok ? FindArticle(number) : nullptr;
        if (!a) {
            Send("423 no such article number in this group\r\n");
            return;
        }
        const QByteArray id = QByteArray::number(a->number) + ' ' + a->messageId;
        if (verb == "HEAD") {
            QList<QByteArray> header = a->header;
            if (header.isEmpty()) {
                header << "From: poster@example.invalid"
                       << "Newsgroups: " + currentGroup_
                       << "Subject: " + a->subject
                       << "Message-ID: " + a->messageId;
                if (a->linesHeader)
                    header << "Lines: " + QByteArray::number(a->body.size());
            }
            Send("221 " + id + " head\r\n" + Stuffed(header));
        } else {
            Send("222 " + id + " body\r\n" + Stuffed(a->body));
        }
    } else if (verb == "LIST" && arg.toUpper() == "OVERVIEW.FMT") {
        if (!overview) {
            Send("503 no overview here\r\n");
            return;
        }
        Send("215 order of fields in overview database\r\n" + Stuffed(overviewFormat));
    } else if ((verb == "OVER" && overview && !xoverOnly) || (verb == "XOVER" && overview)) {
        if (currentGroup_.isEmpty()) {
            Send("412 no newsgroup selected\r\n");
            return;
        }
        const qsizetype dash = arg.indexOf('-');
        bool okLo = false, okHi = true;
        const qint64 lo = arg.left(dash < 0 ? arg.size() : dash).toLongLong(&okLo);
        qint64 hi = lo;
        if (dash >= 0)
            hi = arg.mid(dash + 1).isEmpty() ? LLONG_MAX : arg.mid(dash + 1).toLongLong(&okHi);
        const Group *g = FindGroup(currentGroup_);
        QList<QByteArray> lines;
        for (const Article &a : g->articles) {
            if (!okLo || !okHi || a.number < lo || a.number > hi || overviewGaps.contains(a.number))
                continue;
            lines << OverviewLine(a);
        }
        if (g->generate && okLo && okHi)
            for (qint64 n = qMax<qint64>(lo, g->first); n <= qMin<qint64>(hi, g->last); ++n)
                if (!overviewGaps.contains(n))
                    lines << OverviewLine(g->generate(qint32(n)));
        if (lines.isEmpty()) {
            Send("423 no articles in that range\r\n");
            return;
        }
        Send("224 overview follows\r\n" + Stuffed(lines));
    } else if (verb == "LIST") {
        QByteArray reply = "215 list of newsgroups follows\r\n";
        for (const Group &g : std::as_const(groups)) {
            QByteArray range = GroupReply(g);
            const QList<QByteArray> f = range.split(' ');
            reply += g.name + ' ' + f.value(3) + ' ' + f.value(2) + ' ' + g.posting + "\r\n";
        }
        Send(reply + ".\r\n");
    } else if (verb == "QUIT") {
        Send("205 bye\r\n");
        CloseClient();
    } else {
        Send("500 command not recognized\r\n");
    }
}

QByteArray FakeNntpServer::OverviewLine(const Article &a)
{
    QByteArray subject = a.subject;
    for (const QByteArray &h : a.header) {
        if (h.startsWith("Subject: "))
            subject = h.mid(9);
    }
    const QByteArray linesField = a.linesHeader ? QByteArray::number(a.body.size()) : QByteArray();
    return QByteArray::number(a.number) + '\t' + subject + "\tposter@example.invalid\t"
           "Mon, 7 Dec 2026 10:00:00 +0000\t" + a.messageId + "\t\t"
           + QByteArray::number(qint64(Stuffed(a.body).size())) + '\t' + linesField;
}

QByteArray FakeNntpServer::GroupReply(const Group &g) const
{
    qint32 lo = 0, hi = 0;
    for (const Article &a : g.articles) {
        if (lo == 0 || a.number < lo)
            lo = a.number;
        hi = qMax(hi, a.number);
    }
    const qint32 count = g.count >= 0 ? g.count : qint32(g.articles.size());
    const qint32 first = g.first >= 0 ? g.first : lo;
    const qint32 last = g.last >= 0 ? g.last : hi;
    return "211 " + QByteArray::number(count) + ' ' + QByteArray::number(first) + ' ' +
           QByteArray::number(last) + ' ' + g.name;
}

void FakeNntpServer::Send(const QList<QByteArray> &pieces)
{
    const bool idle = queue_.isEmpty() && !pieceTimer_.isActive();
    queue_.append(pieces);
    if (idle)
        WriteNext();
}

void FakeNntpServer::WriteNext()
{
    if (queue_.isEmpty())
        return;
    const QByteArray piece = queue_.takeFirst();
    if (piece.isNull()) {
        // A null piece in a queue stands for "close the connection here".
        CloseClient();
        return;
    }
    if (client_) {
        client_->write(piece);
        client_->flush();
    }
    if (!queue_.isEmpty())
        pieceTimer_.start(pieceDelayMs);
}

void FakeNntpServer::CloseClient()
{
    queue_.clear();
    pieceTimer_.stop();
    if (client_) {
        client_->flush();
        client_->disconnectFromHost();
    }
}

void FakeNntpServer::ResetClient()
{
    queue_.clear();
    pieceTimer_.stop();
    if (client_) {
        // A zero linger time makes the close send RST.
        const linger now{1, 0};
        ::setsockopt(int(client_->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
        client_->abort();
    }
}

QByteArray FakeNntpServer::Stuffed(const QList<QByteArray> &lines)
{
    QByteArray out;
    for (const QByteArray &line : lines) {
        if (line.startsWith('.'))
            out += '.';
        out += line + "\r\n";
    }
    return out + ".\r\n";
}

FakeNntpServer::Article FakeNntpServer::MakeArticle(qint32 number, const QByteArray &subject,
                                                    const QList<QByteArray> &body)
{
    Article a;
    a.number = number;
    a.messageId = "<art" + QByteArray::number(number) + "@fake.invalid>";
    a.subject = subject;
    a.body = body;
    return a;
}

const FakeNntpServer::Group *FakeNntpServer::FindGroup(const QByteArray &name) const
{
    for (const Group &g : groups)
        if (g.name == name)
            return &g;
    return nullptr;
}

const FakeNntpServer::Article *FakeNntpServer::FindArticle(qint32 number) const
{
    const Group *g = FindGroup(currentGroup_);
    if (!g)
        return nullptr;
    for (const Article &a : g->articles)
        if (a.number == number)
            return &a;
    if (g->generate && number >= g->first && number <= g->last) {
        generated_ = g->generate(number);
        return &generated_;
    }
    return nullptr;
}

void FakeNntpServer::OnCommandOnce(const QByteArray &prefix, std::function<void()> f)
{
    auto fired = std::make_shared<bool>(false);
    connect(this, &FakeNntpServer::CommandReceived, this, [=](const QByteArray &c) {
        if (!*fired && c.startsWith(prefix)) {
            *fired = true;
            QTimer::singleShot(0, f);
        }
    });
}
