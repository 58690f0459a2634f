#include "TOutputFolder.h"

#include "TArticleDisposition.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>

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

// A file or link already at path is replaced rather than written through,
// and the new file never carries an executable bit, whatever the old one had.
int TOutputFolder::WriteReplacing(const QByteArray &path, const QByteArray &data)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray dir = slash >= 0 ? path.left(slash + 1) : QByteArray();
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        // The process id does not change; each look-up is a system call.
        static const QByteArray pid = QByteArray::number(qint64(::getpid()));
        temp = dir + TempPrefix + pid + '-'
            + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;
    int error = 0;
    bool ok = true;
    const char *p = data.constData();
    qsizetype left = data.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            ok = false;
        } else {
            p += n;
            left -= n;
        }
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && ::rename(temp.constData(), path.constData()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok)
        ::unlink(temp.constData());
    return ok ? 0 : (error ? error : EIO);
}

bool TOutputFolder::SameContent(const QByteArray &path, const QByteArray &key)
{
    QFile f(QFile::decodeName(path));
    if (!f.open(QIODevice::ReadOnly) || f.size() != key.left(8).toLongLong(nullptr, 16))
        return false;
    return qstricmp(TArticleDisposition::ChecksumKey(f.readAll()).constData(), key.constData()) == 0;
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
