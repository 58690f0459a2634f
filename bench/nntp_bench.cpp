// Receive path of the news client in Body mode: a 4 MiB article body arriving
// in 32 KiB reads, cut into lines, dot-unstuffed and routed into the body
// list; against memcpy of the same bytes in the same reads.
#include "NntpParse.h"

#include <QByteArray>
#include <QList>

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

constexpr qsizetype kBodySize = 4 << 20;
constexpr qsizetype kReadSize = 32768;

// A body of lines of the given length in the uuencode alphabet, about one in
// 64 beginning with a dot (stuffed on the wire), closed by ".".
QByteArray Wire(int lineLength)
{
    std::mt19937 rng(7);
    QByteArray wire = "222 1 <bench@example.invalid> body\r\n";
    wire.reserve(kBodySize + 4096);
    while (wire.size() < kBodySize) {
        QByteArray line(lineLength, '\0');
        for (char &c : line)
            c = char(0x20 + rng() % 64);
        if (rng() % 64 == 0)
            line[0] = '.';
        if (line.startsWith('.'))
            wire += '.';
        wire += line + "\r\n";
    }
    return wire + ".\r\n";
}

void BM_BodyRouting(benchmark::State &state)
{
    const QByteArray wire = Wire(int(state.range(0)));
    QList<QByteArray> reply, body;
    for (auto _ : state) {
        // Freeing the previous article's lines is not part of receiving.
        state.PauseTiming();
        reply.clear();
        body.clear();
        state.ResumeTiming();
        Nntp::LineCutter cutter;
        const Nntp::LineSinks sinks{&reply, &body, nullptr};
        for (qsizetype pos = 0; pos < wire.size(); pos += kReadSize)
            cutter.Feed(wire.constData() + pos, qMin(kReadSize, wire.size() - pos), Nntp::RouteBody, sinks);
        benchmark::DoNotOptimize(body.data());
    }
    if (reply.size() != 2 || body.isEmpty())
        state.SkipWithError("body not routed");
    state.SetBytesProcessed(state.iterations() * wire.size());
    state.counters["lines"] = double(body.size());
}
BENCHMARK(BM_BodyRouting)->Arg(61)->Arg(128)->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State &state)
{
    const QByteArray wire = Wire(int(state.range(0)));
    QByteArray target(wire.size(), '\0');
    for (auto _ : state) {
        char *out = target.data();
        for (qsizetype pos = 0; pos < wire.size(); pos += kReadSize)
            std::memcpy(out + pos, wire.constData() + pos, size_t(qMin(kReadSize, wire.size() - pos)));
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * wire.size());
}
BENCHMARK(BM_Memcpy)->Arg(61)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
