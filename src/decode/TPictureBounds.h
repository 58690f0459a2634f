#pragma once
#include <QByteArray>
#include <QSize>

// What the preview, the thumbnails and the fingerprint decline to decode,
// judged by a file's headers alone: a JPEG past JpegWorkLimit's bounds, a
// picture in the other formats shown past MaxPixels. Such a picture is
// still saved; the log says why it is not shown.
class TPictureBounds {
public:
    // Qt's readers decode every pixel whatever size is asked for: a 120 KB
    // WebP of one colour claiming 64 megapixels took a second, 24 M of them
    // 0.3 s.
    static constexpr qint64 MaxPixels = 24ll * 1024 * 1024;

    // The size a PNG, GIF, BMP, WebP or TIFF file declares; invalid for
    // anything else, or a header cut short.
    static QSize DeclaredSize(const QByteArray &data);
    // The log line for a picture past a bound; empty for one within them
    // and for what is no picture.
    static QByteArray Refusal(const QByteArray &data);
};
