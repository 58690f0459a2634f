#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>

#include <deque>
#include <functional>

#include "NntpParse.h"

class TZqNNTP;

// The overview of the part of a group the walk is in: batches asked for
// ahead of the walk, what they list, and which numbers they leave out are
// gaps. What the walk has passed is dropped, so a big group costs no more
// memory than two batches.
class TOverviewWindow {
public:
    TOverviewWindow(qint64 first, qint64 lastWanted, qint64 batch);

    // The batch from..; false when the server gave none (the connection
    // tells whether it was lost). walked: the article the walk is at.
    bool Fetch(TZqNNTP &client, qint64 from, qint64 walked);
    // a is past what was listed: its batch is needed now.
    bool Needed(qint64 a) const { return a > end_; }
    // Half-way through a batch the next is due, once per batch should the
    // server fail it; Asked() records the try.
    bool AheadDue(qint64 a) const;
    void Asked() { aheadAsked_ = end_; }
    qint64 NextFrom() const { return end_ + 1; }
    // The batch ahead is due soon: requests should leave the connection free.
    bool AheadSoon(qint64 a) const;

    const Nntp::OverviewEntry *Entry(qint64 a) const;
    // Not listed by a batch that was read whole: not on the server.
    bool IsGap(qint64 a) const;
    // After a, in order, at most most articles the overview lists and
    // filtered does not reject (each article judged once).
    QList<qint64> Ahead(qint64 a, int most, const std::function<bool(const Nntp::OverviewEntry &entry)> &filtered);
    bool Covers(qint64 a) const { return a <= end_; }

private:
    QHash<qint64, Nntp::OverviewEntry> entries_;
    // Articles after the walk that the filter let through, in order, up to
    // judgedTo_: each article is judged once, and the walk's next step only
    // adds at the end what the last one did not reach.
    std::deque<qint64> passed_;
    qint64 judgedTo_;
    // Batches with lines that could not be read, as first..last: the
    // numbers they do not list may be articles, not gaps.
    QList<QPair<qint64, qint64>> incomplete_;
    qint64 end_;
    qint64 lastWanted_;
    qint64 batch_;
    qint64 aheadAsked_;
};
