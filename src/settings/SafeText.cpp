#include "SafeText.h"

#include <QChar>

namespace {

// The code point at p and the bytes it takes; 0 bytes when p does not start
// a well-formed UTF-8 sequence.
struct Decoded {
    char32_t c = 0;
    int bytes = 0;
};

Decoded decodeAt(const unsigned char *p, qsizetype left)
{
    const unsigned char b = p[0];
    if (b < 0x80)
        return {b, 1};
    int n = 0;
    char32_t c = 0, least = 0;
    if ((b & 0xE0) == 0xC0) {
        n = 2, c = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, c = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4, c = b & 0x07, least = 0x10000;
    } else {
        return {};
    }
    if (left < n)
        return {};
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return {};
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return {};
    return {c, n};
}

// Each code point of bytes, or 0xFFFFFFFF for a byte that is not UTF-8.
template <typename F>
void forEachCodePoint(const QByteArray &bytes, F f)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        const Decoded d = decodeAt(p + i, size - i);
        if (d.bytes == 0) {
            f(char32_t(0xFFFFFFFF), QByteArrayView(bytes.constData() + i, 1));
            ++i;
        } else {
            f(d.c, QByteArrayView(bytes.constData() + i, d.bytes));
            i += d.bytes;
        }
    }
}

constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

void appendShown(QString &out, char32_t c)
{
    if (c < 0x20)
        out += QChar(char16_t(0x2400 + c));
    else if (c == 0x7F)
        out += QChar(char16_t(0x2421));
    else if (c == kNotUtf8 || SafeText::Unsafe(c))
        out += QChar(QChar::ReplacementCharacter);
    else
        out += QString::fromUcs4(&c, 1);
}

} // namespace

bool SafeText::Unsafe(char32_t c)
{
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        return true;
    if (c < 0xA0 || c == 0x200C || c == 0x200D)
        return false;
    switch (QChar::category(c)) {
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:
        return true;
    default:
        return c > 0x10FFFF;
    }
}

QString SafeText::Shown(const QByteArray &utf8)
{
    QString out;
    out.reserve(utf8.size());
    forEachCodePoint(utf8, [&](char32_t c, QByteArrayView) { appendShown(out, c); });
    return out;
}

QString SafeText::Shown(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = text[i];
        char32_t c = ch.unicode();
        if (ch.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(ch, text[++i]);
        appendShown(out, c); // a lone surrogate is Other_Surrogate: unsafe
    }
    return out;
}

QByteArray SafeText::ForFileName(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    forEachCodePoint(bytes, [&](char32_t c, QByteArrayView raw) {
        if (c == kNotUtf8 || Unsafe(c))
            out += '_';
        else
            out += raw;
    });
    return out;
}
