#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <vector>

// Files that arrive in parts, kept on disk until they are whole, so that a
// stop, a kill or a restart between two parts loses nothing. Each pending
// file is a sparse data file plus a journal of the ranges it covers; a range
// is journalled only after its bytes are written, so a kill at any moment
// leaves no byte counted that is not there. Also keeps the one pending
// multi-article file of the uuencode, xxencode and Base64 joining.
class TPartsStore {
public:
    enum AddResult { Kept, AlreadyKept, Completed, Conflict, TooMany, Failed };

    struct Range {
        qint64 Begin; // 1-based, inclusive
        qint64 End;
        std::uint32_t Crc; // common CRC-32 of the range's bytes
    };

    // Creates the folder if needed and reads what an earlier run left.
    bool Open(const QString &dir);
    bool IsOpen() const { return !dir_.isEmpty(); }

    // Writes a checked part of the file keyed by name and size. Completed
    // means every byte from 1 to size is now covered, also when this part
    // added nothing to a file that was complete already.
    AddResult AddPart(const QByteArray &name, qint64 fileSize, qint64 begin, const QByteArray &data,
                      std::uint32_t crc, bool hasFileCrc, std::uint32_t fileCrc, qint64 now);

    // Reads a completed file. crc is its common CRC-32, combined from the
    // parts'; fileCrc is the value a part claimed for the whole file, if any
    // did. The parts stay until Release, once the file is saved: a kill or a
    // failed save before that finds them again.
    bool TakeFile(const QByteArray &name, qint64 fileSize, QByteArray &data, std::uint32_t &crc,
                  bool &hasFileCrc, std::uint32_t &fileCrc);
    void Release(const QByteArray &name, qint64 fileSize);

    // Drops pending files older than maxAge seconds, then the oldest while
    // the store holds more than maxBytes; returns a log line for each.
    QList<QByteArray> Prune(qint64 now, qint64 maxAge, qint64 maxBytes);

    // The line joining's pending file, replaced as a whole each time.
    // saved: the file these lines complete is saved, and only a refetch of
    // its last part may still use them (a kill came before they were cleared).
    bool SavePending(const QList<QByteArray> &lines, const QByteArray &name, qint64 size, bool saved = false);
    bool LoadPending(QList<QByteArray> &lines, QByteArray &name, qint64 &size, bool *saved = nullptr) const;
    void ClearPending();

    qint64 StoredBytes() const;
    // Writes content beside path and renames it over path: a reader sees the
    // old file or the new one, never half of either.
    static bool ReplaceFile(const QString &path, const QByteArray &content);
    qsizetype PendingFiles() const { return qsizetype(files_.size()); }
    // At most this many files wait at once; more is refused, not evicting.
    static constexpr qsizetype MaxFiles = 2000;

private:
    struct File {
        QByteArray Id;
        QByteArray Name;
        qint64 Size = 0;
        qint64 Created = 0;
        bool HasFileCrc = false;
        std::uint32_t FileCrc = 0;
        std::vector<Range> Ranges;
        qint64 Covered = 0;
    };
    File *find(const QByteArray &name, qint64 size);
    bool appendJournal(const File &f, const QByteArray &record);
    void remove(const File &f);
    bool matches(const File &f, qint64 begin, const QByteArray &data) const;
    static qint64 coverage(const std::vector<Range> &ranges);
    QString path(const QByteArray &id, const char *ext) const;
    bool loadFile(const QString &journal);

    QString dir_;
    std::vector<File> files_;
};
