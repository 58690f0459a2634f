// Decoding throughput of a 1 MiB file, in bytes of encoded input per second:
// uuencode (61-character lines) and MIME Base64 (76-character lines) through
// DecodeAttachment, against QByteArray::fromBase64 and memcpy on the same text.
#include "Decode.h"

#include <QByteArray>
#include <QList>

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <stdexcept>

namespace {

using Lines = QList<QByteArray>;

const QByteArray &payload()
{
    static const QByteArray data = [] {
        QByteArray b(1 << 20, '\0');
        std::mt19937 rng(42);
        for (auto &c : b)
            c = static_cast<char>(rng());
        return b;
    }();
    return data;
}

Lines uuBody()
{
    const QByteArray &data = payload();
    const auto ch = [](unsigned v) { return v ? char(0x20 + v) : '`'; };
    Lines lines{"begin 644 bench.bin"};
    for (qsizetype pos = 0; pos < data.size(); pos += 45) {
        const qsizetype n = std::min<qsizetype>(45, data.size() - pos);
        QByteArray line(1, ch(unsigned(n)));
        for (qsizetype i = 0; i < n; i += 3) {
            const auto at = [&](qsizetype k) { return k < n ? uchar(data[pos + k]) : 0u; };
            const unsigned v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
            for (int s = 18; s >= 0; s -= 6)
                line.append(ch((v >> s) & 63));
        }
        lines.append(line);
    }
    lines += {"`", "end"};
    return lines;
}

Lines mimeBody()
{
    Lines lines{"--b", "Content-Type: application/octet-stream; name=\"bench.bin\"",
                "Content-Transfer-Encoding: base64", ""};
    const QByteArray text = payload().toBase64();
    for (qsizetype pos = 0; pos < text.size(); pos += 76)
        lines.append(text.mid(pos, 76));
    lines += {"", "--b--"};
    return lines;
}

struct Input {
    Lines lines;
    QByteArray text; // the same body as one block, lines ended by LF
};

Input makeInput(bool mime)
{
    Input in;
    in.lines = mime ? mimeBody() : uuBody();
    in.text = in.lines.join('\n') + '\n';
    // Same answers or the comparison is meaningless.
    Lines copy = in.lines;
    QByteArray stream, name;
    if (DecodeAttachment(copy, stream, name) != DecodeComplete || stream != payload())
        throw std::runtime_error("decoder disagrees with the encoder");
    if (mime && QByteArray::fromBase64(in.lines.mid(4, in.lines.size() - 6).join('\n')) != payload())
        throw std::runtime_error("fromBase64 disagrees with the encoder");
    return in;
}

const Input &input(bool mime)
{
    static const Input uu = makeInput(false);
    static const Input b64 = makeInput(true);
    return mime ? b64 : uu;
}

void decodeBody(benchmark::State &state, bool mime)
{
    const Input &in = input(mime);
    QByteArray stream, name;
    stream.reserve(payload().size() + 64);
    for (auto _ : state) {
        Lines lines = in.lines; // the decoder edits its list
        benchmark::DoNotOptimize(DecodeAttachment(lines, stream, name));
        benchmark::DoNotOptimize(stream.constData());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * in.text.size());
}

void BM_DecodeUuencode(benchmark::State &state) { decodeBody(state, false); }
void BM_DecodeMimeBase64(benchmark::State &state) { decodeBody(state, true); }

void BM_QtFromBase64(benchmark::State &state)
{
    const Input &in = input(true);
    for (auto _ : state)
        benchmark::DoNotOptimize(QByteArray::fromBase64(in.text));
    state.SetBytesProcessed(int64_t(state.iterations()) * in.text.size());
}

void BM_Memcpy(benchmark::State &state)
{
    const Input &in = input(true);
    QByteArray dst(in.text.size(), '\0');
    for (auto _ : state) {
        std::memcpy(dst.data(), in.text.constData(), size_t(in.text.size()));
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * in.text.size());
}

} // namespace

BENCHMARK(BM_DecodeUuencode);
BENCHMARK(BM_DecodeMimeBase64);
BENCHMARK(BM_QtFromBase64);
BENCHMARK(BM_Memcpy);
