#include "TestBodies.h"

#include "SpawnTool.h"

#include <gtest/gtest.h>

QList<QByteArray> UuencodeData(const QByteArray &data)
{
    auto ch = [](int v) { return char(v == 0 ? '`' : v + 0x20); };
    QList<QByteArray> lines;
    for (qsizetype at = 0; at < data.size(); at += 45) {
        const QByteArray chunk = data.mid(at, 45);
        QByteArray line(1, ch(int(chunk.size())));
        for (qsizetype i = 0; i < chunk.size(); i += 3) {
            const int a = quint8(chunk[i]);
            const int b = i + 1 < chunk.size() ? quint8(chunk[i + 1]) : 0;
            const int c = i + 2 < chunk.size() ? quint8(chunk[i + 2]) : 0;
            line += ch(a >> 2);
            line += ch(((a & 3) << 4) | (b >> 4));
            line += ch(((b & 15) << 2) | (c >> 6));
            line += ch(c & 63);
        }
        lines.append(line);
    }
    return lines;
}

QList<QByteArray> UuencodeFile(const QByteArray &name, const QByteArray &data)
{
    return QList<QByteArray>{"begin 644 " + name} + UuencodeData(data) + QList<QByteArray>{"`", "end"};
}

QByteArray Noise(int size, quint32 seed)
{
    QByteArray out(size, '\0');
    for (char &ch : out) {
        seed = seed * 1664525u + 1013904223u;
        ch = char(seed >> 24);
    }
    return out;
}

QByteArray FixtureBytes(int size, quint32 seed)
{
    quint32 x = seed ? seed : 1;
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x & 0xFF);
    }
    return out;
}

QList<QByteArray> YEncData(const QByteArray &data, int lineLength)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = char(quint8(data[i]) + 42);
        const bool edge = line.isEmpty() || i + 1 == data.size() || line.size() + 1 >= lineLength;
        if (c == '\0' || c == '\n' || c == '\r' || c == '=' || (edge && (c == '\t' || c == ' '))
            || (line.isEmpty() && c == '.')) {
            line += '=';
            line += char(c + 64);
        } else {
            line += c;
        }
        if (line.size() >= lineLength) {
            lines.append(line);
            line.clear();
        }
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}

quint32 ZipCrc(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

namespace {
QByteArray hex8(quint32 v) { return QByteArray::number(v, 16).rightJustified(8, '0'); }
} // namespace

QList<QByteArray> YEncFile(const QByteArray &name, const QByteArray &fileData)
{
    return QList<QByteArray>{"=ybegin line=128 size=" + QByteArray::number(fileData.size()) + " name=" + name}
        + YEncData(fileData)
        + QList<QByteArray>{"=yend size=" + QByteArray::number(fileData.size()) + " crc32=" + hex8(ZipCrc(fileData))};
}

QList<QByteArray> YEncPart(const QByteArray &name, const QByteArray &fileData, int part, int total,
                           qsizetype begin, qsizetype size)
{
    const QByteArray chunk = fileData.mid(begin - 1, size);
    return QList<QByteArray>{"=ybegin part=" + QByteArray::number(part) + " total=" + QByteArray::number(total)
                             + " line=128 size=" + QByteArray::number(fileData.size()) + " name=" + name,
                             "=ypart begin=" + QByteArray::number(begin) + " end="
                                 + QByteArray::number(begin + chunk.size() - 1)}
        + YEncData(chunk)
        + QList<QByteArray>{"=yend size=" + QByteArray::number(chunk.size()) + " part=" + QByteArray::number(part)
                            + " pcrc32=" + hex8(ZipCrc(chunk)) + " crc32=" + hex8(ZipCrc(fileData))};
}

QByteArray RunTool(const QString &program, const QStringList &args, const QByteArray &input)
{
    const ToolResult run = SpawnTool(program, args, input);
    if (!run.Ok())
        ADD_FAILURE() << program.toStdString() << " failed: " << run.err.toStdString();
    return run.out;
}

QList<QByteArray> BodyLinesOf(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QList<QByteArray> Base64Body(const QByteArray &data, int width)
{
    return BodyLinesOf(RunTool(QStringLiteral("base64"), {QStringLiteral("-w"), QString::number(width)}, data));
}

QByteArray JpegVariant(const QByteArray &jpeg, int extra, quint32 seed)
{
    // COM segment: FF FE, a two-byte length that counts itself.
    const QByteArray text = Noise(extra, seed);
    QByteArray segment("\xFF\xFE", 2);
    segment.append(char((text.size() + 2) >> 8)).append(char((text.size() + 2) & 0xFF)).append(text);
    return jpeg.left(2) + segment + jpeg.mid(2);
}
