// DecodeYEnc on arbitrary bodies, every kernel path against the byte loop,
// and files cut into parts by the input, encoded by an encoder of our own,
// some damaged, fed to the parts store in the input's order: a file comes
// out whole only with its own bytes and CRC, and nothing lands outside the
// declared size.
#include "TPartsStore.h"
#include "YEnc.h"
#include "YEncKernel.h"

#include "FuzzCheck.h"

#include <QByteArray>
#include <QList>
#include <QTemporaryDir>

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using Lines = QList<QByteArray>;


std::uint32_t zip(const QByteArray &d)
{
    return std::uint32_t(crc32(0, reinterpret_cast<const Bytef *>(d.constData()), uInt(d.size())));
}

QByteArray hex(std::uint32_t v) { return QByteArray::number(v, 16); }

Lines encode(const QByteArray &data, int lineLength)
{
    Lines out;
    QByteArray line;
    for (char b : data) {
        const char c = char(uchar(b) + 42);
        if (c == '\0' || c == '\n' || c == '\r' || c == '=' || (line.isEmpty() && (c == ' ' || c == '.'))) {
            line += '=';
            line += char(c + 64);
        } else {
            line += c;
        }
        if (line.size() >= lineLength) {
            out.append(line);
            line.clear();
        }
    }
    if (!line.isEmpty())
        out.append(line);
    return out;
}

void arbitrary(const QByteArray &input)
{
    const Lines lines = input.split('\n');
    const YEncResult r = DecodeYEnc(lines);
    check(r.Data.size() <= input.size(), "output larger than input");
    if (r.State == YEncResult::Damaged) {
        check(!r.Error.isEmpty(), "damaged without a reason");
        return;
    }
    check(r.Crc == zip(r.Data), "CRC of the data");
    check(r.Begin >= 1 && r.End <= r.FileSize && r.End - r.Begin + 1 == r.Data.size(), "range");
    check(r.State != YEncResult::Whole || r.Data.size() == r.FileSize, "whole size");

    // The same lines side by side as the news client leaves them decode alike
    // (only a bare zero inside a line, which the encoding never writes, may
    // be taken as a line end there).
    QByteArray storage;
    for (const QByteArray &l : lines)
        storage += l + QByteArray("\0\n", 2);
    Lines client;
    qsizetype at = 0;
    for (const QByteArray &l : lines) {
        client.append(QByteArray::fromRawData(storage.constData() + at, l.size()));
        at += l.size() + 2;
    }
    const YEncResult c = DecodeYEnc(client);
    check((c.State == r.State && c.Data == r.Data) || input.contains('\0'), "lines side by side");
}

void paths(const QByteArray &input)
{
    const auto *in = reinterpret_cast<const unsigned char *>(input.constData());
    QByteArray want(input.size() + qsizetype(YEncKernelSlack), '\0');
    bool e0 = false;
    const std::size_t n0 = YEncDecodeWith(YEncPath::Scalar, in, std::size_t(input.size()),
                                          reinterpret_cast<unsigned char *>(want.data()), e0);
    want.truncate(qsizetype(n0));
    for (YEncPath p : {YEncPath::Sse2, YEncPath::Ssse3, YEncPath::Avx2}) {
        QByteArray got(input.size() + qsizetype(YEncKernelSlack), '\0');
        bool e = false;
        const std::size_t n = YEncDecodeWith(p, in, std::size_t(input.size()),
                                             reinterpret_cast<unsigned char *>(got.data()), e);
        got.truncate(qsizetype(n));
        check(got == want && e == e0, "a vector path differs from the byte loop");
    }
}

void assembly(uint8_t flags, const QByteArray &control, const QByteArray &data)
{
    static QTemporaryDir dir;
    if (data.isEmpty() || control.isEmpty())
        return;
    TPartsStore store;
    check(store.Open(dir.path()), "open");
    // Each control byte cuts one part; the parts go in a rotated order.
    QList<std::pair<qsizetype, qsizetype>> parts;
    qsizetype at = 0;
    for (qsizetype i = 0; i < control.size() && at < data.size(); ++i) {
        const qsizetype len = std::min<qsizetype>(data.size() - at, 1 + uchar(control[i]) * 7);
        parts.append({at + 1, len});
        at += len;
    }
    if (at < data.size())
        parts.append({at + 1, data.size() - at});
    const int total = int(parts.size());
    const QByteArray name = "f" + QByteArray::number(flags) + ".bin";
    const qsizetype rot = flags % total;
    const int damaged = flags & 0x80 ? int(flags % total) : -1;
    bool completed = false;
    for (int k = 0; k < total; ++k) {
        const int idx = int((k + rot) % total);
        const auto [begin, len] = parts[idx];
        const QByteArray chunk = data.mid(begin - 1, len);
        Lines body{"=ybegin part=" + QByteArray::number(idx + 1) + " total=" + QByteArray::number(total)
                       + " line=64 size=" + QByteArray::number(data.size()) + " name=" + name,
                   "=ypart begin=" + QByteArray::number(begin) + " end=" + QByteArray::number(begin + len - 1)};
        body += encode(chunk, 32 + (flags & 63));
        body.append("=yend size=" + QByteArray::number(len) + " part=" + QByteArray::number(idx + 1) + " pcrc32="
                    + hex(zip(chunk)) + " crc32=" + hex(zip(data)));
        if (idx == damaged) {
            QByteArray &l = body[2];
            l[l.size() - 1] = char(l[l.size() - 1] == 'a' ? 'b' : 'a');
        }
        const YEncResult r = DecodeYEnc(body);
        if (idx == damaged) {
            check(r.State == YEncResult::Damaged || r.Data == chunk, "damaged part passed its checks");
            continue;
        }
        check(r.State != YEncResult::Damaged && r.Data == chunk, "round trip of a part");
        const TPartsStore::AddResult a =
            store.AddPart(r.Name, r.FileSize, r.Begin, r.Data, r.Crc, r.HasFileCrc, r.FileCrc, 1);
        check(a != TPartsStore::Failed && a != TPartsStore::Conflict, "part refused");
        if (a == TPartsStore::Completed) {
            QByteArray whole;
            std::uint32_t crc = 0, fileCrc = 0;
            bool hasFileCrc = false;
            check(store.TakeFile(name, data.size(), whole, crc, hasFileCrc, fileCrc), "take");
            check(whole == data && crc == zip(data) && hasFileCrc && fileCrc == crc, "assembled file");
            completed = true;
        }
    }
    check(completed == (damaged < 0), "completion");
    check(store.StoredBytes() <= data.size(), "bytes beyond the declared size");
    // Leave nothing for the next input.
    store.Prune(1, -1, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 4)
        return 0;
    const QByteArray all(reinterpret_cast<const char *>(bytes), qsizetype(size));
    switch (bytes[0] % 3) {
    case 0:
        arbitrary(all.mid(1));
        break;
    case 1:
        paths(all.mid(1));
        break;
    default: {
        const qsizetype n = 1 + bytes[2] % 16;
        assembly(bytes[1], all.mid(3, n), all.mid(3 + n));
        break;
    }
    }
    return 0;
}
