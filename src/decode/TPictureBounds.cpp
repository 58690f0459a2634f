#include "TPictureBounds.h"

#include "JpegWorkLimit.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

std::uint32_t le(const QByteArray &d, qsizetype at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | uchar(d[at + i]);
    return v;
}

std::uint32_t be(const QByteArray &d, qsizetype at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | uchar(d[at + i]);
    return v;
}

QSize sizeOf(std::int64_t width, std::int64_t height)
{
    // QSize holds ints: anything larger is past every bound anyway.
    const auto clamp = [](std::int64_t v) { return int(std::min<std::int64_t>(v, 1 << 30)); };
    return width > 0 && height > 0 ? QSize(clamp(width), clamp(height)) : QSize();
}

QSize webpSize(const QByteArray &d)
{
    if (d.size() < 30)
        return {};
    const QByteArray chunk = d.mid(12, 4);
    if (chunk == "VP8X")
        return sizeOf(std::int64_t(le(d, 24, 3)) + 1, std::int64_t(le(d, 27, 3)) + 1);
    if (chunk == "VP8 " && uchar(d[23]) == 0x9D && uchar(d[24]) == 0x01 && uchar(d[25]) == 0x2A)
        return sizeOf(le(d, 26, 2) & 0x3FFF, le(d, 28, 2) & 0x3FFF);
    if (chunk == "VP8L" && uchar(d[20]) == 0x2F) {
        const std::uint32_t bits = le(d, 21, 4);
        return sizeOf((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
    }
    return {};
}

// Width and length from the first directory; each a SHORT or a LONG.
QSize tiffSize(const QByteArray &d)
{
    const bool little = d[0] == 'I';
    const auto get = [&](qsizetype at, int bytes) { return little ? le(d, at, bytes) : be(d, at, bytes); };
    const qsizetype ifd = qsizetype(get(4, 4));
    if (ifd < 8 || ifd + 2 > d.size())
        return {};
    const int entries = int(get(ifd, 2));
    std::int64_t width = 0, height = 0;
    for (int i = 0; i < entries; ++i) {
        const qsizetype at = ifd + 2 + 12 * qsizetype(i);
        if (at + 12 > d.size())
            return {};
        const std::uint32_t tag = get(at, 2), type = get(at + 2, 2);
        if (tag != 256 && tag != 257)
            continue;
        const std::int64_t value = type == 3 ? get(at + 8, 2) : type == 4 ? get(at + 8, 4) : 0;
        (tag == 256 ? width : height) = value;
    }
    return sizeOf(width, height);
}

} // namespace

QSize TPictureBounds::DeclaredSize(const QByteArray &d)
{
    if (d.startsWith("\x89PNG\r\n\x1a\n") && d.size() >= 24 && d.mid(12, 4) == "IHDR")
        return sizeOf(be(d, 16, 4), be(d, 20, 4));
    if ((d.startsWith("GIF87a") || d.startsWith("GIF89a")) && d.size() >= 10)
        return sizeOf(le(d, 6, 2), le(d, 8, 2));
    if (d.startsWith("BM") && d.size() >= 26) {
        const std::uint32_t header = le(d, 14, 4);
        if (header != 12 && header != 40 && header != 52 && header != 56 && header != 108 && header != 124)
            return {};
        if (header == 12) // the old OS/2 header
            return sizeOf(le(d, 18, 2), le(d, 20, 2));
        // A negative height is a picture stored top down.
        return sizeOf(std::int32_t(le(d, 18, 4)), std::abs(std::int64_t(std::int32_t(le(d, 22, 4)))));
    }
    if (d.startsWith("RIFF") && d.mid(8, 4) == "WEBP")
        return webpSize(d);
    if ((d.startsWith(QByteArrayLiteral("II*\0")) || d.startsWith(QByteArrayLiteral("MM\0*"))) && d.size() >= 8)
        return tiffSize(d);
    return {};
}

QByteArray TPictureBounds::Refusal(const QByteArray &data)
{
    if (const JpegWorkLimit::Reason r = JpegWorkLimit::Of(data); r != JpegWorkLimit::Within)
        return JpegWorkLimit::Line(r);
    const QSize s = DeclaredSize(data);
    if (s.isValid() && qint64(s.width()) * s.height() > MaxPixels)
        return "The picture was not previewed: it has more than " + QByteArray::number(MaxPixels) + " pixels.";
    return {};
}
