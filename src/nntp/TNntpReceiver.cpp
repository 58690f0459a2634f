#include "TNntpReceiver.h"

#include "TDeflateMemory.h"
#include "TZqNNTP.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSslSocket>

#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

TNntpReceiver::TNntpReceiver(TZqNNTP &client) : client_(client)
{
    replyTimer_.setSingleShot(true);
    connect(&replyTimer_, &QTimer::timeout, this, [this] { ReplyTimedOut(); });
}

TNntpReceiver::ReplyWait::ReplyWait(TNntpReceiver &receiver, Awaiting kind)
    : receiver_(&receiver), outer_(receiver.awaiting_)
{
    receiver.awaiting_ = kind;
    if (receiver.client_.ReplyTimeoutMs > 0)
        receiver.replyTimer_.start(receiver.client_.ReplyTimeoutMs);
    receiver.window_.start();
    receiver.windowBytes_ = 0;
}

TNntpReceiver::ReplyWait::~ReplyWait()
{
    if (receiver_) {
        receiver_->replyTimer_.stop();
        receiver_->awaiting_ = outer_;
    }
}

void TNntpReceiver::Readable()
{
    TZqNNTP &c = client_;
    if (c.ConnectionState == TZqNNTP::StateClosed || !c.socket_)
        return;
    const quint64 generation = c.generation_;
    // Handlers may delete the client, and this receiver with it.
    const QPointer<TNntpReceiver> self(this);
    while (c.socket_ && generation == c.generation_) {
        QByteArray chunk;
        if (!held_.isEmpty()) {
            chunk = std::exchange(held_, QByteArray());
        } else {
            // A read of exactly the socket's buffered block takes that block
            // without a copy; a plain socket buffers no more than ReadSize.
            const qint64 available = c.socket_->bytesAvailable();
            chunk = c.socket_->read(available > 0 ? qMin(available, ReadSize) : ReadSize);
            if (chunk.isEmpty())
                break;
            c.WireBytesIn += chunk.size();
#ifdef TCP_QUICKACK
            // The kernel drops out of quick-ACK mode on its own; re-arm it.
            const int one = 1;
            ::setsockopt(int(c.socket_->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
            // Compressed, a read is judged by what it inflates to: empty
            // deflate blocks now and then are no reply at work.
            if (!c.deflate_.Active() && !Heard(chunk.size()))
                return;
        }

        if (c.deflate_.Active()) {
            c.deflate_.Input(std::move(chunk));
            qint64 inflated = 0;
            for (;;) {
                QByteArray piece;
                if (!c.deflate_.Inflate(piece, InflatePieceSize)) {
                    TDeflateMemory::RememberBroken(c.host_, c.port_);
                    c.TransportEnded(QStringLiteral("the server's compressed stream is broken: ") + c.deflate_.Error());
                    return;
                }
                if (piece.isEmpty())
                    break;
                inflated += piece.size();
                if (!Route(std::move(piece), generation, self))
                    return;
            }
            if (!Heard(inflated))
                return;
        } else {
            // The reply to COMPRESS ends the plain part of the stream: what
            // follows its status line in the same read is deflated already.
            if (c.setup_.CurrentStage() == TSessionSetup::Stage::Compress) {
                const qsizetype lf = chunk.indexOf('\n');
                if (lf >= 0 && lf + 1 < chunk.size()) {
                    held_ = chunk.mid(lf + 1);
                    chunk.truncate(lf + 1);
                }
            }
            if (!Route(std::move(chunk), generation, self))
                return;
        }
        // A reply that has ended cannot time out while a nested dialog keeps
        // its waiter from returning.
        if (replyTimer_.isActive() && !ReplyAwaited())
            replyTimer_.stop();
    }
}

bool TNntpReceiver::Heard(qint64 bytes)
{
    if (!replyTimer_.isActive())
        return true;
    TZqNNTP &c = client_;
    // The time-out counts silence, not the length of a reply; but a byte now
    // and then must not hold a reply for ever either.
    replyTimer_.start();
    windowBytes_ += bytes;
    if (c.ReplyTimeoutMs > 0 && window_.elapsed() >= c.ReplyTimeoutMs) {
        if (windowBytes_ < c.ReplyMinBytes) {
            c.TransportEnded(
                QStringLiteral("fewer than %1 bytes in %2 seconds").arg(c.ReplyMinBytes).arg(c.ReplyTimeoutMs / 1000));
            return false;
        }
        window_.start();
        windowBytes_ = 0;
    }
    return true;
}

bool TNntpReceiver::Route(QByteArray chunk, quint64 generation, const QPointer<TNntpReceiver> &self)
{
    TZqNNTP &c = client_;
    if (c.OnDocOutput) {
        const TDocOutputEvent handler = c.OnDocOutput;
        handler(&c, chunk);
        if (!self || generation != c.generation_)
            return false; // the handler disconnected: this chunk belongs to nobody now
    }

    const Nntp::LineSinks sinks{&c.ReplyLines, &c.BodyLines, c.GroupListTarget};
    QString tooLarge;
    if (!c.pipeline_.Empty()) {
        const TBodyPipeline::FeedResult r = c.pipeline_.Feed(cutter_, std::move(chunk), sinks, c.ReceiveMode,
                                                             sinks, c.MaxReplyBytes, TZqNNTP::MaxLineBytes);
        replyBytes_ += r.strayBytes;
        const TBodyPipeline::Pending *current = c.pipeline_.Find(c.awaitedNumber_);
        if (current && current->current)
            c.BodyBytes = current->bytes;
        if (r.statusTooLong)
            tooLarge = QStringLiteral("a status line longer than %1 MB").arg(TZqNNTP::MaxLineBytes >> 20);
        if (r.currentOversize) {
            c.OversizeArticle = true;
            tooLarge = QStringLiteral("an article larger than %1 MB").arg(c.MaxReplyBytes >> 20);
        }
        if (c.OnBodyAhead) {
            const auto handler = c.OnBodyAhead;
            for (qint64 number : r.endedAhead) {
                const TBodyPipeline::Pending *p = c.pipeline_.Find(number);
                if (p && p->done && Nntp::IsSuccessStatus(p->reply.value(0)))
                    handler(&c, number, p->body);
            }
        }
    } else {
        replyBytes_ += chunk.size();
        cutter_.Feed(std::move(chunk), c.ReceiveMode, sinks);
        if (cutter_.Pending().size() > TZqNNTP::MaxLineBytes)
            tooLarge = QStringLiteral("a line longer than %1 MB").arg(TZqNNTP::MaxLineBytes >> 20);
        else if (replyBytes_ > c.MaxReplyBytes)
            tooLarge = QStringLiteral("a reply larger than %1 MB").arg(c.MaxReplyBytes >> 20);
    }
    if (!tooLarge.isEmpty()) {
        c.TransportEnded(tooLarge);
        return false;
    }

    if (c.setup_.Active() && c.ConnectionState == TZqNNTP::StateConnecting && !c.ReplyLines.isEmpty()) {
        c.SetupReply();
        if (!self)
            return false;
    }
    return generation == c.generation_;
}

bool TNntpReceiver::ReplyAwaited() const
{
    if (client_.pipeline_.AnyUnfinished())
        return true;
    switch (awaiting_) {
    case Awaiting::Status:
        return client_.ReplyLines.isEmpty();
    case Awaiting::MultiLine:
        return Nntp::JudgeMultiLineReply(client_.ReplyLines) == Nntp::ReplyState::Waiting;
    case Awaiting::Nothing:
        break;
    }
    return false;
}

void TNntpReceiver::ReplyTimedOut()
{
    if (client_.socket_)
        client_.TransportEnded(QStringLiteral("no reply within %1 seconds").arg(client_.ReplyTimeoutMs / 1000));
}

bool TNntpReceiver::DrainAhead(bool keepWanted)
{
    if (client_.pipeline_.Empty())
        return true;
    if (!keepWanted)
        client_.pipeline_.DiscardAll();
    const ReplyWait timing(*this, Awaiting::Nothing);
    const quint64 generation = client_.generation_;
    while (keepWanted ? client_.pipeline_.AnyUnfinished() : !client_.pipeline_.Empty()) {
        if (!WaitPass(generation))
            return false;
    }
    return true;
}

bool TNntpReceiver::WaitPass(quint64 generation)
{
    const QPointer<TNntpReceiver> self(this);
    // Without a connection nothing would wake a blocking wait, and the
    // command ends after this pass anyway.
    const auto flags = client_.Connected ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents;
    QCoreApplication::processEvents(flags);
    if (!self)
        return false;
    return client_.Connected && generation == client_.generation_;
}

bool TNntpReceiver::WaitStatus(quint64 generation)
{
    const ReplyWait timing(*this, Awaiting::Status);
    while (client_.ReplyLines.isEmpty()) {
        if (!WaitPass(generation))
            return false;
    }
    return true;
}
