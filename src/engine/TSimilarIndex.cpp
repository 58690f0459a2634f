#include "TSimilarIndex.h"

#include <QDir>
#include <QFile>

#include <bit>

namespace {

std::uint16_t piece(std::uint64_t hash, int i) { return std::uint16_t(hash >> (16 * i)); }

// Calls visit with every 16-bit value within radius bits of value.
template <typename Visit> void near(std::uint16_t value, int radius, int from, const Visit &visit)
{
    visit(value);
    if (radius == 0)
        return;
    for (int bit = from; bit < 16; ++bit)
        near(std::uint16_t(value ^ (1u << bit)), radius - 1, bit + 1, visit);
}

} // namespace

void TSimilarIndex::Clear()
{
    entries_.clear();
    names_.clear();
    for (auto &b : buckets_)
        b.clear();
    lastLineOpen_ = false;
}

QByteArray TSimilarIndex::Line(const TPictureFingerprint &print, const QByteArray &key, const QByteArray &name)
{
    return print.ToText() + ' ' + key + ' ' + name;
}

void TSimilarIndex::Open(const QString &path)
{
    Clear();
    File = path;
    loaded_ = false;
}

void TSimilarIndex::Load(const QString &path)
{
    Open(path);
    load();
}

void TSimilarIndex::load()
{
    loaded_ = true;
    QFile f(File);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = f.readAll();
    lastLineOpen_ = !text.isEmpty() && !text.endsWith('\n');
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            break; // cut short by a kill
        const QByteArrayView line = QByteArrayView(text).sliced(at, end - at).trimmed();
        at = end + 1;
        // fingerprint, key, name: the name may hold spaces.
        const qsizetype gap1 = line.indexOf(' ');
        const qsizetype gap2 = gap1 < 0 ? -1 : line.indexOf(' ', gap1 + 1);
        if (gap2 < 0)
            continue;
        const TPictureFingerprint print = TPictureFingerprint::FromText(line.first(gap1));
        if (print.Valid)
            Insert(print, line.sliced(gap2 + 1).toByteArray());
    }
}

void TSimilarIndex::Insert(const TPictureFingerprint &print, const QByteArray &name)
{
    if (buckets_[0].empty())
        for (auto &b : buckets_)
            b.resize(65536);
    const auto index = std::uint32_t(entries_.size());
    entries_.push_back({print, std::uint32_t(names_.size()), std::uint32_t(name.size())});
    names_ += name;
    for (int i = 0; i < Pieces; ++i)
        buckets_[size_t(i)][piece(print.Hash, i)].push_back({print.Hash, index});
}

void TSimilarIndex::Add(const TPictureFingerprint &print, const QByteArray &key, const QByteArray &name)
{
    if (!loaded_)
        load();
    Insert(print, name);
    if (File.isEmpty())
        return;
    QFile f(File);
    // One write for the whole line: a kill leaves it whole or cut, and a
    // line cut short is ended before the next one.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return;
    const QByteArray line = (lastLineOpen_ ? "\r\n" : "") + Line(print, key, name) + "\r\n";
    if (f.write(line) == line.size())
        lastLineOpen_ = false;
}

TSimilarIndex::Match TSimilarIndex::Find(const TPictureFingerprint &print)
{
    Match best;
    if (!print.Valid)
        return best;
    if (!loaded_)
        load();
    if (entries_.empty())
        return best;
    const int maxDistance = TPictureFingerprint::MaxDistance;
    int bestDistance = maxDistance + 1;
    std::uint32_t bestIndex = 0;
    for (int i = 0; i < Pieces; ++i) {
        const auto &buckets = buckets_[size_t(i)];
        near(piece(print.Hash, i), maxDistance / Pieces, 0, [&](std::uint16_t value) {
            for (const Slot &slot : buckets[value]) {
                const int d = std::popcount(slot.Hash ^ print.Hash);
                if (d < bestDistance && entries_[slot.Index].Print.ToneMatches(print)) {
                    bestDistance = d;
                    bestIndex = slot.Index;
                }
            }
        });
    }
    if (bestDistance <= maxDistance) {
        const Entry &e = entries_[bestIndex];
        best = {true, bestDistance, names_.mid(e.NameAt, e.NameSize)};
    }
    return best;
}

bool TSimilarIndex::MakeFolder(const QByteArray &outputDir)
{
    return QDir().mkpath(QFile::decodeName(outputDir + Folder()));
}

QByteArray TSimilarIndex::SetAsideLine(const Match &look, const QByteArray &name)
{
    return "Looks like '" + look.Name + "' (distance " + QByteArray::number(look.Distance) + "): set aside as " + name;
}
