#include "TKnownChecksums.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool caseLess(const QByteArray &a, const QByteArray &b) { return qstricmp(a.constData(), b.constData()) < 0; }

} // namespace

void TKnownChecksums::syncIndex() const
{
    // The list may have been replaced or edited from outside: the index
    // follows it, and is only built afresh then.
    if (List.constData() == indexedData_ && List.size() == indexedSize_)
        return;
    knownIndex_.clear();
    knownIndex_.reserve(List.size());
    for (const QByteArray &key : List)
        knownIndex_.insert(key.toUpper());
    indexedData_ = List.constData();
    indexedSize_ = List.size();
}

bool TKnownChecksums::Contains(const QByteArray &key) const
{
    syncIndex();
    return knownIndex_.contains(key.toUpper());
}

void TKnownChecksums::Add(const QByteArray &key)
{
    syncIndex();
    const QByteArray upper = key.toUpper();
    if (knownIndex_.contains(upper))
        return;
    // Appended, not inserted in order: a list of a million keys must not
    // move for every picture saved. The file is written sorted.
    List.append(key);
    knownIndex_.insert(upper);
    indexedData_ = List.constData();
    indexedSize_ = List.size();
    // Appended at once, so a kill loses no key learned before it; a clean
    // close puts the file back in its sorted shape.
    // Plain calls: a buffered file looks itself up twice and seeks, for one
    // short line per picture.
    if (!File.isEmpty()) {
        const int fd = ::open(QFile::encodeName(File).constData(),
                              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd >= 0) {
            const QByteArray line = key + "\r\n";
            while (::write(fd, line.constData(), size_t(line.size())) < 0 && errno == EINTR) {
            }
            ::close(fd);
        }
    }
}

void TKnownChecksums::Load(const QString &path)
{
    File = path;
    List.clear();
    knownIndex_.clear();
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) {
        // One allocation per key and no other: the lines are views into
        // the text, sorted only when the file is not in order already (keys
        // appended since the last save leave it so).
        const QByteArray text = f.readAll();
        std::vector<QByteArrayView> lines;
        lines.reserve(size_t(text.size() / 18 + 1));
        bool lower = false;
        for (qsizetype at = 0, end = 0; at < text.size(); at = end + 1) {
            end = text.indexOf('\n', at) < 0 ? text.size() : text.indexOf('\n', at);
            const QByteArrayView line = QByteArrayView(text).sliced(at, end - at).trimmed();
            if (!line.isEmpty())
                lines.push_back(line);
            lower = lower || std::any_of(line.begin(), line.end(), [](char c) { return c >= 'a' && c <= 'z'; });
        }
        // A hand-edited file may hold lower case: compared as upper case.
        const auto less = [lower](QByteArrayView x, QByteArrayView y) {
            return lower ? qstrnicmp(x.data(), x.size(), y.data(), y.size()) < 0 : x < y;
        };
        if (!std::is_sorted(lines.begin(), lines.end(), less))
            std::stable_sort(lines.begin(), lines.end(), less);
        List.reserve(qsizetype(lines.size()));
        knownIndex_.reserve(qsizetype(lines.size()));
        QByteArrayView previous;
        for (const QByteArrayView line : lines) {
            if (!previous.isNull() && !less(previous, line) && !less(line, previous))
                continue; // the same key again
            previous = line;
            const QByteArray key = line.toByteArray();
            List.append(key);
            knownIndex_.insert(lower ? key.toUpper() : key);
        }
    }
    indexedData_ = List.constData();
    indexedSize_ = List.size();
}

bool TKnownChecksums::Save(const QString &path) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QList<QByteArray> sorted = List;
    std::sort(sorted.begin(), sorted.end(), caseLess);
    QByteArray text;
    text.reserve(sorted.size() * 18);
    for (const QByteArray &key : std::as_const(sorted))
        text += key + "\r\n";
    f.write(text);
    return f.commit();
}
