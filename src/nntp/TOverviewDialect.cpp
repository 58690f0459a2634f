#include "TOverviewDialect.h"

void TOverviewDialect::TakeFormat(bool listed, const QList<QByteArray> &lines)
{
    format_ = Nntp::ParseOverviewFormat(listed ? lines : QList<QByteArray>{});
    formatKnown_ = true;
}

QList<QByteArray> TOverviewDialect::Verbs() const
{
    return verb_.isEmpty() ? QList<QByteArray>{"OVER", "XOVER"} : QList<QByteArray>{verb_};
}

bool TOverviewDialect::Answered(const QByteArray &verb, bool ok, const QByteArray &status)
{
    const int code = Nntp::StatusCode(status);
    // 423: nothing left in that range, which is an answer too; so is 420 from
    // a verb known to work.
    if (ok || code == 423 || (code == 420 && Settled())) {
        verb_ = verb;
        return true;
    }
    return false;
}
