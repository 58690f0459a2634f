#include "SampleSpool.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {
QList<QByteArray> splitLines(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    return lines;
}
}

QList<FakeNntpServer::Group> LoadSampleSpool(const QString &spoolDir)
{
    QList<FakeNntpServer::Group> groups;
    const QDir root(spoolDir);
    for (const QString &name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        FakeNntpServer::Group g;
        g.name = name.toLocal8Bit();
        QDir dir(root.filePath(name));
        QList<qint32> numbers;
        for (const QString &f : dir.entryList(QDir::Files))
            if (bool ok = false; f.toInt(&ok), ok)
                numbers.append(f.toInt());
        std::sort(numbers.begin(), numbers.end());
        for (qint32 n : numbers) {
            QFile file(dir.filePath(QString::number(n)));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> lines = splitLines(file.readAll());
            FakeNntpServer::Article a;
            a.number = n;
            qsizetype i = 0;
            for (; i < lines.size() && !lines[i].isEmpty(); ++i) {
                const QByteArray &h = lines[i];
                if (h.startsWith("Subject: "))
                    a.subject = h.mid(9);
                else if (h.startsWith("Message-ID: "))
                    a.messageId = h.mid(12);
                a.header.append(h);
            }
            a.body = lines.mid(i + 1);
            if (a.messageId.isEmpty())
                a.messageId = "<" + QByteArray::number(n) + "." + g.name + "@sample.invalid>";
            g.articles.append(a);
        }
        groups.append(g);
    }
    return groups;
}
