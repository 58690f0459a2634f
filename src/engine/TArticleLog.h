#pragma once
#include <QByteArray>

// "pixtrawl.log": a record per article (a blank line, the header line, the
// outcome lines), written only while LOG reads yes. Every write opens,
// appends and closes, so the file is whole after each line; a failing write
// is ignored, as the log must never end a search.
class TArticleLog {
public:
    // Record lines 1 and 2, the subject cut to MaxSubjectBytes; the only
    // write that may create the file.
    static void Header(const QByteArray &groupName, qint64 articleNumber, const QByteArray &subject);
    // A record of its own for what befell a group rather than an article.
    static void Note(const QByteArray &groupName, const QByteArray &line);
    // An outcome line of the record in hand.
    static void Line(const QByteArray &line);

    // As SafeText shows it: a name, subject or server's words must not break
    // or forge a log line, nor reach a terminal that shows the log raw.
    static QByteArray WithoutControls(QByteArray s);

    static constexpr qsizetype MaxSubjectBytes = 1024;
};
