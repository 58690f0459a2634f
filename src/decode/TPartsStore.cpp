#include "TPartsStore.h"

#include "YEnc.h"
#include "ZqChecksumCRC32.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

// Layout of the folder: <id>.dat (the sparse file), <id>.idx (a header line
// written whole by a rename, then one line per covered range), and
// pending.lines for the line joining. Nothing is synced: a kill leaves the
// written pages in the kernel, and a range's line is only appended once its
// pwrite has returned.

namespace {

const char Magic[] = "PIXTRAWL-PARTS 1";

bool writeAll(int fd, const char *p, qint64 n, qint64 offset)
{
    while (n > 0) {
        const ssize_t w = offset < 0 ? ::write(fd, p, size_t(n)) : ::pwrite(fd, p, size_t(n), off_t(offset));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= w;
        if (offset >= 0)
            offset += w;
    }
    return true;
}

bool readAt(int fd, char *p, qint64 n, qint64 offset)
{
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, size_t(n), off_t(offset));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= r;
        offset += r;
    }
    return true;
}

} // namespace

// Written beside the target and renamed over it: a reader sees the old file
// or the new one, never half of either.
bool TPartsStore::ReplaceFile(const QString &path, const QByteArray &content)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temp = target + ".tmp";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, content.constData(), content.size(), -1);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok)
        ::unlink(temp.constData());
    return ok;
}

QString TPartsStore::path(const QByteArray &id, const char *ext) const
{
    return dir_ + QLatin1Char('/') + QString::fromLatin1(id) + QLatin1String(ext);
}

bool TPartsStore::Open(const QString &dir)
{
    dir_.clear();
    files_.clear();
    if (!QDir().mkpath(dir))
        return false;
    dir_ = QDir(dir).absolutePath();
    const QDir d(dir_);
    for (const QString &tmp : d.entryList({QStringLiteral("*.tmp")}, QDir::Files))
        QFile::remove(d.filePath(tmp));
    for (const QString &idx : d.entryList({QStringLiteral("*.idx")}, QDir::Files)) {
        if (!loadFile(d.filePath(idx))) {
            QFile::remove(d.filePath(idx));
            QFile::remove(d.filePath(idx.chopped(4) + QStringLiteral(".dat")));
        }
    }
    // A data file whose journal never got written holds nothing covered.
    for (const QString &dat : d.entryList({QStringLiteral("*.dat")}, QDir::Files)) {
        if (!QFile::exists(d.filePath(dat.chopped(4) + QStringLiteral(".idx"))))
            QFile::remove(d.filePath(dat));
    }
    return true;
}

bool TPartsStore::loadFile(const QString &journal)
{
    QFile f(journal);
    if (!f.open(QIODevice::ReadOnly) || !QFile::exists(journal.chopped(4) + QStringLiteral(".dat")))
        return false;
    QList<QByteArray> lines = f.readAll().split('\n');
    lines.removeLast(); // empty after the last newline, or a record a kill cut short
    if (lines.isEmpty())
        return false;
    const QList<QByteArray> head = lines.first().split(' ');
    File file;
    file.Id = QFile::encodeName(QFileInfo(journal).completeBaseName());
    bool ok = head.size() == 5 && head[0] + ' ' + head[1] == Magic;
    file.Size = ok ? head[2].toLongLong(&ok) : 0;
    if (ok)
        file.Created = head[3].toLongLong(&ok);
    if (!ok || file.Size < 1 || file.Size > YEncMaxSize)
        return false;
    file.Name = QByteArray::fromHex(head[4]);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> rec = lines[i].split(' ');
        bool okB = false, okE = false, okC = false;
        if (rec.size() == 4 && rec[0] == "r") {
            const Range r{rec[1].toLongLong(&okB), rec[2].toLongLong(&okE), rec[3].toUInt(&okC, 16)};
            if (okB && okE && okC && r.Begin >= 1 && r.End >= r.Begin && r.End <= file.Size)
                file.Ranges.push_back(r);
        } else if (rec.size() == 2 && rec[0] == "c") {
            file.FileCrc = rec[1].toUInt(&okC, 16);
            file.HasFileCrc = okC;
        }
    }
    file.Covered = coverage(file.Ranges);
    files_.push_back(std::move(file));
    return true;
}

qint64 TPartsStore::coverage(const std::vector<Range> &ranges)
{
    std::vector<Range> s = ranges;
    std::sort(s.begin(), s.end(), [](const Range &a, const Range &b) { return a.Begin < b.Begin; });
    qint64 covered = 0, reach = 0;
    for (const Range &r : s) {
        if (r.End <= reach)
            continue;
        covered += r.End - std::max(reach + 1, r.Begin) + 1;
        reach = r.End;
    }
    return covered;
}

TPartsStore::File *TPartsStore::find(const QByteArray &name, qint64 size)
{
    for (File &f : files_)
        if (f.Size == size && f.Name == name)
            return &f;
    return nullptr;
}

bool TPartsStore::appendJournal(const File &f, const QByteArray &record)
{
    const QByteArray p = QFile::encodeName(path(f.Id, ".idx"));
    const int fd = ::open(p.constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    // One write: a kill leaves the record whole or missing (a short tail is
    // dropped when read).
    const bool ok = writeAll(fd, record.constData(), record.size(), -1);
    return ::close(fd) == 0 && ok;
}

void TPartsStore::remove(const File &f)
{
    QFile::remove(path(f.Id, ".idx"));
    QFile::remove(path(f.Id, ".dat"));
    const QByteArray id = f.Id;
    files_.erase(std::remove_if(files_.begin(), files_.end(), [&](const File &x) { return x.Id == id; }),
                 files_.end());
}

// The bytes a new part shares with ranges kept before must be the same bytes:
// two different files of one name and size must not mix.
bool TPartsStore::matches(const File &f, qint64 begin, const QByteArray &data) const
{
    const qint64 end = begin + data.size() - 1;
    int fd = -1;
    bool same = true;
    QByteArray buf;
    for (const Range &r : f.Ranges) {
        const qint64 b = std::max(begin, r.Begin), e = std::min(end, r.End);
        if (b > e)
            continue;
        if (fd < 0) {
            fd = ::open(QFile::encodeName(path(f.Id, ".dat")).constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return false;
        }
        buf.resize(e - b + 1);
        if (!readAt(fd, buf.data(), buf.size(), b - 1)
            || std::memcmp(buf.constData(), data.constData() + (b - begin), size_t(buf.size())) != 0) {
            same = false;
            break;
        }
    }
    if (fd >= 0)
        ::close(fd);
    return same;
}

TPartsStore::AddResult TPartsStore::AddPart(const QByteArray &name, qint64 fileSize, qint64 begin,
                                            const QByteArray &data, std::uint32_t crc, bool hasFileCrc,
                                            std::uint32_t fileCrc, qint64 now)
{
    const qint64 end = begin + data.size() - 1;
    if (!IsOpen() || data.isEmpty() || begin < 1 || end > fileSize || fileSize > YEncMaxSize)
        return Failed;
    File *f = find(name, fileSize);
    if (!f) {
        if (qsizetype(files_.size()) >= MaxFiles)
            return TooMany;
        File nf;
        nf.Name = name;
        nf.Size = fileSize;
        nf.Created = now;
        for (int attempt = 0; attempt < 16 && nf.Id.isEmpty(); ++attempt) {
            const QByteArray id = QByteArray::number(QRandomGenerator::global()->generate64(), 36);
            const int fd = ::open(QFile::encodeName(path(id, ".dat")).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd >= 0) {
                ::close(fd);
                nf.Id = id;
            } else if (errno != EEXIST) {
                return Failed;
            }
        }
        const QByteArray head = QByteArray(Magic) + ' ' + QByteArray::number(fileSize) + ' '
            + QByteArray::number(now) + ' ' + (name.isEmpty() ? QByteArray("-") : name.toHex()) + '\n';
        if (nf.Id.isEmpty() || !ReplaceFile(path(nf.Id, ".idx"), head)) {
            if (!nf.Id.isEmpty())
                QFile::remove(path(nf.Id, ".dat"));
            return Failed;
        }
        files_.push_back(std::move(nf));
        f = &files_.back();
    }
    if (!matches(*f, begin, data))
        return Conflict;
    std::vector<Range> with = f->Ranges;
    with.push_back(Range{begin, end, crc});
    const qint64 covered = coverage(with);
    // A set an earlier run completed and was killed before saving is
    // complete again: its last part comes again because it was not finished.
    if (covered == f->Covered)
        return covered == f->Size ? Completed : AlreadyKept;

    const int fd = ::open(QFile::encodeName(path(f->Id, ".dat")).constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return Failed;
    bool ok = writeAll(fd, data.constData(), data.size(), begin - 1);
    ok = ::close(fd) == 0 && ok;
    QByteArray record = "r " + QByteArray::number(begin) + ' ' + QByteArray::number(end) + ' ' + Hex8(crc) + '\n';
    if (hasFileCrc && !f->HasFileCrc)
        record += "c " + Hex8(fileCrc) + '\n';
    if (!ok || !appendJournal(*f, record))
        return Failed;
    f->Ranges = std::move(with);
    f->Covered = covered;
    if (hasFileCrc && !f->HasFileCrc) {
        f->HasFileCrc = true;
        f->FileCrc = fileCrc;
    }
    return covered == f->Size ? Completed : Kept;
}

bool TPartsStore::TakeFile(const QByteArray &name, qint64 fileSize, QByteArray &data, std::uint32_t &crc,
                           bool &hasFileCrc, std::uint32_t &fileCrc)
{
    File *f = find(name, fileSize);
    if (!f || f->Covered != f->Size)
        return false;
    data.resize(f->Size);
    const int fd = ::open(QFile::encodeName(path(f->Id, ".dat")).constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && readAt(fd, data.data(), data.size(), 0);
    if (fd >= 0)
        ::close(fd);
    if (!ok) {
        data.clear();
        return false;
    }
    // The parts' CRCs combined in file order, when they tile the file;
    // otherwise (overlapping parts) one pass over the bytes.
    std::vector<Range> s = f->Ranges;
    std::sort(s.begin(), s.end(), [](const Range &a, const Range &b) {
        return a.Begin != b.Begin ? a.Begin < b.Begin : a.End > b.End;
    });
    uLong combined = crc32(0, nullptr, 0);
    qint64 next = 1;
    for (const Range &r : s) {
        if (r.End < next)
            continue;
        if (r.Begin != next) {
            next = -1;
            break;
        }
        combined = crc32_combine(combined, r.Crc, z_off_t(r.End - r.Begin + 1));
        next = r.End + 1;
    }
    crc = next == f->Size + 1 ? std::uint32_t(combined)
                              : ~Crc32Update(0, data.constData(), std::size_t(data.size()));
    hasFileCrc = f->HasFileCrc;
    fileCrc = f->FileCrc;
    return true;
}

void TPartsStore::Release(const QByteArray &name, qint64 fileSize)
{
    if (File *f = find(name, fileSize))
        remove(*f);
}

qint64 TPartsStore::StoredBytes() const
{
    qint64 n = 0;
    for (const File &f : files_)
        n += f.Covered;
    return n;
}

QList<QByteArray> TPartsStore::Prune(qint64 now, qint64 maxAge, qint64 maxBytes)
{
    QList<QByteArray> log;
    const auto what = [](const File &f) {
        return "Dropped the unfinished file '" + PrintableName(f.Name) + "' (" + QByteArray::number(f.Covered)
            + " of " + QByteArray::number(f.Size) + " bytes)";
    };
    for (qsizetype i = qsizetype(files_.size()) - 1; i >= 0; --i) {
        const File &f = files_[size_t(i)];
        if (now - f.Created > maxAge) {
            log.append(what(f) + " after " + QByteArray::number(maxAge / 86400) + " days.");
            remove(File(f));
        }
    }
    while (!files_.empty() && StoredBytes() > maxBytes) {
        const auto oldest = std::min_element(files_.begin(), files_.end(), [](const File &a, const File &b) {
            return a.Created < b.Created;
        });
        log.append(what(*oldest) + " to keep the parts store within " + QByteArray::number(maxBytes / 1048576)
                   + " MB.");
        remove(File(*oldest));
    }
    return log;
}

bool TPartsStore::SavePending(const QList<QByteArray> &lines, const QByteArray &name, qint64 size, bool saved)
{
    if (!IsOpen())
        return false;
    QByteArray content;
    QDataStream out(&content, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    // Version 1 files (no mark) are still read.
    out << QByteArray(saved ? "PIXTRAWL-PENDING 2" : "PIXTRAWL-PENDING 1") << name << size << lines;
    if (saved)
        out << true;
    return ReplaceFile(dir_ + QStringLiteral("/pending.lines"), content);
}

bool TPartsStore::LoadPending(QList<QByteArray> &lines, QByteArray &name, qint64 &size, bool *saved) const
{
    if (!IsOpen())
        return false;
    QFile f(dir_ + QStringLiteral("/pending.lines"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QDataStream in(&f);
    in.setVersion(QDataStream::Qt_6_4);
    QByteArray magic;
    QList<QByteArray> l;
    QByteArray n;
    qint64 s = 0;
    bool done = false;
    in >> magic >> n >> s >> l;
    if (magic == "PIXTRAWL-PENDING 2")
        in >> done;
    if (in.status() != QDataStream::Ok || (magic != "PIXTRAWL-PENDING 1" && magic != "PIXTRAWL-PENDING 2") || s <= 0)
        return false;
    if (saved)
        *saved = done;
    lines = std::move(l);
    name = std::move(n);
    size = s;
    return true;
}

void TPartsStore::ClearPending()
{
    if (IsOpen())
        QFile::remove(dir_ + QStringLiteral("/pending.lines"));
}
