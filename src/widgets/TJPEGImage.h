#pragma once
#include <QImage>
#include <QSize>
#include <QString>

#include <stdexcept>

// Error text is "JPEG error #<libjpeg message number>" (the J_MESSAGE_CODE of
// jerror.h). A file that cannot be read at all gives JERR_FILE_READ, empty data
// JERR_INPUT_EMPTY, and a picture over MaxPixels JERR_IMAGE_TOO_BIG, as does
// one whose scans pass the bounds of JpegWorkLimit.
class EJPEGError : public std::runtime_error {
public:
    EJPEGError(int code);
    int Code;
};

// A thin layer over libjpeg: reads a JPEG file (baseline or progressive) into a
// 24-bit image; truncated data is decoded as far as it goes. Grayscale and
// CMYK pictures are converted to RGB.
//
// Given a target size, the picture is decoded at 1/2, 1/4 or 1/8 of its size
// when that still covers the target in both directions: libjpeg then skips
// most of the inverse DCT and the colour work, which is what makes previewing
// a multi-megapixel picture in a small pane cheap. Never enlarged.
class TJPEGImage {
public:
    // Pictures declare their size in the header, so a few hostile bytes could
    // ask for gigabytes; anything above this many pixels is refused.
    static constexpr qint64 MaxPixels = 64ll * 1024 * 1024;

    // An empty target (either side 0 or less) means full size. Throw EJPEGError.
    void LoadFromFile(const QString &path, QSize target = QSize());
    void LoadFromData(const QByteArray &data, QSize target = QSize());
    const QImage &Bitmap() const { return bitmap_; }
    // The picture's size as stored, whatever scale Bitmap() was decoded at.
    QSize FullSize() const { return fullSize_; }

    // The largest of 8, 4, 2 for which ceil(full / d) still covers target in
    // both directions, else 1.
    static int ScaleDenominator(QSize full, QSize target);

private:
    QImage bitmap_;
    QSize fullSize_;
};
