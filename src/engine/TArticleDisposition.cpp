#include "TArticleDisposition.h"

#include "Decode.h"
#include "PostSubject.h"
#include "TArticleLog.h"
#include "TOutputFolder.h"
#include "TPictureBounds.h"
#include "YEnc.h"
#include "ZqChecksumCRC32.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"
#include "ZqStatistics.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

TArticleDisposition::TArticleDisposition(QList<QByteArray> &filterStrings)
    : FilterStrings(filterStrings)
{
}

void TArticleDisposition::LogHeader(const QByteArray &groupName, qint64 articleNumber,
                                    const QByteArray &subject)
{
    TArticleLog::Header(groupName, articleNumber, subject);
}

void TArticleDisposition::LogNote(const QByteArray &groupName, const QByteArray &line)
{
    TArticleLog::Note(groupName, line);
}

void TArticleDisposition::logLine(const QByteArray &line) { TArticleLog::Line(line); }

bool TArticleDisposition::WouldFilter(const QByteArray &subject) const
{
    if (!IniReadBool("CONFIG", "SUBJECT_FILTER", true))
        return false;
    const QString lowSubject = QLocale().toLower(QString::fromLocal8Bit(subject));
    const QList<QString> &lowered = loweredFilters();
    for (qsizetype i = 0; i < FilterStrings.size(); ++i) {
        if (!FilterStrings[i].isEmpty() && lowSubject.contains(lowered[i]))
            return true;
    }
    return false;
}

const QList<QString> &TArticleDisposition::loweredFilters() const
{
    const QLocale locale;
    if (loweredFrom_ != FilterStrings || loweredLocale_ != locale.name()) {
        loweredFrom_ = FilterStrings;
        loweredLocale_ = locale.name();
        lowered_.clear();
        for (const QByteArray &f : FilterStrings)
            lowered_.append(locale.toLower(QString::fromLocal8Bit(f)));
    }
    return lowered_;
}

bool TArticleDisposition::SubjectFilter(const QByteArray &groupName, const QByteArray &subject,
                                        QList<QByteArray> &bodyLines, qint64 articleBytes)
{
    bool filtered = false;
    if (!IniReadBool("CONFIG", "SUBJECT_FILTER", true))
        return false;
    const QString lowSubject = QLocale().toLower(QString::fromLocal8Bit(subject));
    const QList<QString> &lowered = loweredFilters();
    for (qsizetype i = 0; i < FilterStrings.size(); ++i) {
        const QByteArray &f = FilterStrings[i];
        if (f.isEmpty())
            continue;
        if (!lowSubject.contains(lowered[i]))
            continue;
        filtered = true;
        bodyLines.clear();
        AddStatistic("FILTERED_COUNT", groupName, 1);
        AddStatistic("FILTERED_BYTES", groupName, articleBytes);
        logLine("Article was filtered out because the subject contained '" + f + "'");
    }
    return filtered;
}

QByteArray TArticleDisposition::ChecksumKey(const QByteArray &data)
{
    const std::uint32_t crc = Crc32Checksum(data.constData(), size_t(data.size()), Crc32OptionEnabled);
    return QByteArray::number(quint32(data.size()), 16).toUpper().rightJustified(8, '0')
        + QByteArray::number(crc, 16).toUpper().rightJustified(8, '0');
}

QByteArray TArticleDisposition::OutputDir()
{
    // A folder typed into the settings file without its "/" is still the
    // folder: the file names must go inside it, not get glued onto its name.
    QByteArray dir = IniReadString("CONFIG", "OUTPUT_DIR", QFile::encodeName(ZqPaths::DefaultOutputDir()));
    if (!dir.isEmpty() && !dir.endsWith('/'))
        dir += '/';
    return dir;
}

TArticleDisposition::Outcome TArticleDisposition::Dispose(const QByteArray &groupName,
                                                          const QByteArray &subject,
                                                          QList<QByteArray> &bodyLines,
                                                          qint64 articleBytes, bool previewEnabled,
                                                          TDecodedArticle *decoded)
{
    LastSavedName.clear();
    LastFileName.clear();
    LastSavedData.clear();

    if (Parts.IsOpen()) {
        const qint64 days = IniReadInteger("CONFIG", "PARTS_DAYS", 7);
        const qint64 limitMb = IniReadInteger("CONFIG", "PARTS_LIMIT_MB", 512);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (const QByteArray &line : Parts.Prune(now, days * 86400, limitMb * 1048576))
            logLine(line);
        for (const QByteArray &line : PostParts.Prune(now, days * 86400))
            logLine(line);
    }
    if (IsYEncBody(bodyLines))
        return disposeYEnc(groupName, subject, bodyLines, articleBytes, previewEnabled,
                           decoded && decoded->What == TDecodedArticle::YEnc ? decoded : nullptr);
    if (Outcome outcome; disposeBase64(groupName, subject, bodyLines, articleBytes, previewEnabled, outcome))
        return outcome;

    // Lines whose file was saved just before a kill serve only a refetch of
    // its last part; any other article finds them gone.
    if (std::exchange(pendingSaved_, false) && !InFlightRefetch) {
        PendingLines.clear();
        PendingSize = 0;
        Parts.ClearPending();
    }
    // The article a killed run was on may already be in the pending file:
    // taking its lines in twice would garble the join.
    if (InFlightRefetch && PendingSize > 0 && PendingLines.size() >= bodyLines.size()
        && std::equal(bodyLines.cbegin(), bodyLines.cend(), PendingLines.cend() - bodyLines.size()))
        return empty(groupName, articleBytes, "There was nothing to decode.");

    const qint32 pendingBefore = PendingSize;
    // Kept to put back when the save fails: the article is fetched again.
    const QList<QByteArray> linesBefore = PendingLines;
    const QByteArray nameBefore = PendingName;
    QByteArray decodedName;
    // The workers' answer on the body alone is what decoding it here gives.
    const bool ready = decoded && decoded->What == TDecodedArticle::Attachment;
    int r = DecodeNothing;
    if (ready) {
        bodyLines = decoded->Lines;
        DecodeStream = decoded->Stream;
        decodedName = decoded->Name;
        r = decoded->Result;
    } else {
        r = DecodeAttachment(bodyLines, DecodeStream, decodedName);
    }

    bool haveFile = false;
    QByteArray name;
    TDecodedArticle *whole = nullptr;
    if (r == DecodeComplete) {
        haveFile = true;
        name = decodedName;
        whole = ready && decoded->Whole ? decoded : nullptr;
    } else if (r == DecodePartial) {
        const qint32 size = qint32(DecodeStream.size());
        if (PendingSize > 0) {
            // The older file never got its end: it goes out as far as it got.
            QByteArray ignored;
            DecodeAttachment(PendingLines, DecodeStream, ignored);
            haveFile = true;
            name = PendingName;
        }
        PendingLines = bodyLines;
        PendingSize = size;
        PendingName = decodedName;
    } else if (PendingSize > 0) {
        JoinLines = PendingLines + bodyLines;
        QByteArray ignored;
        const int r2 = DecodeAttachment(JoinLines, DecodeStream, ignored);
        if (r2 == DecodeComplete) {
            PendingSize = 0;
            PendingLines.clear();
            haveFile = true;
            name = PendingName;
        } else if (r2 == DecodePartial) {
            // Only a continuation that adds bytes is kept.
            if (DecodeStream.size() > PendingSize) {
                PendingLines = JoinLines;
                PendingSize = qint32(DecodeStream.size());
            }
        } else {
            PendingLines.clear();
            PendingSize = 0;
        }
        JoinLines.clear();
    }
    if (!haveFile) {
        if (r != DecodeNothing || pendingBefore > 0)
            persistPending();
        return empty(groupName, articleBytes, "There was nothing to decode.");
    }
    const Outcome outcome = disposeFile(name, groupName, subject, articleBytes, previewEnabled,
                                        whole ? &whole->KeyCrc : nullptr, whole);
    if (outcome == OutcomeSaveFailed) {
        PendingLines = linesBefore;
        PendingName = nameBefore;
        PendingSize = pendingBefore;
    } else if (pendingBefore > 0 && PendingSize == 0) {
        // Marked before the pointer moves on, cleared after: a kill in
        // between must not leave them to be joined to the next file.
        Parts.SavePending(linesBefore, nameBefore, pendingBefore, true);
    }
    // Only once the file is on disk and counted: a kill before must find
    // its parts again.
    afterCommit([this] { persistPending(); });
    return outcome;
}

TArticleDisposition::Outcome TArticleDisposition::empty(const QByteArray &groupName, qint64 articleBytes,
                                                        const QByteArray &line)
{
    AddStatistic("EMPTY_COUNT", groupName, 1);
    AddStatistic("EMPTY_BYTES", groupName, articleBytes);
    logLine(line);
    return OutcomeEmpty;
}

TArticleDisposition::Outcome TArticleDisposition::disposeFile(QByteArray name, const QByteArray &groupName,
                                                              const QByteArray &subject, qint64 articleBytes,
                                                              bool previewEnabled, const std::uint32_t *crc,
                                                              TDecodedArticle *whole)
{
    // Removed unless the save below takes it.
    struct Temporary {
        QByteArray path;
        ~Temporary()
        {
            if (!path.isEmpty())
                QFile::remove(QFile::decodeName(path));
        }
    } temporary{whole ? std::exchange(whole->Temporary, QByteArray()) : QByteArray()};
    name = FileNameFor(name, subject);
    LastFileName = name;

    Outcome outcome = OutcomeNone;
    SaveError.clear();
    SaveFolder.clear();
    const QByteArray key = crc ? Hex8(quint32(DecodeStream.size())) + Hex8(*crc) : ChecksumKey(DecodeStream);
    const QByteArray dir = OutputDir();
    // The article a killed run was working on comes again: if its file got
    // saved (its key was appended, or the file is there under its name), it
    // is not saved a second time.
    if (InFlightRefetch && (IsKnown(key) || TOutputFolder::SameContent(dir + name, key))) {
        AddKnown(key);
        // A look-alike set aside then is counted as set aside; the picture it
        // looks like holds other bytes. The kill may also have come between
        // an original's key and its fingerprint: without the fingerprint,
        // later look-alikes of it would be saved as new.
        TPictureFingerprint print;
        TSimilarIndex::Match look;
        if (IniReadBool("CONFIG", "SIMILAR_SCREENING", false)) {
            print = fingerprint(whole);
            look = Similar.Find(print);
        }
        // Its counters went with the kill, before the pointer that would
        // have carried them was written: they are added now.
        if (look.Found && !TOutputFolder::SameContent(dir + look.Name, key)) {
            AddStatistic("DUPLICATE_COUNT", groupName, 1);
            AddStatistic("DUPLICATE_BYTES", groupName, articleBytes);
            logLine("File '" + name + "' was set aside before the restart - CRC-32 = " + key);
            outcome = OutcomeDuplicate;
        } else {
            AddStatistic("SAVED_COUNT", groupName, 1);
            AddStatistic("SAVED_BYTES", groupName, articleBytes);
            logLine("File '" + name + "' was saved before the restart - CRC-32 = " + key);
            if (print.Valid && !look.Found)
                Similar.Add(print, key, name);
            outcome = OutcomeSavedBefore;
        }
    } else if (IsKnown(key) && IniReadBool("CONFIG", "FILE_SCREENING", false)) {
        AddStatistic("DUPLICATE_COUNT", groupName, 1);
        AddStatistic("DUPLICATE_BYTES", groupName, articleBytes);
        logLine("File '" + name + "' was a duplicate - CRC-32 = " + key);
        outcome = OutcomeDuplicate;
    } else {
        // A picture that looks like one saved before is set aside, not
        // dropped: the look may deceive.
        const TPictureFingerprint print = IniReadBool("CONFIG", "SIMILAR_SCREENING", false)
            ? fingerprint(whole)
            : TPictureFingerprint();
        const TSimilarIndex::Match look = Similar.Find(print);
        const QByteArray folder = look.Found ? TSimilarIndex::Folder() : QByteArray();
        if (look.Found)
            TSimilarIndex::MakeFolder(dir);
        // Renaming off still never replaces a different picture: only the
        // same bytes are written over, anything else gets a number.
        const bool renaming = IniReadBool("CONFIG", "RENAME_DUPLICATES", false);
        // The workers' temporary serves where it lies in the folder saved to.
        QByteArray written;
        if (temporary.path.startsWith(dir) && temporary.path.indexOf('/', dir.size()) < 0)
            written = std::exchange(temporary.path, QByteArray());
        const TOutputFolder::Placed placed = TOutputFolder::Save(dir + folder, name, DecodeStream, renaming, written);
        const QByteArray asked = folder + name;
        name = folder + placed.Name;
        LastFileName = name;
        if (const int error = placed.Error) {
            // Nothing counted and no preview: the caller keeps the article
            // unfinished and stops, so the picture is fetched again later.
            SaveError = QString::fromLocal8Bit(std::strerror(error));
            SaveFolder = QFile::decodeName(dir);
            logLine("Article could not be saved as '" + name + "': " + SaveError.toLocal8Bit());
            DecodeStream.clear();
            return OutcomeSaveFailed;
        }
        if (placed.Replaced)
            logLine("The file '" + name + "' in the folder held the same bytes and was replaced.");
        else if (!renaming && name != asked)
            logLine("A different file named '" + asked + "' is in the folder: saved as '" + name + "'");
        if (look.Found) {
            AddStatistic("DUPLICATE_COUNT", groupName, 1);
            AddStatistic("DUPLICATE_BYTES", groupName, articleBytes);
            AddKnown(key);
            logLine(TSimilarIndex::SetAsideLine(look, name));
            outcome = OutcomeDuplicate;
        } else {
            AddStatistic("SAVED_COUNT", groupName, 1);
            AddStatistic("SAVED_BYTES", groupName, articleBytes);
            AddKnown(key);
            if (print.Valid)
                Similar.Add(print, key, name);
            logLine("Article was saved as '" + name + "' at " + QByteArray::number(DecodeStream.size()) + " bytes.");
            LastSavedName = name;
            LastSavedData = DecodeStream;
            outcome = OutcomeSaved;
        }
    }

    // Saved, but not shown: its decode would be refused, or stopped at a bound.
    if (const QByteArray refusal = whole ? whole->Refusal : TPictureBounds::Refusal(DecodeStream); !refusal.isEmpty())
        logLine(refusal);
    else if (previewEnabled && OnPreview)
        OnPreview(DecodeStream);
    DecodeStream.clear();
    return outcome;
}

TPictureFingerprint TArticleDisposition::fingerprint(const TDecodedArticle *whole) const
{
    return whole && whole->Printed ? whole->Print : TPictureFingerprint::Of(DecodeStream);
}

void TArticleDisposition::afterCommit(std::function<void()> release)
{
    if (DeferReleases)
        commitPending_.push_back(std::move(release));
    else
        release();
}

void TArticleDisposition::Committed()
{
    auto pending = std::move(commitPending_);
    commitPending_.clear();
    for (const auto &release : pending)
        release();
}

void TArticleDisposition::persistPending()
{
    if (PendingSize > 0)
        Parts.SavePending(PendingLines, PendingName, PendingSize);
    else
        Parts.ClearPending();
}

bool TArticleDisposition::OpenPartsStore(const QString &dir)
{
    if (!Parts.Open(dir) || !PostParts.Open(dir))
        return false;
    qint64 size = 0;
    if (PendingSize == 0 && Parts.LoadPending(PendingLines, PendingName, size, &pendingSaved_))
        PendingSize = qint32(qMin<qint64>(size, INT_MAX));
    return true;
}

bool TArticleDisposition::disposeBase64(const QByteArray &groupName, const QByteArray &subject,
                                        QList<QByteArray> &bodyLines, qint64 articleBytes, bool previewEnabled,
                                        Outcome &outcome)
{
    // Whether a Base64 file ends here is the subject's to say: a body that
    // is a multiple of 3 bytes long has no pad to mark its end.
    const BodyEncoding encoding = EncodingOf(bodyLines);
    const bool base64 = encoding == BodyEncoding::MimeBase64 || encoding == BodyEncoding::BareBase64;
    const PartMarker marker = ParsePartMarker(subject);
    bool partOfPost = marker.Total > 1
        && (base64
            || (encoding == BodyEncoding::None && PostParts.Has(marker.Post, marker.Total)
                && IsBase64Lines(bodyLines, 1)));
    if (partOfPost && base64) {
        QList<QByteArray> copy = bodyLines;
        QByteArray ignored;
        DecodeAttachment(copy, DecodeStream, ignored);
        partOfPost = !IsWholePicture(DecodeStream);
        DecodeStream.clear();
    }
    // A name that is no name leaves the subject's own fallback to "noname".
    const auto subjectForName = [](const QByteArray &s) { return UsableName(s) ? s : QByteArray(); };

    if (!partOfPost) {
        if (!base64)
            return false;
        QByteArray decodedName;
        if (DecodeAttachment(bodyLines, DecodeStream, decodedName) == DecodeNothing) {
            outcome = empty(groupName, articleBytes, "There was nothing to decode.");
            return true;
        }
        // Complete at its end, padded or not, cut short or not.
        outcome = disposeFile(Base64FileName(decodedName, subject), groupName, subjectForName(subject), articleBytes,
                              previewEnabled, nullptr);
        return true;
    }

    const QByteArray what = "Part " + QByteArray::number(marker.Part) + " of " + QByteArray::number(marker.Total)
        + " of '" + TArticleLog::WithoutControls(marker.Post) + "'";
    switch (PostParts.AddPart(marker.Post, marker.Part, marker.Total, bodyLines, subject,
                              QDateTime::currentSecsSinceEpoch())) {
    case TPostPartsStore::Kept:
        outcome = empty(groupName, articleBytes, "Kept " + what.left(1).toLower() + what.mid(1));
        return true;
    case TPostPartsStore::AlreadyKept:
        outcome = empty(groupName, articleBytes, what + " was kept before.");
        return true;
    case TPostPartsStore::TooMany:
        outcome = empty(groupName, articleBytes,
                        what + " was not kept: " + QByteArray::number(TPostPartsStore::MaxPosts)
                            + " unfinished posts are waiting.");
        return true;
    case TPostPartsStore::Failed:
        outcome = empty(groupName, articleBytes, what + " could not be kept.");
        return true;
    case TPostPartsStore::Completed:
        break;
    }
    QList<QByteArray> joined;
    QByteArray firstSubject, decodedName;
    if (!PostParts.Take(marker.Post, marker.Total, joined, firstSubject)) {
        outcome = empty(groupName, articleBytes, what + " could not be read back.");
        return true;
    }
    // Part 1 may hold a MIME header; without one the parts are bare Base64
    // whatever their shape once joined.
    if (EncodingOf(joined) != BodyEncoding::MimeBase64)
        joined.prepend(QByteArrayLiteral("Content-Type: unknown; name=\"\""));
    if (DecodeBase64(joined, DecodeStream, decodedName) == DecodeNothing) {
        PostParts.Release(marker.Post, marker.Total);
        outcome = empty(groupName, articleBytes, "There was nothing to decode.");
        return true;
    }
    outcome = disposeFile(Base64FileName(decodedName, firstSubject), groupName, subjectForName(firstSubject),
                          articleBytes, previewEnabled, nullptr);
    // Not before the file is on disk and counted: a kill or a failed save
    // finds the parts again when the last one comes back.
    if (outcome != OutcomeSaveFailed)
        afterCommit([this, marker] { PostParts.Release(marker.Post, marker.Total); });
    return true;
}

TArticleDisposition::Outcome TArticleDisposition::disposeYEnc(const QByteArray &groupName,
                                                              const QByteArray &subject,
                                                              QList<QByteArray> &bodyLines, qint64 articleBytes,
                                                              bool previewEnabled, TDecodedArticle *decoded)
{
    YEncResult y = decoded ? decoded->Y : DecodeYEnc(bodyLines);
    if (y.State == YEncResult::Damaged)
        return empty(groupName, articleBytes, y.Error);
    if (y.State == YEncResult::Whole) {
        DecodeStream = std::move(y.Data);
        const std::uint32_t crc = ~y.Crc;
        return disposeFile(y.Name, groupName, subject, articleBytes, previewEnabled, &crc,
                           decoded && decoded->Whole ? decoded : nullptr);
    }

    const QByteArray what = YEncWhat(y);
    const TPartsStore::AddResult added = Parts.AddPart(y.Name, y.FileSize, y.Begin, y.Data, y.Crc, y.HasFileCrc,
                                                       y.FileCrc, QDateTime::currentSecsSinceEpoch());
    switch (added) {
    case TPartsStore::Kept:
        return empty(groupName, articleBytes, "Kept " + what.left(1).toLower() + what.mid(1));
    case TPartsStore::AlreadyKept:
        return empty(groupName, articleBytes, what + " was kept before.");
    case TPartsStore::Conflict:
        return empty(groupName, articleBytes, what + " does not match the part kept before.");
    case TPartsStore::TooMany:
        return empty(groupName, articleBytes,
                     what + " was not kept: " + QByteArray::number(TPartsStore::MaxFiles)
                         + " unfinished files are waiting.");
    case TPartsStore::Failed:
        return empty(groupName, articleBytes, what + " could not be kept.");
    case TPartsStore::Completed:
        break;
    }
    std::uint32_t crc = 0, fileCrc = 0;
    bool hasFileCrc = false;
    if (!Parts.TakeFile(y.Name, y.FileSize, DecodeStream, crc, hasFileCrc, fileCrc))
        return empty(groupName, articleBytes, "File '" + PrintableName(y.Name) + "' could not be read back.");
    if (hasFileCrc && crc != fileCrc) {
        DecodeStream.clear();
        Parts.Release(y.Name, y.FileSize); // fetching the parts again would give the same bytes
        return empty(groupName, articleBytes,
                     "File '" + PrintableName(y.Name) + "' failed its CRC-32 check: " + Hex8(crc) + " instead of "
                         + Hex8(fileCrc));
    }
    const std::uint32_t key = ~crc;
    const Outcome outcome = disposeFile(y.Name, groupName, subject, articleBytes, previewEnabled, &key);
    // Not before the file is on disk and counted: a kill or a failed save
    // finds the parts again when the article comes back.
    if (outcome != OutcomeSaveFailed)
        afterCommit([this, name = y.Name, size = y.FileSize] { Parts.Release(name, size); });
    return outcome;
}

