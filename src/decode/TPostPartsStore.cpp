#include "TPostPartsStore.h"

#include "TPartsStore.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>

// Files: post-<id>-<part>.lines, each a QDataStream of the magic, the post,
// the total, the part number, the time it came, its subject and its lines.
// The id is a hash of post and total, so the same post always finds its
// files again.

namespace {

const char Magic[] = "PIXTRAWL-POST 1";

} // namespace

QByteArray TPostPartsStore::key(const QByteArray &post, int total)
{
    return post + '\0' + QByteArray::number(total);
}

QString TPostPartsStore::path(const QByteArray &id, int part) const
{
    return dir_ + QStringLiteral("/post-") + QString::fromLatin1(id) + QLatin1Char('-') + QString::number(part)
        + QStringLiteral(".lines");
}

bool TPostPartsStore::Open(const QString &dir)
{
    dir_.clear();
    posts_.clear();
    if (!QDir().mkpath(dir))
        return false;
    dir_ = QDir(dir).absolutePath();
    const QDir d(dir_);
    for (const QString &name : d.entryList({QStringLiteral("post-*.lines")}, QDir::Files))
        loadPart(d.filePath(name));
    return true;
}

void TPostPartsStore::loadPart(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return;
    QDataStream in(&f);
    in.setVersion(QDataStream::Qt_6_4);
    QByteArray magic, post, subject;
    qint32 total = 0, part = 0;
    qint64 created = 0;
    in >> magic >> post >> total >> part >> created >> subject;
    if (in.status() != QDataStream::Ok || magic != Magic || part < 1 || part > total) {
        f.close();
        QFile::remove(file); // a file of another kind or one cut short
        return;
    }
    Post &p = posts_[key(post, total)];
    p.Id = QCryptographicHash::hash(key(post, total), QCryptographicHash::Sha1).toHex().left(16);
    p.Name = post;
    p.Total = total;
    p.Parts.insert(part, Part{subject, created});
}

TPostPartsStore::AddResult TPostPartsStore::AddPart(const QByteArray &post, int part, int total,
                                                    const QList<QByteArray> &lines, const QByteArray &subject,
                                                    qint64 now)
{
    if (!IsOpen() || part < 1 || part > total)
        return Failed;
    const QByteArray k = key(post, total);
    auto it = posts_.find(k);
    if (it == posts_.end()) {
        if (posts_.size() >= MaxPosts)
            return TooMany;
        Post p;
        p.Id = QCryptographicHash::hash(k, QCryptographicHash::Sha1).toHex().left(16);
        p.Name = post;
        p.Total = total;
        it = posts_.insert(k, p);
    }
    const bool before = it->Parts.contains(part);
    if (!before) {
        QByteArray content;
        QDataStream out(&content, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_4);
        out << QByteArray(Magic) << post << qint32(total) << qint32(part) << now << subject << lines;
        if (!TPartsStore::ReplaceFile(path(it->Id, part), content)) {
            if (it->Parts.isEmpty())
                posts_.erase(it);
            return Failed;
        }
        it->Parts.insert(part, Part{subject, now});
    }
    if (it->Parts.size() == total)
        return Completed;
    return before ? AlreadyKept : Kept;
}

bool TPostPartsStore::Take(const QByteArray &post, int total, QList<QByteArray> &lines,
                           QByteArray &firstSubject) const
{
    const auto it = posts_.constFind(key(post, total));
    if (it == posts_.cend() || it->Parts.size() != total)
        return false;
    QList<QByteArray> all;
    for (int part = 1; part <= total; ++part) {
        QFile f(path(it->Id, part));
        if (!f.open(QIODevice::ReadOnly))
            return false;
        QDataStream in(&f);
        in.setVersion(QDataStream::Qt_6_4);
        QByteArray magic, p, subject;
        qint32 t = 0, n = 0;
        qint64 created = 0;
        QList<QByteArray> partLines;
        in >> magic >> p >> t >> n >> created >> subject >> partLines;
        if (in.status() != QDataStream::Ok || magic != Magic || n != part)
            return false;
        all += partLines;
        if (part == 1)
            firstSubject = subject;
    }
    lines = std::move(all);
    return true;
}

void TPostPartsStore::remove(const QByteArray &k)
{
    const auto it = posts_.find(k);
    if (it == posts_.end())
        return;
    for (auto p = it->Parts.cbegin(); p != it->Parts.cend(); ++p)
        QFile::remove(path(it->Id, p.key()));
    posts_.erase(it);
}

void TPostPartsStore::Release(const QByteArray &post, int total) { remove(key(post, total)); }

QList<QByteArray> TPostPartsStore::Prune(qint64 now, qint64 maxAge)
{
    QList<QByteArray> log;
    QList<QByteArray> old;
    for (auto it = posts_.cbegin(); it != posts_.cend(); ++it) {
        qint64 first = now;
        for (const Part &p : it->Parts)
            first = qMin(first, p.Created);
        if (now - first > maxAge) {
            old.append(it.key());
            log.append("Dropped the unfinished post '" + it->Name + "' (" + QByteArray::number(it->Parts.size())
                       + " of " + QByteArray::number(it->Total) + " parts) after "
                       + QByteArray::number(maxAge / 86400) + " days.");
        }
    }
    for (const QByteArray &k : old)
        remove(k);
    return log;
}
