#include "TOutputFolder.h"

#include "TFileNames.h"
#include "ZqChecksumCRC32.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ".pixtrawl-<pid>-<random>": the pid, or 0 for a name without one.
qint64 writerOf(const QString &name)
{
    const QStringList parts = name.mid(int(qstrlen(TOutputFolder::TempPrefix))).split(QLatin1Char('-'));
    bool ok = false;
    const qint64 pid = parts.size() == 2 ? parts[0].toLongLong(&ok) : 0;
    return ok && pid > 0 ? pid : 0;
}

bool alive(qint64 pid) { return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH; }

} // namespace

bool TOutputFolder::Exists(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

namespace {

// Writes data to a new temporary in dir; 0 or the errno, *temp its path.
int writeTemporary(const QByteArray &dir, const QByteArray &data, QByteArray *temp)
{
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        // The process id does not change; each look-up is a system call.
        static const QByteArray pid = QByteArray::number(qint64(::getpid()));
        *temp = dir + TOutputFolder::TempPrefix + pid + '-'
            + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::open(temp->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;
    int error = 0;
    const char *p = data.constData();
    qsizetype left = data.size();
    while (!error && left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno != EINTR) {
            error = errno;
        } else if (n > 0) {
            p += n;
            left -= n;
        }
    }
    if (::close(fd) != 0 && !error)
        error = errno ? errno : EIO;
    if (error)
        ::unlink(temp->constData());
    return error;
}

// Gives temp the name path unless something already has it (EEXIST).
int placeNew(const QByteArray &temp, const QByteArray &path)
{
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, path.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A file system without it: a hard link refuses a taken name as well.
    if (::link(temp.constData(), path.constData()) == 0) {
        ::unlink(temp.constData());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    // Nor links (FAT): a look first, which a racing writer may beat.
    if (TOutputFolder::Exists(path))
        return EEXIST;
    return ::rename(temp.constData(), path.constData()) == 0 ? 0 : errno;
}

// An open plain file at path, never through a link, and never waiting on a
// pipe planted under the name; -1 otherwise.
int openPlain(const QByteArray &path, qint64 *size)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        *size = st.st_size;
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// Reads the next block of fd into buf: its length, 0 at the end or a failure.
ssize_t readBlock(int fd, char *buf, size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd, buf, size);
        if (n >= 0 || errno != EINTR)
            return n < 0 ? 0 : n;
    }
}

constexpr size_t BlockSize = 1 << 16;

} // namespace

// A file or link already at path is replaced rather than written through,
// and the new file never carries an executable bit, whatever the old one had.
int TOutputFolder::WriteReplacing(const QByteArray &path, const QByteArray &data)
{
    const qsizetype slash = path.lastIndexOf('/');
    QByteArray temp;
    if (const int error = writeTemporary(slash >= 0 ? path.left(slash + 1) : QByteArray(), data, &temp))
        return error;
    if (::rename(temp.constData(), path.constData()) == 0)
        return 0;
    const int error = errno;
    ::unlink(temp.constData());
    return error;
}

int TOutputFolder::WriteTemporary(const QByteArray &dir, const QByteArray &data, QByteArray *temp)
{
    return writeTemporary(dir, data, temp);
}

TOutputFolder::Placed TOutputFolder::Save(const QByteArray &dir, const QByteArray &name, const QByteArray &data,
                                          bool numberAlways, QByteArray temporary)
{
    Placed placed;
    placed.Name = name;
    QByteArray temp = std::move(temporary);
    if (temp.isEmpty() && (placed.Error = writeTemporary(dir, data, &temp)))
        return placed;
    for (qint64 k = 1;; ++k) {
        const QByteArray path = dir + placed.Name;
        // Replacing the same bytes loses nothing. Between the look and the
        // rename another program could still swap the file: a window this
        // small is left open rather than keeping a second copy of each.
        if (!numberAlways && SameBytes(path, data)) {
            placed.Error = ::rename(temp.constData(), path.constData()) == 0 ? 0 : errno;
            placed.Replaced = !placed.Error;
            break;
        }
        placed.Error = placeNew(temp, path);
        if (placed.Error != EEXIST)
            break;
        placed.Name = TFileNames::Numbered(name, k);
    }
    if (placed.Error)
        ::unlink(temp.constData());
    return placed;
}

bool TOutputFolder::SameBytes(const QByteArray &path, const QByteArray &data)
{
    qint64 size = 0;
    const int fd = openPlain(path, &size);
    if (fd < 0)
        return false;
    bool same = size == data.size();
    char buf[BlockSize];
    for (qsizetype at = 0; same && at < data.size();) {
        const ssize_t n = readBlock(fd, buf, std::min<size_t>(BlockSize, size_t(data.size() - at)));
        same = n > 0 && std::memcmp(buf, data.constData() + at, size_t(n)) == 0;
        at += n;
    }
    ::close(fd);
    return same;
}

bool TOutputFolder::SameContent(const QByteArray &path, const QByteArray &key)
{
    qint64 size = 0;
    const int fd = openPlain(path, &size);
    if (fd < 0)
        return false;
    bool same = quint32(size) == key.left(8).toUInt(nullptr, 16);
    // Crc32Update returns the register uncomplemented and takes its start
    // complemented: each block goes on from the complement of the last.
    std::uint32_t start = 0;
    char buf[BlockSize];
    for (qint64 at = 0; same && at < size;) {
        const ssize_t n = readBlock(fd, buf, BlockSize);
        same = n > 0;
        start = ~Crc32Update(start, buf, size_t(std::max<ssize_t>(n, 0)));
        at += n;
    }
    ::close(fd);
    return same && ~start == key.mid(8).toUInt(nullptr, 16);
}

int TOutputFolder::RemoveStaleTemporaries(const QByteArray &dir)
{
    const QDir d(QFile::decodeName(dir));
    if (dir.isEmpty() || !d.exists())
        return 0;
    const QDateTime hourAgo = QDateTime::currentDateTime().addSecs(-3600);
    int removed = 0;
    const QFileInfoList found = d.entryInfoList({QString::fromLatin1(TempPrefix) + QLatin1Char('*')},
                                                QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &f : found) {
        if (f.isSymLink())
            continue; // not ours: we only ever make plain files
        const qint64 pid = writerOf(f.fileName());
        const bool stale = pid ? !alive(pid) : f.lastModified() < hourAgo;
        if (stale && QFile::remove(f.filePath()))
            ++removed;
    }
    return removed;
}
