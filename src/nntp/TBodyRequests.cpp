#include "TBodyRequests.h"

#include "SafeText.h"
#include "TZqNNTP.h"

#include <QPointer>
#include <QTcpSocket>

bool TBodyRequests::FetchOnce(qint64 number, const QList<qint64> &ahead, const QByteArray &expectedId)
{
    TZqNNTP &c = client_;
    c.LastStatus.clear();
    c.OversizeArticle = false;
    c.ProtocolError = false;
    c.BodyBytes = 0;
    c.BodyTransferNs = 0;
    c.BodyLines.clear();
    c.ReplyLines.clear();
    if (!c.socket_ || !c.Connected)
        return false;
    const quint64 generation = c.generation_;
    const QPointer<TZqNNTP> self(&c); // a lost connection's handler may end the client

    // What went out before this article's request is not wanted any more.
    c.pipeline_.DiscardBefore(number);
    QList<TBodyWant> wants{{number, c.ByMessageId ? expectedId : QByteArray()}};
    for (qint64 n : ahead)
        if (n != number)
            wants.append(TBodyWant{n, {}});
    Send(wants, qMax(1, c.Pipeline));
    if (!self || generation != c.generation_)
        return false;

    TBodyPipeline::Pending *mine = c.pipeline_.Find(number);
    if (!mine)
        return false;
    mine->current = true;
    c.awaitedNumber_ = number;
    c.ReplyLines = std::move(mine->reply);
    c.BodyLines = std::move(mine->body);
    c.BodyBytes = mine->bytes;
    if (mine->oversize) {
        c.OversizeArticle = true;
        c.BodyLines.clear();
        if (!mine->done) {
            // Reading on through the rest would take as long as fetching it.
            c.TransportEnded(QStringLiteral("an article larger than %1 MB").arg(c.MaxReplyBytes >> 20));
            return false;
        }
    }

    c.ReceiveMode = TZqNNTP::ModeBody;
    const TNntpReceiver::ReplyWait timing(c.receiver_, TNntpReceiver::Awaiting::Nothing);
    Nntp::ReplyState state;
    for (;;) {
        state = Nntp::JudgeMultiLineReply(c.ReplyLines);
        // Number and id are wanted while the body still arrives (progress),
        // and also when the whole reply came in one read.
        if (state != Nntp::ReplyState::Failure && Nntp::IsSuccessStatus(c.ReplyLines.value(0))) {
            const QByteArray &status = c.ReplyLines.first();
            Nntp::ParseArticleStatus(status, c.ArticleNumber, c.MessageID);
            // With replies in flight, order is the only link between a reply
            // and its request: one for another article means they are out of step.
            if (!Nntp::ReplyAnswers(status, number, expectedId, c.ByMessageId)) {
                c.ProtocolError = true;
                const QString shown = SafeText::Shown(status.left(200));
                c.BodyLines.clear();
                c.TransportEnded(QStringLiteral("BODY %1 was answered with \"%2\"").arg(number).arg(shown));
                return false;
            }
        }
        if (state != Nntp::ReplyState::Waiting)
            break;
        if (!c.receiver_.WaitPass(generation))
            return false;
    }
    // Ended: the entry leaves, and with it any dropped ones before it.
    mine = c.pipeline_.Find(number);
    const bool oversize = mine && mine->oversize;
    c.BodyTransferNs = mine ? mine->lastByteNs - mine->firstByteNs : 0;
    c.pipeline_.Remove(number);
    c.pipeline_.DropFinishedDiscards();

    c.LastStatus = c.ReplyLines.value(0);
    c.ReceiveMode = TZqNNTP::ModeNormal;
    if (oversize || state == Nntp::ReplyState::Failure) {
        c.OversizeArticle = oversize;
        c.BodyLines.clear();
        return false;
    }
    return true;
}

int TBodyRequests::Send(const QList<TBodyWant> &wants, int most)
{
    TZqNNTP &c = client_;
    if (!c.socket_ || !c.Connected)
        return 0;
    QByteArray requests;
    int sent = 0;
    for (qsizetype i = 0; i < wants.size(); ++i) {
        const TBodyWant &w = wants[i];
        // The first one always: it is the one the caller waits for.
        if (i > 0 && c.pipeline_.Wanted() >= most)
            break;
        if (c.pipeline_.Empty())
            c.receiver_.DropPartialLine(); // nothing due: whatever is left over belongs to no reply
        const QByteArray command = c.pipeline_.Ask(w.number, w.id);
        requests += command;
        sent += command.isEmpty() ? 0 : 1;
    }
    c.pipeline_.DropFinishedDiscards();
    if (requests.isEmpty())
        return 0;
    // All in one write, at once: the server sees them together, and the
    // replies are the point of asking ahead.
    if (!c.Write(requests)) {
        c.TransportEnded(c.socket_->errorString());
        return 0;
    }
    return sent;
}
