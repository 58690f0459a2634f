// Look-alike screening measured on the corpus bench/similar_corpus.py makes:
// how many copies are set aside and how many distinct pictures are, over a
// range of thresholds and with the program's own; mirrored and cropped
// copies as figures; the time to fingerprint a 12-megapixel JPEG and to look
// one up among a million.
// Usage: similar_bench CORPUS_DIR
#include "JpegScaled.h"
#include "TPictureFingerprint.h"
#include "TPictureReader.h"
#include "TSimilarIndex.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Item {
    QByteArray file, role, picture;
    TPictureFingerprint print;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool matches(const TPictureFingerprint &a, const TPictureFingerprint &b, int maxDistance, bool tone)
{
    return a.Valid && b.Valid && a.Distance(b) <= maxDistance && (!tone || a.ToneMatches(b));
}

double medianMs(const std::vector<double> &v)
{
    std::vector<double> s = v;
    std::sort(s.begin(), s.end());
    return s[s.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: similar_bench CORPUS_DIR\n");
        return 2;
    }
    TPictureFingerprint::SetReader(TPictureReader::ReadReducedRgb);
    const QString dir = QFile::decodeName(argv[1]) + '/';
    std::vector<Item> items;
    QMap<QByteArray, size_t> originals;
    for (const QByteArray &line : readFile(dir + "manifest.tsv").split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() != 3)
            continue;
        Item it{f[0], f[1], f[2], TPictureFingerprint::Of(readFile(dir + QFile::decodeName(f[0])))};
        if (!it.print.Valid)
            std::printf("not fingerprinted: %s\n", it.file.constData());
        if (it.role == "original")
            originals.insert(it.file, items.size());
        items.push_back(it);
    }
    std::printf("%zu files, %lld originals\n\n", items.size(), qlonglong(originals.size()));

    // Distinct pairs: every two originals, every two halves of one picture,
    // every half against every original.
    std::vector<std::pair<size_t, size_t>> distinct;
    for (size_t i = 0; i < items.size(); ++i)
        for (size_t j = 0; j < i; ++j) {
            const bool oi = items[i].role == "original", oj = items[j].role == "original";
            const bool hi = items[i].role == "half", hj = items[j].role == "half";
            if ((oi && oj) || (hi && hj) || (hi && oj) || (oi && hj))
                distinct.emplace_back(i, j);
        }
    std::printf("threshold sweep (copies set aside %% / distinct pairs that would match), tone check on | off\n");
    for (int t = 4; t <= 18; t += 2) {
        for (bool tone : {true, false}) {
            int copies = 0, hits = 0, wrong = 0;
            for (const Item &it : items)
                if (it.role.startsWith("copy:")) {
                    ++copies;
                    hits += matches(it.print, items[originals[it.picture]].print, t, tone);
                }
            for (auto [i, j] : distinct)
                wrong += matches(items[i].print, items[j].print, t, tone);
            std::printf("  d<=%2d %s: %5.1f%% / %d%s", t, tone ? "tone" : "hash", 100.0 * hits / copies, wrong,
                        tone ? "   |" : "\n");
        }
    }

    // What tells the closest distinct pictures apart, and how far copies stray.
    std::printf("\ndistinct pairs within distance 16 (distance, luma, colour):\n");
    for (auto [i, j] : distinct)
        if (matches(items[i].print, items[j].print, 16, false))
            std::printf("  %-48s %-48s %2d %3d %3d\n", items[i].file.constData(), items[j].file.constData(),
                        items[i].print.Distance(items[j].print), items[i].print.LumaDifference(items[j].print),
                        items[i].print.ColourDifference(items[j].print));
    std::vector<int> copyDistances;
    for (const Item &it : items)
        if (it.role.startsWith("copy:"))
            copyDistances.push_back(it.print.Distance(items[originals[it.picture]].print));
    std::sort(copyDistances.begin(), copyDistances.end());
    std::printf("copies' distance to their picture: median %d, 90%% %d, 99%% %d, most %d\n\n",
                copyDistances[copyDistances.size() / 2], copyDistances[copyDistances.size() * 9 / 10],
                copyDistances[copyDistances.size() * 99 / 100], copyDistances.back());

    // The program's own thresholds through the index, in the order a grab
    // would meet them: originals and halves are saved one after another,
    // then every copy is looked up.
    TSimilarIndex index;
    int distinctSetAside = 0;
    for (const Item &it : items)
        if (it.role == "original" || it.role == "half") {
            const TSimilarIndex::Match m = index.Find(it.print);
            if (m.Found) {
                ++distinctSetAside;
                std::printf("  distinct set aside: %s looks like %s (distance %d)\n", it.file.constData(),
                            m.Name.constData(), m.Distance);
            }
            index.Insert(it.print, it.file);
        }
    QMap<QByteArray, QPair<int, int>> byRole; // role -> (set aside as its own, total)
    int wrongOriginal = 0;
    int copyDistanceMax = 0, copyLumaMax = 0, copyColourMax = 0;
    for (const Item &it : items) {
        if (it.role == "original" || it.role == "half")
            continue;
        const QByteArray role = it.role.startsWith("copy:") ? it.role.mid(5) : it.role;
        const TSimilarIndex::Match m = index.Find(it.print);
        auto &r = byRole[role];
        ++r.second;
        if (m.Found && m.Name == it.picture)
            ++r.first;
        else if (m.Found)
            ++wrongOriginal;
        else if (it.role.startsWith("copy:"))
            std::printf("  copy missed: %s (distance %d, luma %d, colour %d)\n", it.file.constData(),
                        it.print.Distance(items[originals[it.picture]].print),
                        it.print.LumaDifference(items[originals[it.picture]].print),
                        it.print.ColourDifference(items[originals[it.picture]].print));
        if (it.role.startsWith("copy:")) {
            const TPictureFingerprint &o = items[originals[it.picture]].print;
            copyDistanceMax = std::max(copyDistanceMax, it.print.Distance(o));
            copyLumaMax = std::max(copyLumaMax, it.print.LumaDifference(o));
            copyColourMax = std::max(copyColourMax, it.print.ColourDifference(o));
        }
    }
    int copies = 0, copyHits = 0;
    std::printf("\nwith the program's thresholds (distance <= %d, luma <= %d, colour <= %d):\n",
                TPictureFingerprint::MaxDistance, TPictureFingerprint::MaxLumaDifference,
                TPictureFingerprint::MaxColourDifference);
    for (auto it = byRole.cbegin(); it != byRole.cend(); ++it) {
        std::printf("  %-20s %3d of %3d set aside as a look-alike of their own picture\n", it.key().constData(),
                    it.value().first, it.value().second);
        if (!it.key().startsWith("mirrored") && !it.key().startsWith("cropped")) {
            copies += it.value().second;
            copyHits += it.value().first;
        }
    }
    std::printf("  copies set aside: %.1f%% (%d of %d); distinct pictures set aside: %d; matched to another "
                "picture: %d\n",
                100.0 * copyHits / copies, copyHits, copies, distinctSetAside, wrongOriginal);
    std::printf("  largest differences of a copy from its picture: distance %d, luma %d, colour %d\n",
                copyDistanceMax, copyLumaMax, copyColourMax);

    // Fingerprinting a 12-megapixel JPEG.
    // Side by side with what the fingerprint read before, libjpeg's reduced
    // decode of the same file, taking turns.
    for (const char *name : {"big.jpg", "big-progressive.jpg"}) {
        const QByteArray big = readFile(dir + name);
        std::vector<double> ms, libjpegMs;
        for (int i = 0; i < 15; ++i) {
            QElapsedTimer t;
            t.start();
            const TPictureFingerprint p = TPictureFingerprint::Of(big);
            ms.push_back(t.nsecsElapsed() / 1e6);
            if (!p.Valid)
                std::printf("%s not fingerprinted\n", name);
            t.start();
            JpegPixels reduced;
            DecodeJpegScaled(big, 64, &reduced);
            libjpegMs.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("\nfingerprint of %s (%lld bytes, 4000 x 3000): median %.2f ms, best %.2f ms; "
                    "libjpeg's reduced decode: median %.2f ms (ratio %.2f)\n",
                    name, qlonglong(big.size()), medianMs(ms), *std::min_element(ms.begin(), ms.end()),
                    medianMs(libjpegMs), medianMs(libjpegMs) / medianMs(ms));
    }

    // A million fingerprints: the corpus's own and random ones around them.
    QRandomGenerator rng(26);
    QElapsedTimer fill;
    fill.start();
    TSimilarIndex big;
    std::vector<TPictureFingerprint> seeds;
    for (const Item &it : items)
        if (it.role == "original" || it.role == "half")
            seeds.push_back(it.print);
    for (int i = 0; i < 1000000; ++i) {
        TPictureFingerprint p = seeds[size_t(i) % seeds.size()];
        // Half the entries random, half a real picture with 12 to 31 bits
        // changed: real hashes crowd, and crowded buckets are the slow case.
        if (i % 2)
            p.Hash = rng.generate64();
        else
            for (int k = 12 + int(rng.bounded(20)); k > 0; --k)
                p.Hash ^= std::uint64_t(1) << rng.bounded(64);
        big.Insert(p, "p" + QByteArray::number(i) + ".jpg");
    }
    std::printf("\n1,000,000 fingerprints indexed in %.0f ms\n", fill.nsecsElapsed() / 1e6);
    std::vector<double> us;
    int found = 0;
    for (const Item &it : items) {
        QElapsedTimer t;
        t.start();
        found += big.Find(it.print).Found;
        us.push_back(t.nsecsElapsed() / 1e3);
    }
    std::sort(us.begin(), us.end());
    std::printf("lookup among 1,000,000: median %.1f us, 99th percentile %.1f us, slowest %.1f us (%d found)\n",
                us[us.size() / 2], us[us.size() * 99 / 100], us.back(), found);
    return 0;
}
