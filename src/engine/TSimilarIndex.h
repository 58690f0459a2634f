#pragma once
#include "TPictureFingerprint.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// The fingerprints of the pictures saved so far, for finding one that looks
// like a new picture. Kept on disk in "Similar.dat", one line a picture:
// fingerprint, checksum key and the name it was saved under, appended as
// pictures are saved.
//
// Found by multi-index hashing: the hash is cut into four 16-bit pieces, and
// two hashes that differ in at most d bits agree within d / 4 bits in at
// least one piece, so only the entries in the few buckets near each piece
// are compared. A million entries are searched in microseconds.
class TSimilarIndex {
public:
    struct Match {
        bool Found = false;
        int Distance = 0;
        QByteArray Name; // as saved, in the output folder
    };

    // Reads every whole line of path (a line cut short by a kill is left
    // out) and remembers it for Add. A missing file is an empty index.
    void Load(const QString &path);
    // The same, put off until the index is first used: with the screening
    // off a million lines are never read.
    void Open(const QString &path);
    QString File;

    // The subfolder of the output folder that look-alikes are saved in.
    static QByteArray Folder() { return QByteArrayLiteral("Similar/"); }
    static bool MakeFolder(const QByteArray &outputDir);
    // The log line of a picture set aside under name (folder included).
    static QByteArray SetAsideLine(const Match &look, const QByteArray &name);

    // Adds to memory and appends the line to File at once, so a kill loses
    // nothing learned before it.
    void Add(const TPictureFingerprint &print, const QByteArray &key, const QByteArray &name);
    // Memory only.
    void Insert(const TPictureFingerprint &print, const QByteArray &name);
    // The closest picture within TPictureFingerprint::MaxDistance whose tone
    // matches too.
    Match Find(const TPictureFingerprint &print);
    qsizetype Size() const { return qsizetype(entries_.size()); }
    void Clear();

    // "Similar.dat"'s line for a picture, without the line end.
    static QByteArray Line(const TPictureFingerprint &print, const QByteArray &key, const QByteArray &name);

private:
    struct Entry {
        TPictureFingerprint Print;
        std::uint32_t NameAt = 0, NameSize = 0;
    };
    static constexpr int Pieces = 4;
    std::vector<Entry> entries_;
    QByteArray names_;
    // Per piece, the entries whose piece has each of the 65536 values, with
    // their hashes beside them: most are ruled out without a look at the entry.
    struct Slot {
        std::uint64_t Hash;
        std::uint32_t Index;
    };
    std::array<std::vector<std::vector<Slot>>, Pieces> buckets_;
    bool lastLineOpen_ = false; // the file ends inside a line
    bool loaded_ = true;
    void load();
};
