#include "ZqLinesFile.h"

#include <QFile>
#include <QSaveFile>

QList<QByteArray> ReadLinesFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    return lines;
}

bool WriteLinesFile(const QString &path, const QList<QByteArray> &lines)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    for (const QByteArray &l : lines)
        f.write(l + "\r\n");
    return f.commit();
}
