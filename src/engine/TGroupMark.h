#pragma once
#include <QByteArray>

// Where the search stands in one group: the message id of the last article
// begun there (followed by "+" once it was fully handled) and its number.
struct TGroupMark {
    QByteArray Text;
    qint64 Number = 0;
    bool operator==(const TGroupMark &) const = default;
};

// The articles to walk in a group the server reports as first..last, given
// its mark: from the marked article when it lies inside the range (or up to
// 1000 beyond its end), one further once that article was fully handled.
// Wide arithmetic: no number a server or a settings file holds can overflow.
struct TResumeRange {
    qint64 First = 0;
    qint64 Count = 0; // 0: nothing to walk
};
TResumeRange ResumeRange(qint64 first, qint64 last, const TGroupMark &mark);
// Where the walk most likely resumes before the server has told the range
// (the mark still inside it); 0 for a group without a mark.
qint64 ResumeGuess(const TGroupMark &mark);

// Whether article number, whose header gave messageId, is the one a run
// ended on without finishing (killed, or its save failed).
bool ResumedInFlight(const TGroupMark &mark, qint64 number, const QByteArray &messageId);
