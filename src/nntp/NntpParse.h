#pragma once
#include <QByteArray>
#include <QList>

#include <functional>

// Reply assembly of the news client, free of sockets so that tests, the fuzzer
// and the benchmark can feed it any byte sequence.
namespace Nntp {

// Same values as TZqNNTP::ReceiveMode.
enum : qint32 { RouteNormal = 0, RouteBody = 2, RouteList = 3 };

// Where routed lines go; a null list drops what would go there.
struct LineSinks {
    QList<QByteArray> *reply = nullptr;
    QList<QByteArray> *body = nullptr;
    QList<QByteArray> *groups = nullptr;
};

// Routes one line received without its CR LF: a line that is exactly "." is
// the closing line and stays as it is, any other line loses one leading dot;
// then the status line, the closing line and every line in Normal mode go to
// reply, other lines to body (Body mode) or their first space-separated field
// to groups (List mode). Unknown modes route like Normal.
void RouteLine(const char *data, qsizetype size, qint32 mode, const LineSinks &sinks);

// Cuts received chunks into CR LF lines. Every byte counts, zero bytes
// included; a CR not followed by LF stays in the line, and a CR LF pair split
// between two chunks is found when the second one arrives. Each chunk is
// scanned once.
//
// Lines that lie inside one chunk share that chunk's storage instead of being
// copied one by one (a 32 KiB read holds hundreds of body lines); each still
// behaves as an ordinary byte array, zero-terminated after its last byte, and
// detaches when changed.
class LineCutter {
public:
    // Told after every routed line its size on the wire (CR LF included); may
    // point the lines that follow elsewhere, as pipelined replies end one
    // after another inside one chunk.
    using AfterLine = std::function<void(qsizetype wireBytes, qint32 &mode, LineSinks &sinks)>;

    void Feed(const char *data, qsizetype size, qint32 mode, const LineSinks &sinks);
    // Takes the chunk over; it is copied only when someone else still shares it.
    void Feed(QByteArray chunk, qint32 mode, const LineSinks &sinks);
    void Feed(QByteArray chunk, qint32 &mode, LineSinks &sinks, const AfterLine &after);
    void Clear() { pending_.clear(); }
    // The received text not yet closed by CR LF.
    const QByteArray &Pending() const { return pending_; }

private:
    void FeedRouted(QByteArray chunk, qint32 &mode, LineSinks &sinks, const AfterLine *after);
    QByteArray pending_;
};

enum class ReplyState { Waiting, Success, Failure };

// Only the first character of a status line is judged: "2" is success.
bool IsSuccessStatus(const QByteArray &status);

// GROUP: complete with the status line; an empty status line is a failure.
ReplyState JudgeStatusReply(const QList<QByteArray> &reply);

// HEAD, BODY, List: a status line that is not empty and does not begin with
// "2" fails at once; otherwise the reply is complete with its closing ".".
ReplyState JudgeMultiLineReply(const QList<QByteArray> &reply);
// Two multi-line replies received one after the other: how many lines the
// first one takes (a failure its status line alone), or -1 while it is
// not complete, judged as JudgeMultiLineReply judges.
qsizetype FirstReplyLines(const QList<QByteArray> &replies);

// First and last article to walk from a "211 count first last name" line:
// never wider than the estimated count, counted back from the last article.
struct GroupRange {
    qint64 first = 0;
    qint64 last = 0;
};
GroupRange NarrowGroupRange(const QByteArray &status);

// Takes "Subject: " and "Lines: " from header lines (case-sensitive, the last
// occurrence wins); values without such a line are left as they are.
void ScanHeaderLines(const QList<QByteArray> &lines, QByteArray &subject, qint32 &lineCount);

// From, Date and Bytes of a header (names in any case, the last one wins);
// what the rules judge an article by when there is no overview.
struct HeaderFields {
    QByteArray from;
    QByteArray date;
    qint64 bytes = -1;
};
HeaderFields ScanHeaderFields(const QList<QByteArray> &lines);

// The three-digit code a status line begins with, or -1.
int StatusCode(const QByteArray &status);

// Field 2 (number, 0 when not decimal) and field 3 of a HEAD/BODY status line.
void ParseArticleStatus(const QByteArray &status, qint64 &number, QByteArray &messageId);
// Whether a BODY status line answers the request for number (expectedId,
// when known): a reply that names another number or another id does not.
// Asked by id, the number is the server's own (0, or one in any group) and
// is not judged.
bool ReplyAnswers(const QByteArray &status, qint64 number, const QByteArray &expectedId, bool askedById);

// Command lines, each ended by CR LF.
QByteArray GroupCommand(const QByteArray &name);
QByteArray HeadCommand(qint64 number);
QByteArray BodyCommand(qint64 number);
// BODY <id>; only for ids SendableMessageId accepts.
QByteArray BodyByIdCommand(const QByteArray &id);
// "<...>" of at most 250 bytes without blanks or control characters: what
// can go into a command line unchanged.
bool SendableMessageId(const QByteArray &id);
QByteArray ListCommand();
QByteArray ModeReaderCommand();
QByteArray AuthUserCommand(const QByteArray &user);
QByteArray AuthPassCommand(const QByteArray &password);
QByteArray CapabilitiesCommand();
QByteArray CompressDeflateCommand();
// Whether the lines of a CAPABILITIES reply (status and "." excluded) list
// COMPRESS with DEFLATE among its arguments (any case).
bool OffersDeflate(const QList<QByteArray> &capabilityLines);

} // namespace Nntp

namespace Nntp {

// Where the fields the search needs sit in an overview line, counted after
// the article number (0 is the first field after it); -1 when not offered.
struct OverviewFormat {
    int subject = 0;
    int messageId = 3;
    int lines = 6;
    int fields = 7; // fields the format lists
    int from = 1;
    int date = 2;
    int bytes = 5;
};

// From the lines of a LIST OVERVIEW.FMT reply (status and "." excluded):
// "Subject:", "Message-ID:", "Lines:" or ":lines", "From:", "Date:",
// "Bytes:" or ":bytes", any case; an empty list
// gives the order RFC 3977 prescribes.
OverviewFormat ParseOverviewFormat(const QList<QByteArray> &lines);

struct OverviewEntry {
    qint64 number = 0;
    QByteArray subject;
    QByteArray messageId;
    qint32 lines = 0;
    qint64 wireBytes = 0; // the line as received, with its CR LF: what the article cost to look at
    QByteArray from{};
    QByteArray date{};
    qint64 bytes = -1; // the article's size as the server gives it; -1 not given
};

// One line of an OVER/XOVER reply, split at tabs. False when the article
// number is not a decimal that fits, or the line ends before the subject and
// the message id. Missing trailing fields stay empty (lines 0); a
// subject that kept raw tabs (more fields than the format has, no message id
// in its place but one that many places later) is joined back.
bool ParseOverviewLine(const QByteArray &line, const OverviewFormat &format, OverviewEntry &entry);

// The lines of one OVER first-last reply: the entries it lists, each with
// the bytes its line took; false when a line could not be read or lies
// outside the range (the numbers not listed may then be articles).
bool ParseOverviewLines(const QList<QByteArray> &lines, const OverviewFormat &format, qint64 first, qint64 last,
                        QList<OverviewEntry> &entries);
QByteArray OverCommand(const QByteArray &verb, qint64 first, qint64 last); // "OVER 5-9"
QByteArray ListOverviewFormatCommand();

} // namespace Nntp
