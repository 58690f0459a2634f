#pragma once
#include <QByteArray>
#include <QList>

#include <deque>

#include "NntpParse.h"

// BODY requests sent ahead of their replies, in the order they went out, and
// the routing of received lines to them: a reply ends with its closing line
// (or a failure status), and what follows belongs to the next request. Free
// of sockets, so a test can feed it any byte sequence.
class TBodyPipeline {
public:
    struct Pending {
        qint64 number = 0;
        QList<QByteArray> reply; // status and closing line; the current sinks' while current
        QList<QByteArray> body;
        qint64 bytes = 0;     // received, CR LF included
        bool done = false;    // the reply has ended
        bool current = false; // the one being waited for: its lines go to the current sinks
        bool discard = false; // not wanted any more: read and dropped
        bool oversize = false; // passed the limit: its body lines are dropped
        // Times (TMeasureClock) of the reads that brought its first and last
        // bytes: how fast the line carries a reply once it flows.
        qint64 firstByteNs = 0;
        qint64 lastByteNs = 0;
    };

    struct FeedResult {
        bool currentOversize = false; // the current reply passed the limit
        bool statusTooLong = false;   // a status line past the line limit is still coming
        qint64 strayBytes = 0;        // bytes after every reply due
        // Requests whose replies ended in this feed, wanted and not the
        // current one: their bodies can be worked on before they are taken.
        QList<qint64> endedAhead;
    };

    // Cuts chunk with cutter: lines go to the unfinished requests in turn
    // (the current one's to current), what comes after all of them to rest
    // in restMode. Replies past maxReplyBytes drop their body lines.
    FeedResult Feed(Nntp::LineCutter &cutter, QByteArray chunk, const Nntp::LineSinks &current, qint32 restMode,
                    const Nntp::LineSinks &rest, qint64 maxReplyBytes, qint64 maxLineBytes);

    Pending &Add(qint64 number);
    // A request for number unless one is wanted already: the command to
    // send (BODY <id> when id can be sent, else BODY number), or nothing.
    QByteArray Ask(qint64 number, const QByteArray &id);
    // number's reply has not begun and none is due before it.
    bool IdleBefore(qint64 number);
    // The wanted (not discarded) request for number, or null.
    Pending *Find(qint64 number);
    Pending *FirstUnfinished();
    // Every request before number's (all of them when it has none) is dropped.
    void DiscardBefore(qint64 number);
    void DiscardAll();
    void Remove(qint64 number);
    // Takes dropped requests whose replies have ended off the front.
    void DropFinishedDiscards();
    bool AnyUnfinished() const;
    int Wanted() const; // requests not discarded
    qint64 WantedBytes() const; // received for them so far
    bool Empty() const { return inflight_.empty(); }
    int Size() const { return int(inflight_.size()); }
    void Clear() { inflight_.clear(); }

private:
    static void RouteTo(Pending &p, const Nntp::LineSinks &current, qint32 &mode, Nntp::LineSinks &sinks);
    std::deque<Pending> inflight_; // references stay valid as requests are added
};
