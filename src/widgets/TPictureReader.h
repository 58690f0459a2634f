#pragma once
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <vector>

// Any picture the preview and the thumbnails show, decoded no larger than
// it is shown: JPEG through libjpeg's scaled decode, PNG, GIF (its first
// frame), WebP, BMP and TIFF through Qt's image readers with a scaled size.
class TPictureReader {
public:
    // An empty target means full size. False, and *image untouched, when the
    // data is no picture either can read or one past TPictureBounds (for
    // JPEG, TJPEGImage's too); *fullSize is the size as stored.
    static bool Read(const QByteArray &data, QSize target, QImage *image, QSize *fullSize);
    static bool ReadFile(const QString &path, QSize target, QImage *image, QSize *fullSize);

    // For the fingerprint of pictures other than JPEG: RGB, 3 bytes a pixel,
    // shrunk so that its shorter side is about minSide.
    static bool ReadReducedRgb(const QByteArray &data, int minSide, std::vector<std::uint8_t> &rgb, int &width,
                               int &height);
};
