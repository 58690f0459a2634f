#include "TPictureReader.h"

#include "TJPEGImage.h"
#include "TPictureBounds.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

namespace {

bool looksLikeJpeg(const QByteArray &data)
{
    return data.size() >= 2 && uchar(data[0]) == 0xFF && uchar(data[1]) == 0xD8;
}

// The size a reader is asked for: the smallest that still covers target in
// both directions, never more than the picture itself.
QSize coveringSize(QSize full, QSize target)
{
    if (!full.isValid() || target.width() <= 0 || target.height() <= 0)
        return full;
    const QSize s = full.scaled(target, Qt::KeepAspectRatioByExpanding);
    return s.width() >= full.width() ? full : s.expandedTo(QSize(1, 1));
}

bool readWithQt(const QByteArray &data, QSize target, QImage *image, QSize *fullSize)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // Only the formats named above: the other plugins (MNG animations, icon
    // files of many images, TGA without a signature) would be handed hostile
    // bytes for pictures nobody posts. Each reads one image, the first frame
    // or page, however many the file holds.
    static const QList<QByteArray> formats{"png", "gif", "webp", "bmp", "tiff"};
    if (!formats.contains(reader.format()))
        return false;
    const QSize full = reader.size();
    if (!full.isValid() || qint64(full.width()) * full.height() > TPictureBounds::MaxPixels)
        return false;
    // Qt's own cap on one image's memory: eight bytes a pixel, for 16-bit
    // PNGs, of the largest picture taken.
    reader.setAllocationLimit(int(TPictureBounds::MaxPixels * 8 / (1024 * 1024)));
    reader.setScaledSize(coveringSize(full, target));
    QImage img = reader.read();
    if (img.isNull())
        return false;
    *image = std::move(img);
    *fullSize = full;
    return true;
}

} // namespace

bool TPictureReader::Read(const QByteArray &data, QSize target, QImage *image, QSize *fullSize)
{
    if (looksLikeJpeg(data)) {
        // Refused by its markers before libjpeg spends up to the bound on it:
        // a picture still arriving is offered again and again.
        if (!TPictureBounds::Refusal(data).isEmpty())
            return false;
        try {
            TJPEGImage jpeg;
            jpeg.LoadFromData(data, target);
            *image = jpeg.Bitmap();
            *fullSize = jpeg.FullSize();
            return true;
        } catch (const EJPEGError &) {
            return false;
        }
    }
    return readWithQt(data, target, image, fullSize);
}

bool TPictureReader::ReadFile(const QString &path, QSize target, QImage *image, QSize *fullSize)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && Read(f.readAll(), target, image, fullSize);
}

bool TPictureReader::ReadReducedRgb(const QByteArray &data, int minSide, std::vector<std::uint8_t> &rgb, int &width,
                                    int &height)
{
    QImage img;
    QSize full;
    if (!readWithQt(data, QSize(minSide, minSide), &img, &full))
        return false;
    // Transparency is laid on mid grey: a light overlay and its dark twin
    // both keep their design.
    img = img.convertToFormat(QImage::Format_ARGB32);
    width = img.width();
    height = img.height();
    rgb.resize(size_t(width) * size_t(height) * 3);
    std::uint8_t *out = rgb.data();
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < width; ++x, out += 3) {
            const int a = qAlpha(line[x]);
            out[0] = std::uint8_t((qRed(line[x]) * a + 128 * (255 - a) + 127) / 255);
            out[1] = std::uint8_t((qGreen(line[x]) * a + 128 * (255 - a) + 127) / 255);
            out[2] = std::uint8_t((qBlue(line[x]) * a + 128 * (255 - a) + 127) / 255);
        }
    }
    return true;
}
