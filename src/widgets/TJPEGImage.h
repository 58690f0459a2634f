#pragma once
#include <QImage>
#include <QString>

#include <stdexcept>

// Error text is "JPEG error #<libjpeg message number>" (the J_MESSAGE_CODE of
// jerror.h). A file that cannot be read at all gives JERR_FILE_READ, empty data
// JERR_INPUT_EMPTY, and a picture over MaxPixels JERR_IMAGE_TOO_BIG.
class EJPEGError : public std::runtime_error {
public:
    EJPEGError(int code);
    int Code;
};

// A thin layer over libjpeg: reads a JPEG file (baseline or progressive) into a
// 24-bit image; truncated data is decoded as far as it goes. Grayscale and
// CMYK pictures are converted to RGB.
class TJPEGImage {
public:
    // Pictures declare their size in the header, so a few hostile bytes could
    // ask for gigabytes; anything above this many pixels is refused.
    static constexpr qint64 MaxPixels = 64ll * 1024 * 1024;

    void LoadFromFile(const QString &path);      // throws EJPEGError
    void LoadFromData(const QByteArray &data);   // throws EJPEGError
    const QImage &Bitmap() const { return bitmap_; }

private:
    QImage bitmap_;
};
