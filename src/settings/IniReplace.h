#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/stat.h>

// What identifies one version of a file on disk; an edit by hand changes at
// least one of these.
struct IniFileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    qint64 mtimeNs = 0;
    bool operator==(const IniFileStamp &) const = default;
};

IniFileStamp IniStampOf(const struct stat &st);
IniFileStamp IniStampOf(const QString &path); // exists false when there is no file

// Puts the lines (each ended by CRLF) in place of the file at path in one
// atomic step, so a kill never leaves a part-written file; stamps what was
// written. False when nothing could be written (the old file stays).
bool IniReplaceFile(const QString &path, const QList<QByteArray> &lines, IniFileStamp *written);
