#pragma once
#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

// "CRC-32.dat": the keys (size and CRC-32) of every file saved, one per
// line. Load remembers the path; every new key is appended to it at once,
// so a kill loses none, and Save writes the list back sorted (atomically).
class TKnownChecksums {
public:
    QList<QByteArray> List; // case-insensitive, each key once; sorted as loaded, new keys at the end
    QString File;

    void Load(const QString &path);
    bool Save(const QString &path) const;
    bool Contains(const QByteArray &key) const;
    // Appends a key not known yet, to the list and to the file.
    void Add(const QByteArray &key);

private:
    void syncIndex() const;
    // List in upper case, for look-ups that stay constant-time.
    mutable QSet<QByteArray> knownIndex_;
    mutable const void *indexedData_ = nullptr;
    mutable qsizetype indexedSize_ = -1;
};
