#include "FakeNntpServer.h"

#include <QTimer>

#include <memory>
#include <utility>

#include <climits>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

#include <zlib.h>

struct FakeNntpServer::Zlib {
    z_stream in{};
    z_stream out{};
    Zlib()
    {
        inflateInit2(&in, -15);
        deflateInit2(&out, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    }
    ~Zlib()
    {
        inflateEnd(&in);
        deflateEnd(&out);
    }
    // Both ways each call takes all of its input; false on a broken stream.
    static bool Run(z_stream &z, const QByteArray &from, QByteArray &to, bool deflating)
    {
        to.clear();
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(from.constData()));
        z.avail_in = uInt(from.size());
        do {
            char buffer[16384];
            z.next_out = reinterpret_cast<Bytef *>(buffer);
            z.avail_out = sizeof buffer;
            const int r = deflating ? deflate(&z, Z_SYNC_FLUSH) : inflate(&z, Z_SYNC_FLUSH);
            if (r != Z_OK && r != Z_BUF_ERROR)
                return false;
            to.append(buffer, qsizetype(sizeof buffer - z.avail_out));
        } while (z.avail_out == 0 || z.avail_in > 0);
        return true;
    }
};

FakeNntpServer::Session::Session() = default;
FakeNntpServer::Session::~Session() = default;

FakeNntpServer::FakeNntpServer(QObject *parent)
    : QObject(parent), server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &FakeNntpServer::Accept);
}

FakeNntpServer::~FakeNntpServer()
{
    for (auto &session : sessions_)
        if (session->socket)
            session->socket->abort();
}

FakeNntpServer::Session *FakeNntpServer::current() const
{
    if (answering_)
        return answering_;
    for (auto it = sessions_.rbegin(); it != sessions_.rend(); ++it)
        if ((*it)->socket)
            return it->get();
    return nullptr;
}

int FakeNntpServer::OpenClients() const
{
    int open = 0;
    for (const auto &session : sessions_)
        open += session->socket && session->socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return open;
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
        const bool tooMany = maxClients > 0 && OpenClients() >= maxClients;
        auto owned = std::make_unique<Session>();
        Session *session = owned.get();
        session->socket = s;
        session->pieceTimer = std::make_unique<QTimer>();
        session->pieceTimer->setSingleShot(true);
        connect(session->pieceTimer.get(), &QTimer::timeout, this, [this, session] { WriteNext(session); });
        sessions_.push_back(std::move(owned));
        ++connections;
        connect(s, &QTcpSocket::readyRead, this, [this, session] { ReadClient(session); });
        // Sessions stay until the server goes (they are small), so a late
        // timer never meets a freed one; the socket goes at once.
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        emit ClientConnected();
        if (tooMany) {
            s->write(tooManyReply + "\r\n");
            s->flush();
            s->disconnectFromHost();
            continue;
        }
        if (closeOnAccept) {
            s->disconnectFromHost();
            continue;
        }
        if (!silent && !greeting.isNull()) {
            answering_ = session;
            Send(greeting + "\r\n");
            answering_ = nullptr;
        }
    }
}

void FakeNntpServer::ReadClient(Session *session)
{
    QTcpSocket *s = session->socket;
    if (!s)
        return;
    QByteArray bytes = s->readAll();
    if (session->zlib && !Zlib::Run(session->zlib->in, QByteArray(bytes), bytes, false)) {
        s->abort(); // what a real server does with a stream it cannot read
        return;
    }
    if (record)
        received += bytes;
    session->inbox += bytes;
    qsizetype lf;
    while ((lf = session->inbox.indexOf('\n')) >= 0) {
        const QByteArray line = session->inbox.left(lf + 1);
        session->inbox.remove(0, lf + 1);
        const QByteArray upper = line.toUpper();
        if (record) {
            if (upper.startsWith("MODE READER") || upper.startsWith("AUTHINFO ") || upper.startsWith("CAPABILITIES")
                || upper.startsWith("COMPRESS "))
                sessionCommands.append(line);
            else
                commands.append(line);
        }
        QByteArray command = line;
        command.chop(1);
        if (command.endsWith('\r'))
            command.chop(1);
        emit CommandReceived(command);
        const QPointer<QTcpSocket> from(s);
        const qint64 dueNs = delayClockNs_ + qint64(latencyMs) * 1000000;
        auto answer = [this, from, session, command, dueNs] {
            if (!from)
                return; // the session went with its socket
            delayClockNs_ = qMax(delayClockNs_, dueNs);
            answering_ = session;
            Answer(command);
            answering_ = nullptr;
        };
        if (latencyMs > 0)
            QTimer::singleShot(latencyMs, this, answer);
        else
            answer();
        if (!from)
            return;
    }
}

void FakeNntpServer::Answer(const QByteArray &command)
{
    Session *me = current();
    if (!me)
        return;
    if (!closeOn.isEmpty() && command.startsWith(closeOn)) {
        CloseClient();
        return;
    }
    // A stalled server answers nothing more on that connection, not even
    // the commands sent after the stalled one.
    if (!stallOn.isEmpty() && command.startsWith(stallOn))
        me->stalled = true;
    if (silent || me->stalled)
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
    if (verb == "CAPABILITIES") {
        const QByteArray compress = compression == Compression::Off ? "" : "COMPRESS DEFLATE\r\n";
        Send("101 capability list\r\nVERSION 2\r\nREADER\r\n" + compress + "OVER\r\n.\r\n");
        return;
    }
    if (verb == "COMPRESS") {
        AnswerCompress();
        return;
    }
    if (verb == "AUTHINFO") {
        const QByteArray what = arg.left(5).toUpper();
        if (what == "USER ") {
            me->userGiven = arg.mid(5);
            Send("381 password required\r\n");
        } else if (what == "PASS " && !user.isEmpty() && me->userGiven == user && arg.mid(5) == password) {
            me->loggedIn = true;
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
        if (once || (loginRequired && !me->loggedIn)) {
            me->loggedIn = false;
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
        me->currentGroup = g->name;
        Send(GroupReply(*g) + "\r\n");
    } else if (verb == "BODY" && arg.startsWith('<')) {
        const Article *a = FindById(arg);
        if (!a) {
            Send("430 no such article\r\n");
            return;
        }
        Send("222 0 " + a->messageId + " body\r\n" + Stuffed(a->body));
    } else if (verb == "HEAD" || verb == "BODY") {
        if (me->currentGroup.isEmpty()) {
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
                       << "Newsgroups: " + me->currentGroup
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
        if (me->currentGroup.isEmpty()) {
            Send("412 no newsgroup selected\r\n");
            return;
        }
        const qsizetype dash = arg.indexOf('-');
        bool okLo = false, okHi = true;
        const qint64 lo = arg.left(dash < 0 ? arg.size() : dash).toLongLong(&okLo);
        qint64 hi = lo;
        if (dash >= 0)
            hi = arg.mid(dash + 1).isEmpty() ? LLONG_MAX : arg.mid(dash + 1).toLongLong(&okHi);
        const Group *g = FindGroup(me->currentGroup);
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

void FakeNntpServer::AnswerCompress()
{
    Session *me = current();
    if (compression == Compression::Off || compression == Compression::Refuse || me->zlib) {
        Send("403 compression refused\r\n");
        return;
    }
    // The status line goes out plain; everything after it is deflated.
    Send(compression == Compression::Broken ? QByteArray("206 compression active\r\n\xff\xfe no deflate here")
                                            : QByteArray("206 compression active\r\n"));
    me->zlib = std::make_unique<Zlib>();
}

QByteArray FakeNntpServer::OverviewLine(const Article &a)
{
    QByteArray subject = a.subject;
    QByteArray from = "poster@example.invalid";
    QByteArray date = "Mon, 7 Dec 2026 10:00:00 +0000";
    for (const QByteArray &h : a.header) {
        if (h.startsWith("Subject: "))
            subject = h.mid(9);
        else if (h.startsWith("From: "))
            from = h.mid(6);
        else if (h.startsWith("Date: "))
            date = h.mid(6);
    }
    const QByteArray linesField = a.linesHeader ? QByteArray::number(a.body.size()) : QByteArray();
    return QByteArray::number(a.number) + '\t' + subject + '\t' + from + '\t' + date + '\t' + a.messageId + "\t\t"
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
    Session *me = current();
    if (!me)
        return;
    const bool idle = me->queue.isEmpty() && !me->pieceTimer->isActive();
    if (!me->zlib) {
        me->queue.append(pieces);
    } else {
        // Deflated in the order sent, each piece flushed to stay a read of its own.
        for (const QByteArray &piece : pieces) {
            QByteArray packed;
            if (piece.isEmpty() || !Zlib::Run(me->zlib->out, piece, packed, true))
                packed = piece; // a pause or a close stays what it is
            me->queue.append(packed);
        }
    }
    if (idle)
        WriteNext(me);
}

void FakeNntpServer::WriteNext(Session *me)
{
    if (me->queue.isEmpty())
        return;
    if (clientBytesRead && clientBytesRead() < written_) {
        me->pieceTimer->start(1); // the client has not read the last piece yet
        return;
    }
    const QByteArray piece = me->queue.takeFirst();
    if (piece.isNull()) {
        // A null piece in a queue stands for "close the connection here".
        Session *outer = std::exchange(answering_, me);
        CloseClient();
        answering_ = outer;
        return;
    }
    if (me->socket) {
        me->socket->write(piece);
        me->socket->flush();
        written_ += piece.size();
        wireBytesOut += piece.size();
    }
    if (!me->queue.isEmpty())
        me->pieceTimer->start(pieceDelayMs);
}

std::function<void(const QList<QByteArray> &)> FakeNntpServer::SenderToThisClient()
{
    Session *me = current();
    const QPointer<QTcpSocket> socket = me ? me->socket : nullptr;
    return [this, me, socket](const QList<QByteArray> &pieces) {
        if (!socket)
            return;
        Session *outer = std::exchange(answering_, me);
        Send(pieces);
        answering_ = outer;
    };
}

void FakeNntpServer::Stall()
{
    if (Session *me = current())
        me->stalled = true;
}

QTcpSocket *FakeNntpServer::EndingSession()
{
    Session *me = current();
    if (!me)
        return nullptr;
    me->queue.clear();
    me->pieceTimer->stop();
    return me->socket;
}

void FakeNntpServer::CloseClient()
{
    if (QTcpSocket *s = EndingSession()) {
        s->flush();
        s->disconnectFromHost();
    }
}

void FakeNntpServer::ResetClient()
{
    if (QTcpSocket *s = EndingSession()) {
        // A zero linger time makes the close send RST.
        const linger now{1, 0};
        ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
        s->abort();
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

const FakeNntpServer::Article *FakeNntpServer::FindById(const QByteArray &id) const
{
    for (const Group &g : groups)
        for (const Article &a : g.articles)
            if (a.messageId == id)
                return &a;
    for (const Group &g : groups) {
        // Generated groups make ids of the shape MakeArticle gives.
        if (!g.generate || !id.startsWith("<art") || !id.endsWith("@fake.invalid>"))
            continue;
        bool ok = false;
        const qint32 number = id.mid(4, id.indexOf('@') - 4).toInt(&ok);
        if (ok && number >= g.first && number <= g.last) {
            generated_ = g.generate(number);
            if (generated_.messageId == id)
                return &generated_;
        }
    }
    return nullptr;
}

const FakeNntpServer::Article *FakeNntpServer::FindArticle(qint32 number) const
{
    Session *me = current();
    const Group *g = me ? FindGroup(me->currentGroup) : nullptr;
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
