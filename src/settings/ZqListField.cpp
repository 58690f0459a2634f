#include "ZqListField.h"

QByteArray GetField(const QByteArray &line, int index, char separator)
{
    if (index < 1 || line.isEmpty())
        return {};
    qsizetype start = 0;
    int n = 1;
    for (;;) {
        const qsizetype p = line.indexOf(separator, start);
        if (p < 0) {
            // The text after the last separator is closed by the implied one.
            if (n == index && start < line.size())
                return line.mid(start);
            return {};
        }
        if (n == index)
            return line.mid(start, p - start);
        ++n;
        start = p + 1;
    }
}

QList<QByteArray> ReadList(const QByteArray &text, char separator)
{
    QList<QByteArray> out;
    for (int i = 1;; ++i) {
        QByteArray f = GetField(text, i, separator);
        if (f.isEmpty())
            break;
        out.append(f);
    }
    return out;
}

qint32 ToInt32Def(const QByteArray &text, qint32 def)
{
    qsizetype i = 0;
    bool neg = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        neg = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return def;
    qint64 v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return def;
        v = v * 10 + (c - '0');
        if (v > qint64(1) << 31)
            return def;
    }
    if (neg)
        v = -v;
    if (v > INT32_MAX || v < INT32_MIN)
        return def;
    return qint32(v);
}
