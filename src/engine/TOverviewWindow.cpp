#include "TOverviewWindow.h"

#include "TZqNNTP.h"

TOverviewWindow::TOverviewWindow(qint64 first, qint64 lastWanted, qint64 batch)
    : judgedTo_(first - 1), end_(first - 1), lastWanted_(lastWanted), batch_(batch), aheadAsked_(first - 2)
{
}

bool TOverviewWindow::Fetch(TZqNNTP &client, qint64 from, qint64 walked)
{
    const qint64 end = from + qMin<qint64>(batch_ - 1, lastWanted_ - from);
    QList<Nntp::OverviewEntry> entries;
    if (!client.GetOverview(from, end, entries))
        return false;
    for (auto it = entries_.begin(); it != entries_.end();)
        it = it.key() < walked ? entries_.erase(it) : std::next(it);
    incomplete_.removeIf([walked](const QPair<qint64, qint64> &r) { return r.second < walked; });
    for (const Nntp::OverviewEntry &e : std::as_const(entries))
        entries_.insert(e.number, e);
    if (from > end_ + 1)
        incomplete_.append({end_ + 1, from - 1}); // never listed
    end_ = end;
    if (client.OverviewIncomplete)
        incomplete_.append({from, end});
    return true;
}

bool TOverviewWindow::AheadDue(qint64 a) const
{
    return end_ < lastWanted_ && end_ - a < batch_ / 2 && aheadAsked_ != end_;
}

bool TOverviewWindow::AheadSoon(qint64 a) const
{
    return end_ < lastWanted_ && end_ - a < batch_ / 2 + batch_ / 8;
}

const Nntp::OverviewEntry *TOverviewWindow::Entry(qint64 a) const
{
    const auto it = a <= end_ ? entries_.constFind(a) : entries_.cend();
    return it == entries_.cend() ? nullptr : &*it;
}

bool TOverviewWindow::IsGap(qint64 a) const
{
    if (a > end_ || entries_.contains(a))
        return false;
    for (const auto &r : std::as_const(incomplete_))
        if (a >= r.first && a <= r.second)
            return false;
    return true;
}

QList<qint64> TOverviewWindow::Ahead(qint64 a, int most,
                                     const std::function<bool(const Nntp::OverviewEntry &)> &filtered)
{
    // Only what the overview lists and the filter lets through, so nothing
    // is fetched that the walk would not fetch.
    while (!passed_.empty() && passed_.front() <= a)
        passed_.pop_front();
    if (judgedTo_ < a) {
        passed_.clear();
        judgedTo_ = a;
    }
    for (qint64 b = judgedTo_ + 1; b <= end_ && qsizetype(passed_.size()) < most; ++b) {
        judgedTo_ = b;
        const auto e = entries_.constFind(b);
        if (e != entries_.cend() && !filtered(*e))
            passed_.push_back(b);
    }
    const auto n = qMin(qsizetype(passed_.size()), qsizetype(qMax(0, most)));
    return QList<qint64>(passed_.cbegin(), passed_.cbegin() + n);
}
