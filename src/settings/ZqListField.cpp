#include "ZqListField.h"

#include <cstdint>

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

namespace {
// Decimal with optional sign, accumulated as a magnitude so that -2^63 fits.
bool ParseInt64(const QByteArray &text, qint64 &out)
{
    qsizetype i = 0;
    bool neg = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        neg = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    quint64 v = 0;
    const quint64 limit = neg ? quint64(INT64_MAX) + 1 : quint64(INT64_MAX);
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        const quint64 digit = quint64(c - '0');
        if (v > (limit - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    out = neg ? qint64(0 - v) : qint64(v);
    return true;
}
} // namespace

qint32 ToInt32Def(const QByteArray &text, qint32 def)
{
    qint64 v = 0;
    if (!ParseInt64(text, v) || v > INT32_MAX || v < INT32_MIN)
        return def;
    return qint32(v);
}

qint64 ToInt64Def(const QByteArray &text, qint64 def)
{
    qint64 v = 0;
    return ParseInt64(text, v) ? v : def;
}

bool ReadYesNo(const QByteArray &value)
{
    const QByteArray v = value.trimmed().toLower();
    return v == "yes" || v == "y" || v == "true" || v == "1";
}
