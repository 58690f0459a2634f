#include "TestBodies.h"

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
