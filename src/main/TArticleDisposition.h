#pragma once
#include <QByteArray>
#include <QList>

#include <functional>

// What becomes of one article inside the search: the log record's header, the
// subject filter, and once the body is in, decoding (joining files spread over
// several articles), naming, the duplicate test, saving, preview, counters and
// the outcome log lines. Holds the state that lives across articles (pending
// multi-part file, known checksums); settings are read afresh at every use.
class TArticleDisposition {
public:
    enum Outcome { OutcomeNone, OutcomeSaved, OutcomeDuplicate, OutcomeEmpty };

    // The main window's subject filter list, edited by the filter dialog.
    explicit TArticleDisposition(QList<QByteArray> &filterStrings);

    QList<QByteArray> &FilterStrings;
    QList<QByteArray> KnownChecksums; // sorted, case-insensitive, each key once
    QByteArray DecodeStream;
    QList<QByteArray> PendingLines;
    QList<QByteArray> JoinLines;
    QByteArray PendingName;
    qint32 PendingSize = 0;

    // Called with the decoded bytes of every file disposed of (saved, dropped
    // as duplicate, or whose save failed) when the preview is on.
    std::function<void(const QByteArray &data)> OnPreview;

    // Log record lines 1 and 2 (when LOG reads yes).
    void LogHeader(const QByteArray &groupName, qint32 articleNumber, const QByteArray &subject);
    // Returns the filtered flag; empties bodyLines for a filtered article.
    bool SubjectFilter(const QByteArray &groupName, const QByteArray &subject,
                       QList<QByteArray> &bodyLines, qint64 articleBytes);
    // Decodes bodyLines and saves, drops or counts the result.
    Outcome Dispose(const QByteArray &groupName, const QByteArray &subject,
                    QList<QByteArray> &bodyLines, qint64 articleBytes, bool previewEnabled);

    // "CRC-32.dat" in the program folder: one key per line.
    void LoadChecksums(const QString &path);
    bool SaveChecksums(const QString &path) const;

    static QByteArray ChecksumKey(const QByteArray &data);
    // The name actually saved under (after untrusted-name cleaning and numbering).
    QByteArray LastSavedName;
};
