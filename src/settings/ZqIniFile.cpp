#include "ZqIniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QList>

#include "ZqListField.h"
#include "ZqPaths.h"

#include <cerrno>
#include <cmath>

#include <fcntl.h>
#include <sys/stat.h>
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

bool writeLines(const QString &path, const QList<QByteArray> &lines)
{
    QByteArray data;
    for (const QByteArray &l : lines) {
        data += l;
        data += "\r\n";
    }
    const QByteArray target = QFile::encodeName(path);

    // A new file renamed over the old one: a crash or kill mid-write never
    // leaves a truncated settings file. No fsync: the search writes several
    // values per article, and syncing each made grabbing disk-bound.
    struct stat st;
    const bool exists = ::stat(target.constData(), &st) == 0;
    const mode_t mode = exists ? (st.st_mode & 07777) : 0666;
    QByteArray tmp = target + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0 && errno == ENOENT && QDir().mkpath(QFileInfo(path).absolutePath())) {
        tmp = target + ".XXXXXX"; // the folder was removed under us
        fd = ::mkstemp(tmp.data());
    }
    // No rewriting in place where no new file can be made: a kill in the
    // middle of that left an empty settings file.
    if (fd < 0)
        return false;
    ::fchmod(fd, exists ? mode : (0666 & ~currentUmask()));
    const bool ok = writeAll(fd, data);
    if (::close(fd) == 0 && ok && ::rename(tmp.constData(), target.constData()) == 0)
        return true;
    ::unlink(tmp.constData());
    return false;
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
    const QList<QByteArray> lines = readLines(SettingsFilePath());
    bool inSection = false;
    for (const QByteArray &line : lines) {
        const QByteArray sec = sectionName(line);
        if (!sec.isNull()) {
            inSection = sameName(sec, section);
            continue;
        }
        if (!inSection || isComment(line))
            continue;
        QByteArray k, v;
        if (!splitEntry(line, &k, &v) || !sameName(k, key))
            continue;
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.mid(1, v.size() - 2);
        return v.left(IniMaxValue);
    }
    return def;
}

bool IniWriteString(const QByteArray &section, const QByteArray &key, const QByteArray &value)
{
    const QString path = SettingsFilePath();
    QList<QByteArray> lines = readLines(path);
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
            return writeLines(path, lines);
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
    return writeLines(path, lines);
}

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
    return QByteArray::number(double(value), 'g', 15);
}
