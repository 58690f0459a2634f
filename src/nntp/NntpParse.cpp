#include "NntpParse.h"

#include "ZqListField.h"

#include <cstring>
#include <limits>

namespace Nntp {

namespace {
const QByteArray kCrLf = QByteArrayLiteral("\r\n");
}

namespace {

// Routes a line whose bytes make(begin, size) turns into the stored entry.
template <typename Char, typename Make>
void Route(Char *data, qsizetype size, qint32 mode, const LineSinks &sinks, Make make)
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
            reply->append(make(data, size));
    } else if (mode == RouteBody) {
        if (sinks.body)
            sinks.body->append(make(data, size));
    } else if (sinks.groups) {
        const void *space = size > 0 ? std::memchr(data, ' ', size_t(size)) : nullptr;
        const qsizetype n = space ? static_cast<const char *>(space) - data : size;
        sinks.groups->append(make(data, n));
    }
}

QByteArray Copy(const char *data, qsizetype size)
{
    return QByteArray(data, size);
}

// A byte array over [begin, begin + size) of block's storage, sharing it.
// The byte after the line (its CR, or a blank after a first field) is not
// needed any more and becomes the terminating zero.
QByteArray Share(QByteArray::DataPointer &block, char *begin, qsizetype size)
{
    begin[size] = '\0';
    block.d_ptr()->ref();
    return QByteArray(QByteArray::DataPointer(block.d_ptr(), begin, size));
}

} // namespace

void RouteLine(const char *data, qsizetype size, qint32 mode, const LineSinks &sinks)
{
    Route(data, size, mode, sinks, Copy);
}

void LineCutter::Feed(const char *data, qsizetype size, qint32 mode, const LineSinks &sinks)
{
    if (size > 0)
        Feed(QByteArray(data, size), mode, sinks);
}

void LineCutter::Feed(QByteArray chunk, qint32 mode, const LineSinks &sinks)
{
    LineSinks routed = sinks;
    FeedRouted(std::move(chunk), mode, routed, nullptr);
}

void LineCutter::Feed(QByteArray chunk, qint32 &mode, LineSinks &sinks, const AfterLine &after)
{
    FeedRouted(std::move(chunk), mode, sinks, &after);
}

void LineCutter::FeedRouted(QByteArray chunk, qint32 &mode, LineSinks &sinks, const AfterLine *after)
{
    const qsizetype size = chunk.size();
    if (size <= 0)
        return;
    char *const data = chunk.data(); // detaches a chunk that others still hold
    char *p = data;
    char *const end = data + size;
    QByteArray::DataPointer &block = chunk.data_ptr();
    const auto share = [&block](char *begin, qsizetype n) { return Share(block, begin, n); };

    // The first line end may close text that came with earlier chunks; its CR
    // may even be the last pending byte.
    if (!pending_.isEmpty()) {
        char *q = p;
        for (;;) {
            void *hit = std::memchr(q, '\n', size_t(end - q));
            if (!hit) {
                pending_.append(data, size);
                return;
            }
            char *lf = static_cast<char *>(hit);
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
                Route(line.constData(), line.size(), mode, sinks, Copy);
                if (after)
                    (*after)(line.size() + 2, mode, sinks);
                p = lf + 1;
                break;
            }
            q = lf + 1;
        }
    }

    // From here on lines lie inside the chunk.
    char *q = p;
    while (q < end) {
        void *hit = std::memchr(q, '\n', size_t(end - q));
        if (!hit)
            break;
        char *lf = static_cast<char *>(hit);
        if (lf > p && lf[-1] == '\r') {
            Route(p, lf - 1 - p, mode, sinks, share);
            if (after)
                (*after)(lf + 1 - p, mode, sinks);
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

qsizetype FirstReplyLines(const QList<QByteArray> &replies)
{
    if (replies.isEmpty())
        return -1;
    const QByteArray &status = replies.first();
    if (!status.isEmpty() && status.at(0) != '2')
        return 1;
    const qsizetype close = replies.indexOf(QByteArrayLiteral("."), 1);
    return close < 0 ? -1 : close + 1;
}

GroupRange NarrowGroupRange(const QByteArray &status)
{
    const qint64 count = ToInt64Def(GetField(status, 2, ' '), 0);
    GroupRange r;
    r.first = ToInt64Def(GetField(status, 3, ' '), 0);
    r.last = ToInt64Def(GetField(status, 4, ' '), 0);
    // Wide arithmetic, so no number a server sends can overflow.
    const __int128 fromCount = __int128(r.last) - count + 1;
    if (fromCount > r.first)
        r.first = qint64(qMin<__int128>(fromCount, std::numeric_limits<qint64>::max()));
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

HeaderFields ScanHeaderFields(const QList<QByteArray> &lines)
{
    HeaderFields h;
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).toLower();
        if (name == "from")
            h.from = line.mid(colon + 1).trimmed();
        else if (name == "date")
            h.date = line.mid(colon + 1).trimmed();
        else if (name == "bytes") {
            bool ok = false;
            const qint64 n = line.mid(colon + 1).trimmed().toLongLong(&ok);
            h.bytes = ok && n >= 0 ? n : -1;
        }
    }
    return h;
}

int StatusCode(const QByteArray &status)
{
    if (status.size() < 3)
        return -1;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        const char c = status.at(i);
        if (c < '0' || c > '9')
            return -1;
        code = code * 10 + (c - '0');
    }
    if (status.size() > 3 && status.at(3) != ' ')
        return -1;
    return code;
}

void ParseArticleStatus(const QByteArray &status, qint64 &number, QByteArray &messageId)
{
    number = ToInt64Def(GetField(status, 2, ' '), 0);
    messageId = GetField(status, 3, ' ');
}

bool ReplyAnswers(const QByteArray &status, qint64 number, const QByteArray &expectedId, bool askedById)
{
    qint64 got = 0;
    QByteArray id;
    ParseArticleStatus(status, got, id);
    if (!askedById && got != 0 && got != number)
        return false;
    return expectedId.isEmpty() || id.isEmpty() || id == expectedId;
}

QByteArray GroupCommand(const QByteArray &name)
{
    return "GROUP " + name + kCrLf;
}

QByteArray HeadCommand(qint64 number)
{
    return "HEAD " + QByteArray::number(number) + kCrLf;
}

QByteArray BodyCommand(qint64 number)
{
    return "BODY " + QByteArray::number(number) + kCrLf;
}

QByteArray BodyByIdCommand(const QByteArray &id)
{
    return "BODY " + id + kCrLf;
}

bool SendableMessageId(const QByteArray &id)
{
    if (id.size() < 3 || id.size() > 250 || !id.startsWith('<') || !id.endsWith('>'))
        return false;
    for (char c : id)
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f')
            return false;
    return true;
}

QByteArray ListCommand()
{
    return "List" + kCrLf;
}

QByteArray ModeReaderCommand()
{
    return "MODE READER" + kCrLf;
}

QByteArray AuthUserCommand(const QByteArray &user)
{
    return "AUTHINFO USER " + user + kCrLf;
}

QByteArray AuthPassCommand(const QByteArray &password)
{
    return "AUTHINFO PASS " + password + kCrLf;
}

QByteArray CapabilitiesCommand()
{
    return "CAPABILITIES" + kCrLf;
}

QByteArray CompressDeflateCommand()
{
    return "COMPRESS DEFLATE" + kCrLf;
}

bool OffersDeflate(const QList<QByteArray> &capabilityLines)
{
    for (const QByteArray &line : capabilityLines) {
        const QList<QByteArray> words = line.simplified().toUpper().split(' ');
        if (words.first() == "COMPRESS" && words.indexOf("DEFLATE", 1) > 0)
            return true;
    }
    return false;
}

} // namespace Nntp

namespace Nntp {

OverviewFormat ParseOverviewFormat(const QList<QByteArray> &lines)
{
    if (lines.isEmpty())
        return OverviewFormat{};
    OverviewFormat f{-1, -1, -1, int(lines.size()), -1, -1, -1};
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray name = lines[i].trimmed().toLower();
        if (name == "subject:")
            f.subject = i;
        else if (name == "message-id:")
            f.messageId = i;
        else if (name == "lines:" || name == ":lines")
            f.lines = i;
        else if (name == "from:")
            f.from = i;
        else if (name == "date:")
            f.date = i;
        else if (name == "bytes:" || name == ":bytes")
            f.bytes = i;
    }
    return f;
}

bool ParseOverviewLine(const QByteArray &line, const OverviewFormat &format, OverviewEntry &entry)
{
    QList<QByteArray> fields = line.split('\t');
    bool ok = false;
    const qint64 number = fields.value(0).trimmed().toLongLong(&ok);
    if (!ok || fields.value(0).trimmed().startsWith('+') || fields.value(0).trimmed().startsWith('-'))
        return false;
    fields.removeFirst();
    // Without the fields up to the message id the line says nothing an
    // article can be fetched and filed by: the caller asks for its header.
    if (fields.size() <= qMax(format.messageId, format.subject))
        return false;
    const qsizetype extra = fields.size() - format.fields;
    if (extra > 0 && format.subject >= 0 && format.messageId > format.subject) {
        // Extra fields at the end (an Xref the list did not name) leave the id in place.
        auto isId = [](const QByteArray &f) {
            const QByteArray t = f.trimmed();
            return t.startsWith('<') && t.endsWith('>');
        };
        if (!isId(fields[format.messageId]) && isId(fields.value(format.messageId + extra))) {
            QByteArray subject = fields[format.subject];
            for (qsizetype i = 1; i <= extra; ++i)
                subject += '\t' + fields[format.subject + i];
            fields.remove(format.subject + 1, extra);
            fields[format.subject] = subject;
        }
    }
    auto field = [&](int i) { return i < 0 ? QByteArray() : fields.value(i); };
    entry.number = number;
    entry.subject = field(format.subject);
    entry.messageId = field(format.messageId).trimmed();
    bool linesOk = false;
    const qint64 count = field(format.lines).trimmed().toLongLong(&linesOk);
    entry.lines = linesOk && count >= 0 ? qint32(qMin<qint64>(count, INT32_MAX)) : 0;
    entry.from = field(format.from).trimmed();
    entry.date = field(format.date).trimmed();
    bool bytesOk = false;
    const qint64 bytes = field(format.bytes).trimmed().toLongLong(&bytesOk);
    entry.bytes = bytesOk && bytes >= 0 ? bytes : -1;
    return true;
}

bool ParseOverviewLines(const QList<QByteArray> &lines, const OverviewFormat &format, qint64 first, qint64 last,
                        QList<OverviewEntry> &entries)
{
    bool complete = true;
    for (const QByteArray &line : lines) {
        OverviewEntry e;
        if (ParseOverviewLine(line, format, e) && e.number >= first && e.number <= last) {
            e.wireBytes = line.size() + 2;
            entries.append(e);
        } else {
            complete = false;
        }
    }
    return complete;
}

QByteArray OverCommand(const QByteArray &verb, qint64 first, qint64 last)
{
    return verb + ' ' + QByteArray::number(first) + '-' + QByteArray::number(last) + "\r\n";
}

QByteArray ListOverviewFormatCommand() { return "LIST OVERVIEW.FMT\r\n"; }

} // namespace Nntp
