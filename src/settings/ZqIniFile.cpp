#include "ZqIniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QRegularExpression>

#include "ZqListField.h"
#include "ZqPaths.h"

#include <cerrno>
#include <cstdio>
#include <cmath>
#include <ctime>

#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

QString &overrideSlot()
{
    static QString s;
    return s;
}

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

bool isBlank(char c) { return c == ' ' || c == '\t'; }

QByteArray trimBlanks(const QByteArray &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() && qstrnicmp(a.constData(), b.constData(), a.size()) == 0;
}

// One physical line of the file, without its line end.
QList<QByteArray> readLines(const QString &path, bool *exists = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (exists)
            *exists = false;
        return {};
    }
    if (exists)
        *exists = true;
    const QByteArray all = f.readAll();
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype p = all.indexOf('\n', start);
        qsizetype end = p < 0 ? all.size() : p;
        qsizetype e = end;
        if (e > start && all[e - 1] == '\r')
            --e;
        lines.append(all.mid(start, e - start));
        if (p < 0)
            break;
        start = p + 1;
    }
    return lines;
}

// "[name]" -> name; otherwise a null array.
QByteArray sectionName(const QByteArray &line)
{
    const QByteArray t = trimBlanks(line);
    if (t.size() >= 2 && t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        if (close > 0)
            return trimBlanks(t.mid(1, close - 1));
    }
    return QByteArray();
}

// Splits "key=value"; false for lines without "=".
bool splitEntry(const QByteArray &line, QByteArray *key, QByteArray *value)
{
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return false;
    *key = trimBlanks(line.left(eq));
    *value = trimBlanks(line.mid(eq + 1));
    return true;
}

bool isComment(const QByteArray &line)
{
    const QByteArray t = trimBlanks(line);
    return t.startsWith(';');
}

bool writeAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// The writer's temporary file beside the target carries the writer's pid, so
// one a killed process left can be told from one being written right now.
QByteArray tempTemplate(const QByteArray &target)
{
    return target + ".tmp-" + QByteArray::number(qint64(::getpid())) + "-XXXXXX";
}

bool processGone(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

// What identifies one version of the file on disk; an edit by hand changes
// at least one of these.
struct FileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    qint64 mtimeNs = 0;
    bool operator==(const FileStamp &) const = default;
};

FileStamp stampOf(const struct stat &st)
{
    FileStamp s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

FileStamp stampOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return FileStamp{};
    return stampOf(st);
}

// The version a replacement swapped out, kept under a temporary name and
// overwritten for the next one: swapping the two names makes and frees no
// inode, and on ext4 making a file where many were just deleted cost more
// than everything else a grab does per article. Removed at exit; one a kill
// left behind goes with the other stale temporaries.
struct Spare {
    QByteArray target, path;
    ino_t ino = 0;
    bool unsupported = false; // a file system that cannot swap names
    ~Spare() { Drop(); }
    void Drop()
    {
        if (!path.isEmpty())
            ::unlink(path.constData());
        path.clear();
    }
    // The spare opened for overwriting, or -1: only the very file swapped
    // out, with no other name, so a hard link elsewhere is never written.
    int Open(struct stat &st)
    {
        if (path.isEmpty())
            return -1;
        const int fd = ::open(path.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_ino == ino && st.st_nlink == 1)
            return fd;
        if (fd >= 0)
            ::close(fd);
        path.clear(); // not ours any more: left alone
        return -1;
    }
};

Spare &spare()
{
    static Spare s;
    return s;
}

// What was written is stamped from the open file: no look-up of the path.
bool writeLines(const QString &path, const QList<QByteArray> &lines, FileStamp *written)
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
        fd = ::mkstemp(tmp.data());
        if (fd < 0 && errno == ENOENT && QDir().mkpath(QFileInfo(path).absolutePath())) {
            tmp = tempTemplate(target); // the folder was removed under us
            fd = ::mkstemp(tmp.data());
        }
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
    const bool ok = writeAll(fd, data)
                    && (!reused || old.st_size <= data.size() || ::ftruncate(fd, off_t(data.size())) == 0)
                    && ::fstat(fd, &now) == 0;
    if (ok)
        *written = stampOf(now);
    if (::close(fd) != 0 || !ok) {
        ::unlink(tmp.constData());
        return false;
    }
    if (plainFile && link.st_nlink == 1 && !sp.unsupported) {
        if (::renameat2(AT_FDCWD, tmp.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
            sp.path = tmp;
            sp.ino = link.st_ino;
            return true;
        }
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            sp.unsupported = true;
    }
    if (::rename(tmp.constData(), target.constData()) == 0)
        return true;
    ::unlink(tmp.constData());
    return false;
}


// Says whether anything may have happened to the settings file since the
// last look, from the folder's inotify queue: one read of a queue that is
// empty costs far less than looking the path up, which every read did.
// Only where the kernel sees every change (local file systems, the file
// itself and not a link to it); elsewhere every read looks at the file.
class FolderWatch {
public:
    ~FolderWatch() { Close(); }

    // False when the file may have changed, or when nothing is watched.
    bool Quiet(const QString &path)
    {
        if (path != path_) {
            Open(path);
            return false; // what was read before the watch began is unproven
        }
        return fd_ >= 0 && Drain(false);
    }
    // After this program's own write, so its events do not cost a look; a
    // folder that was missing may exist now.
    void Forget()
    {
        if (fd_ >= 0)
            Drain(true);
        else if (!unwatchable_)
            path_.clear();
    }
    void Reset() { path_.clear(); }

private:
    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void Open(const QString &path)
    {
        Close();
        path_ = path;
        unwatchable_ = false;
        const QFileInfo info(path);
        name_ = QFile::encodeName(info.fileName());
        const QByteArray dir = QFile::encodeName(info.absolutePath());
        struct stat link;
        struct statfs fs;
        if (::lstat(QFile::encodeName(path).constData(), &link) == 0 && !S_ISREG(link.st_mode)) {
            unwatchable_ = true; // a link: its target changes where nobody watches
            return;
        }
        if (::statfs(dir.constData(), &fs) != 0)
            return; // no folder yet
        if (!localFileSystem(fs.f_type)) {
            unwatchable_ = true;
            return;
        }
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) {
            unwatchable_ = true; // out of instances: look every time
            return;
        }
        const uint32_t mask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM
                              | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
        if (::inotify_add_watch(fd_, dir.constData(), mask) < 0)
            Close();
    }
    static bool localFileSystem(long type)
    {
        // ext2-4, tmpfs, btrfs, xfs, f2fs, overlay: changes made on this
        // machine all pass through the kernel that reports them.
        static const long local[] = {0xEF53, 0x01021994, 0x9123683E, 0x58465342, 0xF2F52010, 0x794C7630};
        for (long t : local)
            if (type == t)
                return true;
        return false;
    }
    // Empties the queue; false when an event touched the file or the folder.
    // A new file under the name that is not our own may be a link.
    bool Drain(bool ours)
    {
        bool quiet = true, folder = false;
        alignas(struct inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            for (ssize_t at = 0; at + ssize_t(sizeof(struct inotify_event)) <= n;) {
                const auto *e = reinterpret_cast<const struct inotify_event *>(buffer + at);
                if (e->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))
                    folder = true;
                else if (e->len > 0 && qstrcmp(e->name, name_.constData()) == 0) {
                    quiet = false;
                    folder = folder || (!ours && (e->mask & (IN_CREATE | IN_MOVED_TO)));
                }
                at += ssize_t(sizeof(struct inotify_event)) + e->len;
            }
        }
        if (folder)
            Reset(); // looked at afresh at the next read
        return quiet && !folder;
    }

    QString path_;
    QByteArray name_;
    int fd_ = -1;
    bool unwatchable_ = false;
};

struct PendingWrite {
    QByteArray section, key, value;
};

// The file's lines as last read or written, and the writes held back while
// gathering; reads see both, and a hand edit made meanwhile is read in
// before the held writes are applied on top of it.
struct Store {
    QString path;
    FileStamp stamp;
    bool valid = false;
    // File times come from a coarse clock: a file changed within the last tick
    // could change again with the same stamp, so such a copy is not trusted.
    bool racy = false;
    QList<QByteArray> lines;
    // Each value by "section\nkey" in lower case, made from lines when
    // first asked for: a read takes one look-up instead of a pass over the file.
    QHash<QByteArray, QByteArray> index;
    bool indexed = false;
    int gathering = 0;
    QList<PendingWrite> pending;
    FolderWatch watch;
};

QByteArray indexKey(const QByteArray &section, const QByteArray &key)
{
    return section.toLower() + '\n' + key.toLower();
}

Store &store()
{
    static Store s;
    return s;
}

const QList<QByteArray> &currentLines()
{
    Store &s = store();
    const QString path = SettingsFilePath();
    // Quiet first: a change racing this read is seen by the next one.
    if (s.watch.Quiet(path) && s.valid && !s.racy && s.path == path)
        return s.lines;
    const FileStamp now = stampOf(path);
    if (!s.valid || s.racy || s.path != path || !(now == s.stamp)) {
        if (s.path != path)
            s.pending.clear(); // held writes belong to the file they were made for
        s.path = path;
        s.lines = readLines(path);
        s.indexed = false;
        // Stamp taken before the read: a change racing the read is seen next time.
        s.stamp = now;
        s.valid = true;
        struct timespec ts;
        ::clock_gettime(CLOCK_REALTIME, &ts);
        s.racy = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec - now.mtimeNs < 50000000;
    }
    return s.lines;
}

QList<QByteArray> withEntry(QList<QByteArray> lines, const QByteArray &section, const QByteArray &key,
                            const QByteArray &value);

// Writes the lines and remembers them as the cached version.
// The value a read finds after writing it, or null where the written line
// would read back otherwise (blanks around names, quotes, a line break):
// then the index is made afresh.
QByteArray asRead(const PendingWrite &w)
{
    if (w.key.isEmpty() || w.key.contains('=') || trimBlanks(w.key) != w.key || w.section.contains(']')
        || trimBlanks(w.section) != w.section || w.value.contains('\n') || w.value.contains('\r'))
        return QByteArray();
    QByteArray v = trimBlanks(w.value);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v.isNull() ? QByteArray("") : v;
}

bool replaceFile(const QList<QByteArray> &lines, const QList<PendingWrite> &applied)
{
    Store &s = store();
    FileStamp written;
    if (!writeLines(s.path, lines, &written)) {
        s.valid = false;
        s.watch.Reset();
        return false;
    }
    s.watch.Forget();
    s.lines = lines;
    // The index still describes the lines the writes were applied to.
    for (const PendingWrite &w : applied) {
        const QByteArray v = asRead(w);
        if (v.isNull())
            s.indexed = false;
        else if (s.indexed)
            s.index.insert(indexKey(w.section, w.key), v);
    }
    s.stamp = written;
    s.valid = true;
    s.racy = false; // what is on disk is what was just written
    return true;
}

} // namespace

void SetProgramFilePathOverride(const QString &path)
{
    overrideSlot() = path;
    // Tests that place the program somewhere expect its files beside it.
    if (path.isEmpty())
        ZqPaths::ResetLayout();
    else
        ZqPaths::SetLayout(ZqPaths::Portable);
}

QString ProgramFilePath()
{
    if (!overrideSlot().isEmpty())
        return overrideSlot();
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString ProgramDirectory()
{
    QString dir = QFileInfo(ProgramFilePath()).absolutePath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString SettingsFilePath() { return ZqPaths::SettingsFile(); }

QString ProgramSettingsFilePath()
{
    const QString prog = ProgramFilePath();
    const qsizetype slash = prog.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = prog.lastIndexOf(QLatin1Char('.'));
    if (dot > slash + 1)
        return prog.left(dot) + QStringLiteral(".ini");
    return prog + QStringLiteral(".ini");
}

QByteArray IniReadString(const QByteArray &section, const QByteArray &key, const QByteArray &def)
{
    const QList<QByteArray> &lines = currentLines();
    const QList<PendingWrite> &pending = store().pending;
    for (qsizetype i = pending.size() - 1; i >= 0; --i) {
        if (sameName(pending[i].section, section) && sameName(pending[i].key, key))
            return pending[i].value;
    }
    Store &s = store();
    if (!s.indexed) {
        // The first entry of a key wins, in whichever section of that name.
        s.index.clear();
        QByteArray current;
        bool inSection = false;
        for (const QByteArray &line : lines) {
            const QByteArray sec = sectionName(line);
            if (!sec.isNull()) {
                current = sec.toLower() + '\n';
                inSection = true;
                continue;
            }
            QByteArray k, v;
            if (!inSection || isComment(line) || !splitEntry(line, &k, &v))
                continue;
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.mid(1, v.size() - 2);
            const QByteArray name = current + k.toLower();
            if (!s.index.contains(name))
                s.index.insert(name, v);
        }
        s.indexed = true;
    }
    const auto found = s.index.constFind(indexKey(section, key));
    if (found != s.index.cend())
        return *found;
    return def;
}

bool IniWriteString(const QByteArray &section, const QByteArray &key, const QByteArray &value)
{
    currentLines();
    Store &s = store();
    if (s.gathering > 0) {
        s.pending.append(PendingWrite{section, key, value});
        return true;
    }
    return replaceFile(withEntry(s.lines, section, key, value), {PendingWrite{section, key, value}});
}

void IniGatherWrites()
{
    ++store().gathering;
}

bool IniFlushWrites()
{
    Store &s = store();
    if (s.gathering > 0)
        --s.gathering;
    if (s.gathering > 0 || s.pending.isEmpty())
        return true;
    QList<QByteArray> lines = currentLines();
    for (const PendingWrite &w : s.pending)
        lines = withEntry(std::move(lines), w.section, w.key, w.value);
    const QList<PendingWrite> applied = std::move(s.pending);
    s.pending.clear();
    return replaceFile(lines, applied);
}

namespace {

QList<QByteArray> withEntry(QList<QByteArray> lines, const QByteArray &section, const QByteArray &key,
                            const QByteArray &value)
{
    const QByteArray entry = key + '=' + value;

    qsizetype secLine = -1;  // index of the section's header
    qsizetype lastEntry = -1; // last non-blank line inside it
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray sec = sectionName(lines[i]);
        if (!sec.isNull()) {
            if (secLine >= 0)
                break;
            if (sameName(sec, section)) {
                secLine = i;
                lastEntry = i;
            }
            continue;
        }
        if (secLine < 0)
            continue;
        if (!trimBlanks(lines[i]).isEmpty())
            lastEntry = i;
        QByteArray k, v;
        if (!isComment(lines[i]) && splitEntry(lines[i], &k, &v) && sameName(k, key)) {
            lines[i] = entry;
            return lines;
        }
    }
    if (secLine >= 0) {
        lines.insert(lastEntry + 1, entry);
    } else {
        while (!lines.isEmpty() && trimBlanks(lines.back()).isEmpty())
            lines.removeLast();
        if (!lines.isEmpty())
            lines.append(QByteArray());
        lines.append('[' + section + ']');
        lines.append(entry);
    }
    return lines;
}

} // namespace

bool IniReadBool(const QByteArray &section, const QByteArray &key, bool def)
{
    return IniReadString(section, key, def ? "Y" : "N").toUpper() != "N";
}

bool IniWriteBool(const QByteArray &section, const QByteArray &key, bool value)
{
    return IniWriteString(section, key, value ? "Y" : "N");
}

qint32 IniReadInteger(const QByteArray &section, const QByteArray &key, qint32 def)
{
    return ToInt32Def(IniReadString(section, key, QByteArray::number(def)), def);
}

bool IniWriteInteger(const QByteArray &section, const QByteArray &key, qint32 value)
{
    return IniWriteString(section, key, QByteArray::number(value));
}

qint64 CounterParse(const QByteArray &text)
{
    // QByteArray's conversions ignore the C locale, which QCoreApplication sets
    // from the environment (a comma decimal point would break the file).
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return 0;
    if (d >= 9.2233720368547758e18 || d <= -9.2233720368547758e18)
        return 0;
    return std::llround(d);
}

QByteArray CounterFormat(qint64 value)
{
    // Below 10^15 the 15-digit form is the plain integer, and printing a
    // double costs far more than printing an integer.
    if (value > -1000000000000000LL && value < 1000000000000000LL)
        return QByteArray::number(value);
    return QByteArray::number(double(value), 'g', 15);
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
