#include "ZqIniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QList>

#include "IniFolderWatch.h"
#include "IniReplace.h"
#include "ZqListField.h"
#include "ZqPaths.h"

#include <cmath>
#include <ctime>

namespace {

QString &overrideSlot()
{
    static QString s;
    return s;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Views, not copies: a flush runs these over every line of its section for
// each value it writes.
QByteArrayView trimBlanks(QByteArrayView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && (a.isEmpty() || qstrnicmp(a.data(), b.data(), size_t(a.size())) == 0);
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

// "[name]" -> name.
bool sectionName(QByteArrayView line, QByteArrayView *name)
{
    const QByteArrayView t = trimBlanks(line);
    if (t.size() >= 2 && t.front() == '[') {
        const qsizetype close = t.indexOf(']');
        if (close > 0) {
            *name = trimBlanks(t.sliced(1, close - 1));
            return true;
        }
    }
    return false;
}

// Splits "key=value"; false for lines without "=".
bool splitEntry(QByteArrayView line, QByteArrayView *key, QByteArrayView *value)
{
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return false;
    *key = trimBlanks(line.first(eq));
    *value = trimBlanks(line.sliced(eq + 1));
    return true;
}

bool isComment(QByteArrayView line)
{
    const QByteArrayView t = trimBlanks(line);
    return !t.isEmpty() && t.front() == ';';
}

struct PendingWrite {
    QByteArray section, key, value;
};

// The file's lines as last read or written, and the writes held back while
// gathering; reads see both, and a hand edit made meanwhile is read in
// before the held writes are applied on top of it.
struct Store {
    QString path;
    IniFileStamp stamp;
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
    // Looked at the file since the held writes began: a stretch of them has
    // no waits, so its reads take the copy as it was then (the flush looks
    // again and keeps an edit made meanwhile).
    bool lookedWhileGathering = false;
    QList<PendingWrite> pending;
    IniFolderWatch watch;
};

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }

// "section\nkey" in lower case, made in one allocation: every read makes one.
QByteArray indexKey(QByteArrayView section, QByteArrayView key)
{
    QByteArray k(section.size() + 1 + key.size(), Qt::Uninitialized);
    char *out = k.data();
    for (char c : section)
        *out++ = lowerAscii(c);
    *out++ = '\n';
    for (char c : key)
        *out++ = lowerAscii(c);
    return k;
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
    if (s.gathering > 0 && s.lookedWhileGathering && s.valid && !s.racy && s.path == path)
        return s.lines;
    s.lookedWhileGathering = s.gathering > 0;
    // Quiet first: a change racing this read is seen by the next one.
    if (s.watch.Quiet(path) && s.valid && !s.racy && s.path == path)
        return s.lines;
    const IniFileStamp now = IniStampOf(path);
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
    QByteArray v = trimBlanks(w.value).toByteArray();
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v.isNull() ? QByteArray("") : v;
}

bool replaceFile(const QList<QByteArray> &lines, const QList<PendingWrite> &applied)
{
    Store &s = store();
    IniFileStamp written;
    if (!IniReplaceFile(s.path, lines, &written)) {
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
        QByteArrayView current;
        bool inSection = false;
        for (const QByteArray &line : lines) {
            QByteArrayView k, v;
            if (sectionName(line, &current)) {
                inSection = true;
                continue;
            }
            if (!inSection || isComment(line) || !splitEntry(line, &k, &v))
                continue;
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.sliced(1, v.size() - 2);
            const QByteArray name = indexKey(current, k);
            if (!s.index.contains(name))
                s.index.insert(name, v.toByteArray());
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
    Store &s = store();
    if (s.gathering++ == 0)
        s.lookedWhileGathering = false;
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
        QByteArrayView sec;
        if (sectionName(lines[i], &sec)) {
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
        QByteArrayView k, v;
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
