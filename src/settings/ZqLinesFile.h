#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// Files of one entry per line (the filter strings): CRLF or LF line ends;
// a final line end does not add an entry; a missing file is no entries.
QList<QByteArray> ReadLinesFile(const QString &path);
// Written to a new file put in place of the old one; a failed write keeps the old file.
bool WriteLinesFile(const QString &path, const QList<QByteArray> &lines);
