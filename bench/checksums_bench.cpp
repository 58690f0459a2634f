// "CRC-32.dat" at scale: loading a million keys, and adding and looking up
// keys in a list of a million (each should cost the same as in a short one).
#include "TArticleDisposition.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QByteArray key(quint32 i)
{
    return QByteArray::number(i % 50000 + 1000, 16).toUpper().rightJustified(8, '0')
        + QByteArray::number(i * 2654435761u, 16).toUpper().rightJustified(8, '0');
}

QString writeKeys(const QTemporaryDir &dir, int count)
{
    const QString path = dir.filePath(QStringLiteral("CRC-32.dat"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        QByteArray text;
        text.reserve(qsizetype(count) * 18);
        for (int i = 0; i < count; ++i)
            text += key(quint32(i)) + "\r\n";
        f.write(text);
    }
    return path;
}

void BM_LoadChecksums(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = writeKeys(dir, int(state.range(0)));
    QList<QByteArray> filters;
    for (auto _ : state) {
        TArticleDisposition d(filters);
        d.LoadChecksums(path);
        benchmark::DoNotOptimize(d.KnownChecksums.size());
    }
}
BENCHMARK(BM_LoadChecksums)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// A key added (and appended to the file) and looked up, with the list
// holding range(0) keys already.
void BM_AddKnownKey(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = writeKeys(dir, int(state.range(0)));
    QList<QByteArray> filters;
    TArticleDisposition d(filters);
    d.LoadChecksums(path);
    quint32 next = 0x80000000u;
    for (auto _ : state) {
        const QByteArray k = key(next++);
        d.AddKnown(k);
        benchmark::DoNotOptimize(d.IsKnown(k));
    }
}
BENCHMARK(BM_AddKnownKey)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
