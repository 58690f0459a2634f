#include "TGroupMark.h"

#include <limits>

TResumeRange ResumeRange(qint64 first, qint64 last, const TGroupMark &mark)
{
    __int128 from = first;
    if (from < mark.Number && __int128(mark.Number) < __int128(last) + 1000)
        from = mark.Number;
    if (mark.Text.endsWith('+'))
        from += 1;
    TResumeRange r;
    const __int128 count = __int128(last) - from + 1;
    if (count <= 0 || from > std::numeric_limits<qint64>::max())
        return TResumeRange{qint64(qMin<__int128>(from, std::numeric_limits<qint64>::max())), 0};
    r.First = qint64(from);
    r.Count = qint64(qMin<__int128>(count, std::numeric_limits<qint64>::max()));
    return r;
}

qint64 ResumeGuess(const TGroupMark &mark)
{
    if (mark.Number <= 0 || mark.Number >= std::numeric_limits<qint64>::max() / 2)
        return 0;
    return mark.Number + (mark.Text.endsWith('+') ? 1 : 0);
}

bool ResumedInFlight(const TGroupMark &mark, qint64 number, const QByteArray &messageId)
{
    if (mark.Number != number || mark.Text.endsWith('+'))
        return false;
    // An empty id (none came) cannot contradict; a different one means the
    // server renumbered.
    return mark.Text.isEmpty() || messageId.isEmpty() || mark.Text == messageId;
}
