#include "IniReplace.h"

#include "IniFolderWatch.h"
#include "ZqIniFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

mode_t currentUmask()
{
    // umask can only be read by setting it; done once, before any thread could race.
    static const mode_t mask = [] {
        const mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }();
    return mask;
}

// The writer's temporary file beside the target carries the writer's pid, so
// one a killed process left can be told from one being written right now.
QByteArray tempTemplate(const QByteArray &target)
{
    return target + ".tmp-" + QByteArray::number(qint64(::getpid())) + "-XXXXXX";
}

bool processGone(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

// The version a replacement swapped out, kept under a temporary name and
// overwritten for the next one: swapping the two names makes and frees no
// inode, and on ext4 making a file where many were just deleted cost more
// than everything else a grab does per article. Removed at exit; one a kill
// left behind goes with the other stale temporaries.
//
// On a local file system both versions stay open, so a replacement opens and
// closes nothing: the spare's name is still checked to hold the very file
// swapped out, with no other name, so a hard link is never written and
// nothing else is swapped into place.
struct Spare {
    QByteArray target, path;
    ino_t ino = 0;
    int fd = -1;      // open on ino, the version at path
    int liveFd = -1;  // the version written last, put at target
    ino_t liveIno = 0;
    bool unsupported = false; // a file system that cannot swap names
    bool keepOpen = false;    // one whose errors show at write, not close
    ~Spare() { Drop(); }
    void Drop()
    {
        if (!path.isEmpty())
            ::unlink(path.constData());
        path.clear();
        CloseSpare();
        CloseLive();
    }
    void CloseSpare()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    void CloseLive()
    {
        if (liveFd >= 0)
            ::close(liveFd);
        liveFd = -1;
    }
    // The spare for overwriting, or -1; the caller owns what it returns.
    int Open(struct stat &st)
    {
        if (path.isEmpty()) {
            CloseSpare();
            return -1;
        }
        if (fd >= 0 && ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_ino == ino
            && st.st_nlink == 1)
            return std::exchange(fd, -1);
        CloseSpare();
        const int f = ::open(path.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (f >= 0 && ::fstat(f, &st) == 0 && S_ISREG(st.st_mode) && st.st_ino == ino && st.st_nlink == 1)
            return f;
        if (f >= 0)
            ::close(f);
        path.clear(); // not ours any more: left alone
        return -1;
    }
    // After target and path swapped: the version written before (liveFd)
    // is the spare now, the one just written (written) the live one.
    // written is -1 where nothing is kept open.
    void Swapped(int written, ino_t writtenIno, ino_t spareIno)
    {
        CloseSpare();
        if (liveFd >= 0 && liveIno == spareIno)
            fd = std::exchange(liveFd, -1);
        Keep(written, writtenIno);
    }
    // The version just written is at target; no spare.
    void Keep(int written, ino_t writtenIno)
    {
        CloseLive();
        liveFd = written;
        liveIno = writtenIno;
    }
};

bool pwriteAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.constData() + done, size_t(data.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

Spare &spare()
{
    static Spare s;
    return s;
}

} // namespace

IniFileStamp IniStampOf(const struct stat &st)
{
    IniFileStamp s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

IniFileStamp IniStampOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return IniFileStamp{};
    return IniStampOf(st);
}

// What was written is stamped from the open file: no look-up of the path.
bool IniReplaceFile(const QString &path, const QList<QByteArray> &lines, IniFileStamp *written)
{
    QByteArray data;
    for (const QByteArray &l : lines) {
        data += l;
        data += "\r\n";
    }
    const QByteArray target = QFile::encodeName(path);
    Spare &sp = spare();
    if (sp.target != target) {
        sp.Drop();
        sp.target = target;
    }

    // A new version under another name, then put in place by a rename: a
    // crash or kill mid-write never leaves a truncated settings file. No
    // fsync: the search writes several values per article, and syncing each
    // made grabbing disk-bound.
    struct stat st, link;
    const bool plainFile = ::lstat(target.constData(), &link) == 0 && S_ISREG(link.st_mode);
    if (plainFile)
        st = link;
    const bool exists = plainFile || ::stat(target.constData(), &st) == 0;
    const mode_t mode = exists ? (st.st_mode & 07777) : 0666;
    QByteArray tmp = sp.path;
    struct stat old;
    int fd = sp.Open(old);
    const bool reused = fd >= 0;
    if (!reused) {
        tmp = tempTemplate(target);
        fd = ::mkostemp(tmp.data(), O_CLOEXEC);
        if (fd < 0 && errno == ENOENT && QDir().mkpath(QFileInfo(path).absolutePath())) {
            tmp = tempTemplate(target); // the folder was removed under us
            fd = ::mkostemp(tmp.data(), O_CLOEXEC);
        }
        struct statfs fs;
        sp.keepOpen = fd >= 0 && ::fstatfs(fd, &fs) == 0 && IniFolderWatch::LocalFileSystem(long(fs.f_type));
    }
    // No rewriting in place where no new file can be made: a kill in the
    // middle of that left an empty settings file.
    if (fd < 0)
        return false;
    sp.path.clear();
    const mode_t wanted = exists ? mode : (0666 & ~currentUmask());
    if (!reused || (old.st_mode & 07777) != wanted)
        ::fchmod(fd, wanted);
    // Cut to size after writing, not before: ext4 flushes a file truncated
    // to nothing at close.
    struct stat now;
    const bool ok = pwriteAll(fd, data)
                    && (!reused || old.st_size <= data.size() || ::ftruncate(fd, off_t(data.size())) == 0)
                    && ::fstat(fd, &now) == 0;
    if (ok)
        *written = IniStampOf(now);
    // Where a write's error may only show at close, it is closed here.
    const bool closeFailed = ok && !sp.keepOpen && ::close(std::exchange(fd, -1)) != 0;
    if (!ok || closeFailed) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(tmp.constData());
        return false;
    }
    if (plainFile && link.st_nlink == 1 && !sp.unsupported) {
        if (::renameat2(AT_FDCWD, tmp.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
            sp.path = tmp;
            sp.ino = link.st_ino;
            sp.Swapped(fd, now.st_ino, link.st_ino);
            return true;
        }
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            sp.unsupported = true;
    }
    if (::rename(tmp.constData(), target.constData()) == 0) {
        sp.Keep(fd, now.st_ino);
        return true;
    }
    if (fd >= 0)
        ::close(fd);
    ::unlink(tmp.constData());
    return false;
}

int IniRemoveStaleTemps()
{
    const QFileInfo settings(SettingsFilePath());
    const QString prefix = settings.fileName() + QLatin1Char('.');
    // Ours: "<name>.tmp-<pid>-XXXXXX". Earlier versions wrote "<name>.XXXXXX"
    // without the pid: those go only when empty and long untouched, as a
    // user's own "<name>.backup" would be neither.
    static const QRegularExpression withPid(QStringLiteral("^tmp-([0-9]{1,10})-[A-Za-z0-9]{6}$"));
    static const QRegularExpression earlier(QStringLiteral("^[A-Za-z0-9]{6}$"));
    const qint64 hourAgo = QDateTime::currentSecsSinceEpoch() - 3600;
    int removed = 0;
    const QDir dir = settings.absoluteDir();
    for (const QString &name : dir.entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System)) {
        const QString rest = name.mid(prefix.size());
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        struct stat st;
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const QRegularExpressionMatch m = withPid.match(rest);
        const bool stale = m.hasMatch() ? processGone(m.captured(1).toLongLong())
                                        : earlier.match(rest).hasMatch() && st.st_size == 0 && st.st_mtime < hourAgo;
        if (stale && ::unlink(path.constData()) == 0)
            ++removed;
    }
    return removed;
}
