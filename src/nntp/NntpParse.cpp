#include "NntpParse.h"

#include "ZqListField.h"

#include <cstring>
#include <limits>

namespace Nntp {

namespace {
const QByteArray kCrLf = QByteArrayLiteral("\r\n");
}

void RouteLine(const char *data, qsizetype size, qint32 mode, const LineSinks &sinks)
{
    // The closing test is made on the line as received, so ".." is data.
    const bool closing = size == 1 && data[0] == '.';
    if (!closing && size > 0 && data[0] == '.') {
        ++data;
        --size;
    }
    QList<QByteArray> *reply = sinks.reply;
    const bool statusLine = reply && reply->isEmpty();
    if (statusLine || closing || (mode != RouteBody && mode != RouteList)) {
        if (reply)
            reply->append(QByteArray(data, size));
    } else if (mode == RouteBody) {
        if (sinks.body)
            sinks.body->append(QByteArray(data, size));
    } else if (sinks.groups) {
        const void *space = size > 0 ? std::memchr(data, ' ', size_t(size)) : nullptr;
        const qsizetype n = space ? static_cast<const char *>(space) - data : size;
        sinks.groups->append(QByteArray(data, n));
    }
}

void LineCutter::Feed(const char *data, qsizetype size, qint32 mode, const LineSinks &sinks)
{
    const char *p = data;
    const char *const end = data + size;
    if (size <= 0)
        return;

    // The first line end may close text that came with earlier chunks; its CR
    // may even be the last pending byte.
    if (!pending_.isEmpty()) {
        const char *q = p;
        for (;;) {
            const void *hit = std::memchr(q, '\n', size_t(end - q));
            if (!hit) {
                pending_.append(data, size);
                return;
            }
            const char *lf = static_cast<const char *>(hit);
            const char prev = lf == data ? pending_.back() : lf[-1];
            if (prev == '\r') {
                QByteArray line;
                if (lf == data) {
                    pending_.chop(1);
                    line.swap(pending_);
                } else {
                    line.swap(pending_);
                    line.append(data, lf - 1 - data);
                }
                pending_.clear();
                RouteLine(line.constData(), line.size(), mode, sinks);
                p = lf + 1;
                break;
            }
            q = lf + 1;
        }
    }

    // From here on lines lie inside the chunk.
    const char *q = p;
    while (q < end) {
        const void *hit = std::memchr(q, '\n', size_t(end - q));
        if (!hit)
            break;
        const char *lf = static_cast<const char *>(hit);
        if (lf > p && lf[-1] == '\r') {
            RouteLine(p, lf - 1 - p, mode, sinks);
            p = lf + 1;
        }
        q = lf + 1;
    }
    if (p < end)
        pending_.append(p, end - p);
}

bool IsSuccessStatus(const QByteArray &status)
{
    return !status.isEmpty() && status.at(0) == '2';
}

ReplyState JudgeStatusReply(const QList<QByteArray> &reply)
{
    if (reply.isEmpty())
        return ReplyState::Waiting;
    return IsSuccessStatus(reply.first()) ? ReplyState::Success : ReplyState::Failure;
}

ReplyState JudgeMultiLineReply(const QList<QByteArray> &reply)
{
    if (reply.isEmpty())
        return ReplyState::Waiting;
    const QByteArray &status = reply.first();
    if (!status.isEmpty() && status.at(0) != '2')
        return ReplyState::Failure;
    // The status line itself is never the closing line.
    if (reply.size() > 1 && reply.last() == ".")
        return ReplyState::Success;
    return ReplyState::Waiting;
}

GroupRange NarrowGroupRange(const QByteArray &status)
{
    const qint64 count = ToInt32Def(GetField(status, 2, ' '), 0);
    GroupRange r;
    r.first = ToInt32Def(GetField(status, 3, ' '), 0);
    r.last = ToInt32Def(GetField(status, 4, ' '), 0);
    // 64-bit, so garbage numbers cannot overflow.
    const qint64 fromCount = qint64(r.last) - count + 1;
    if (fromCount > r.first)
        r.first = qint32(qMin<qint64>(fromCount, std::numeric_limits<qint32>::max()));
    return r;
}

void ScanHeaderLines(const QList<QByteArray> &lines, QByteArray &subject, qint32 &lineCount)
{
    for (const QByteArray &line : lines) {
        if (line.startsWith("Subject: "))
            subject = line.mid(9);
        else if (line.startsWith("Lines: "))
            lineCount = ToInt32Def(line.mid(7), 0);
    }
}

void ParseArticleStatus(const QByteArray &status, qint32 &number, QByteArray &messageId)
{
    number = ToInt32Def(GetField(status, 2, ' '), 0);
    messageId = GetField(status, 3, ' ');
}

QByteArray GroupCommand(const QByteArray &name)
{
    return "GROUP " + name + kCrLf;
}

QByteArray HeadCommand(qint32 number)
{
    return "HEAD " + QByteArray::number(number) + kCrLf;
}

QByteArray BodyCommand(qint32 number)
{
    return "BODY " + QByteArray::number(number) + kCrLf;
}

QByteArray ListCommand()
{
    return "List" + kCrLf;
}

} // namespace Nntp
