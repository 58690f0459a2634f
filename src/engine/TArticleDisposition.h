#pragma once
#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include "ArticleDecode.h"
#include "TFileNames.h"
#include "TKnownChecksums.h"
#include "TPartsStore.h"
#include "TPostPartsStore.h"
#include "TSimilarIndex.h"

#include <cstdint>
#include <functional>
#include <vector>

// What becomes of one article inside the search: the log record's header, the
// subject filter, and once the body is in, decoding (joining files spread over
// several articles), naming, the duplicate test, saving, preview, counters and
// the outcome log lines. Holds the state that lives across articles (pending
// multi-part file, known checksums); settings are read afresh at every use.
class TArticleDisposition {
public:
    // SavedBefore: the article a killed run was on, whose file was saved then.
    // SaveFailed: SaveError and SaveFolder say why; nothing was counted.
    enum Outcome { OutcomeNone, OutcomeSaved, OutcomeDuplicate, OutcomeEmpty, OutcomeSavedBefore, OutcomeSaveFailed };

    // The main window's subject filter list, edited by the filter dialog.
    explicit TArticleDisposition(QList<QByteArray> &filterStrings);

    QList<QByteArray> &FilterStrings;
    TKnownChecksums Known;
    QList<QByteArray> &KnownChecksums = Known.List;
    QByteArray DecodeStream;
    QList<QByteArray> PendingLines;
    QList<QByteArray> JoinLines;
    QByteArray PendingName;
    qint32 PendingSize = 0;
    // Parts of yEnc files and the pending file above, kept on disk.
    TPartsStore Parts;
    // Base64 posts whose subjects number their parts, until all are in.
    TPostPartsStore PostParts;
    // Fingerprints of the pictures saved, for SIMILAR_SCREENING ("Similar.dat").
    TSimilarIndex Similar;

    // Called with the decoded bytes of every file disposed of (saved, dropped
    // as duplicate, or whose save failed) when the preview is on.
    std::function<void(const QByteArray &data)> OnPreview;

    // Log record lines 1 and 2 (when LOG reads yes).
    // An article given up on (too large, failing): counted empty, the reason logged.
    void SkipArticle(const QByteArray &groupName, qint64 articleBytes, const QByteArray &reason)
    {
        empty(groupName, articleBytes, reason);
    }
    void LogHeader(const QByteArray &groupName, qint64 articleNumber, const QByteArray &subject);
    // A record of its own for what befell a group rather than an article.
    void LogNote(const QByteArray &groupName, const QByteArray &line);
    // Whether SubjectFilter would filter the subject, without counting or logging.
    bool WouldFilter(const QByteArray &subject) const;
    // Returns the filtered flag; empties bodyLines for a filtered article.
    bool SubjectFilter(const QByteArray &groupName, const QByteArray &subject,
                       QList<QByteArray> &bodyLines, qint64 articleBytes);
    // Decodes bodyLines and saves, drops or counts the result. decoded: the
    // workers' DecodeArticle of exactly these lines, else decoded here; its
    // temporary is taken over.
    Outcome Dispose(const QByteArray &groupName, const QByteArray &subject,
                    QList<QByteArray> &bodyLines, qint64 articleBytes, bool previewEnabled,
                    TDecodedArticle *decoded = nullptr);

    // Opens the parts store (a folder beside "CRC-32.dat") and takes up the
    // pending file an earlier run left.
    bool OpenPartsStore(const QString &dir);

    // "CRC-32.dat" in the program folder (TKnownChecksums).
    void LoadChecksums(const QString &path) { Known.Load(path); }
    bool SaveChecksums(const QString &path) const { return Known.Save(path); }

    // The parts of a saved file are let go only once the settings write
    // that counts the save and marks the article done has happened
    // (Committed): a kill in between finds them again and counts the file
    // as saved before. Off, they go at once (a disposition on its own).
    bool DeferReleases = false;
    void Committed();
    // Something waits for Committed(): a kill before it must find the
    // article unfinished, not the next one in flight.
    bool ReleasesPending() const { return !commitPending_.empty(); }

    // Set by the search for an article whose pointer lacks the completion
    // mark: a run ended (killed) while on it.
    bool InFlightRefetch = false;
    QString SaveError;  // the system's reason of the last failed save
    QString SaveFolder; // the output folder it failed in

    static QByteArray ChecksumKey(const QByteArray &data);
    bool IsKnown(const QByteArray &key) const { return Known.Contains(key); }
    void AddKnown(const QByteArray &key) { Known.Add(key); }
    // OUTPUT_DIR, ending in "/" whether or not it was typed with one: saved
    // files go to it + their name.
    static QByteArray OutputDir();
    // The name actually saved under (after untrusted-name cleaning and numbering).
    QByteArray LastSavedName;
    // The name of the last file disposed of (saved, duplicate or failed save);
    // empty after an Empty outcome.
    QByteArray LastFileName;
    // The bytes of the last file saved (a Saved outcome), for its thumbnail;
    // the taker clears it.
    QByteArray LastSavedData;

    // Name rules, public for the window's and the tests' use.
    static QByteArray FileNameFor(const QByteArray &decoderName, const QByteArray &subject)
    {
        return TFileNames::ForFile(decoderName, subject);
    }
    static QByteArray NumberedName(const QByteArray &base, qint64 k) { return TFileNames::Numbered(base, k); }
    static constexpr qsizetype MaxNameBytes = TFileNames::MaxNameBytes;

private:
    // Base64 takes its parts from the subject: returns false when the body
    // is not a Base64 article (nor a part of a Base64 post kept before).
    bool disposeBase64(const QByteArray &groupName, const QByteArray &subject, QList<QByteArray> &bodyLines,
                       qint64 articleBytes, bool previewEnabled, Outcome &outcome);
    Outcome disposeYEnc(const QByteArray &groupName, const QByteArray &subject, QList<QByteArray> &bodyLines,
                        qint64 articleBytes, bool previewEnabled, TDecodedArticle *decoded);
    // Names, tests, saves and previews the file in DecodeStream; crc is its
    // CRC-32 in the checksum's own form when already known, whole what the
    // workers worked out from exactly these bytes.
    Outcome disposeFile(QByteArray name, const QByteArray &groupName, const QByteArray &subject,
                        qint64 articleBytes, bool previewEnabled, const std::uint32_t *crc,
                        TDecodedArticle *whole = nullptr);
    TPictureFingerprint fingerprint(const TDecodedArticle *whole) const;
    Outcome empty(const QByteArray &groupName, qint64 articleBytes, const QByteArray &line);
    void persistPending();
    void afterCommit(std::function<void()> release);
    std::vector<std::function<void()>> commitPending_;
    bool pendingSaved_ = false; // the pending lines loaded belong to a file already saved
    void logLine(const QByteArray &line);
    // The filter strings lower-cased, for the list and locale they were made
    // from: lowering every string for every article cost more than matching.
    const QList<QString> &loweredFilters() const;
    mutable QList<QByteArray> loweredFrom_;
    mutable QString loweredLocale_;
    mutable QList<QString> lowered_;
};
