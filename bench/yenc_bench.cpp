// yEnc decoding speed against SABnzbd's SIMD decoder (Debian's
// python3-sabyenc) on the same 768,000-byte article, in one run:
// bench/yenc_sabyenc.py encodes the article with sabyenc, times
// sabyenc3.decode_usenet_chunks on it (its CRC check included) and leaves
// the article for us. We then time, on the same bytes:
//  - DecodeYEnc on the body lines as the news client hands them over (the
//    path the program takes: every check and the CRC-32 included), and on
//    the same lines each in storage of its own;
//  - the inner loop of every SIMD path and the scalar one, with the CRC-32;
//  - the inner loop over the body as received (CR LF left in), with the CRC.
// Speeds are in encoded bytes per second; each is the best of five batches.
// Usage: yenc_bench [rounds per batch, default 200]
#include "NntpParse.h"
#include "YEnc.h"
#include "YEncKernel.h"
#include "ZqChecksumCRC32.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

namespace {

double bestSeconds(int rounds, const std::function<void()> &f)
{
    double best = std::numeric_limits<double>::max();
    for (int batch = 0; batch < 5; ++batch) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < rounds; ++i)
            f();
        best = std::min(best, double(t.nsecsElapsed()) / 1e9 / rounds);
    }
    return best;
}

volatile std::uint32_t sink;

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    QTemporaryDir tmp;
    const QByteArray articlePath = QFile::encodeName(tmp.filePath(QStringLiteral("article.yenc")));
    const QByteArray cmd = "/usr/bin/python3 " PIXTRAWL_BENCH_DIR "/yenc_sabyenc.py " + articlePath + ' '
        + QByteArray::number(rounds);
    FILE *p = ::popen(cmd.constData(), "r");
    long long articleBytes = 0;
    double sabSeconds = 0;
    char simd[64] = "";
    if (!p || std::fscanf(p, "%lld %lf %63s", &articleBytes, &sabSeconds, simd) != 3) {
        std::fprintf(stderr, "sabyenc half failed (needs /usr/bin/python3 with python3-sabyenc)\n");
        return 1;
    }
    ::pclose(p);
    QFile f(QString::fromLocal8Bit(articlePath));
    if (!f.open(QIODevice::ReadOnly))
        return 1;
    QByteArray article = f.readAll();

    // What the client keeps, cut as it cuts them: 16 KiB reads, lines left in
    // the read's storage.
    QList<QByteArray> lines;
    {
        Nntp::LineCutter cutter;
        Nntp::LineSinks sinks;
        sinks.body = &lines;
        for (qsizetype at = 0; at < article.size(); at += 16384)
            cutter.Feed(article.mid(at, 16384), Nntp::RouteBody, sinks);
    }
    // The same as lines of their own (tests, the joining of other encodings).
    QList<QByteArray> ownLines;
    for (const QByteArray &l : lines)
        ownLines.append(QByteArray(l.constData(), l.size()));
    const YEncResult check = DecodeYEnc(lines);
    if (check.State != YEncResult::Part || check.Data.size() != 768000) {
        std::fprintf(stderr, "our decoder disagrees: %s\n", check.Error.constData());
        return 1;
    }
    const double sabRate = double(articleBytes) / sabSeconds;
    std::printf("article: %lld encoded bytes, 768000 decoded\n", articleBytes);
    std::printf("%-44s %7.2f GB/s\n", (QByteArray("sabyenc3.decode_usenet_chunks (") + simd + ")").constData(),
                sabRate / 1e9);

    const auto report = [&](const char *what, double seconds) {
        const double rate = double(articleBytes) / seconds;
        std::printf("%-44s %7.2f GB/s  ratio to sabyenc %.2f\n", what, rate / 1e9, rate / sabRate);
    };
    report("DecodeYEnc, client's lines, checks, CRC-32",
           bestSeconds(rounds, [&] { sink = DecodeYEnc(lines).Crc; }));
    report("DecodeYEnc, lines of their own, same",
           bestSeconds(rounds, [&] { sink = DecodeYEnc(ownLines).Crc; }));

    QByteArray out(article.size() + qsizetype(YEncKernelSlack), '\0');
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    for (YEncPath path : {YEncPath::Avx2, YEncPath::Ssse3, YEncPath::Sse2, YEncPath::Scalar}) {
        const QByteArray what = QByteArray("inner loop line by line, CRC-32: ") + YEncPathName(path);
        report(what.constData(), bestSeconds(rounds, [&] {
                   std::size_t n = 0;
                   for (qsizetype i = 2; i + 1 < ownLines.size(); ++i) {
                       bool esc = false;
                       const QByteArray &l = ownLines.at(i);
                       n += YEncDecodeWith(path, reinterpret_cast<const unsigned char *>(l.constData()),
                                           std::size_t(l.size()), o + n, esc);
                   }
                   sink = Crc32Update(0, o, n);
               }));
    }
    const qsizetype from = article.indexOf("\n=ypart") + 1;
    const qsizetype begin = article.indexOf('\n', from) + 1;
    const qsizetype end = article.indexOf("\r\n=yend");
    report("inner loop, body as received, CRC-32", bestSeconds(rounds, [&] {
               bool esc = false;
               const std::size_t n = YEncDecodeKernel(
                   reinterpret_cast<const unsigned char *>(article.constData()) + begin, std::size_t(end - begin), o,
                   esc);
               sink = Crc32Update(0, o, n);
           }));
    std::printf("run-time choice on this machine: %s\n", YEncPathName(YEncBestPath()));
    return 0;
}
