#include "CostlyPictures.h"
#include "JpegWorkLimit.h"
#include "TJPEGImage.h"
#include "TPictureBounds.h"
#include "TPictureReader.h"
#include "TThumbnailStrip.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QToolButton>

#include <jerror.h>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The mean colour of the top left quarter, as one number per channel.
QList<int> topLeftMean(const QImage &image)
{
    long r = 0, g = 0, b = 0, n = 0;
    for (int y = 0; y < image.height() / 2; ++y)
        for (int x = 0; x < image.width() / 2; ++x, ++n) {
            const QColor c = image.pixelColor(x, y);
            r += c.red();
            g += c.green();
            b += c.blue();
        }
    return {int(r / n), int(g / n), int(b / n)};
}

} // namespace

// Every format is shown in the preview, decoded no larger than the pane
// needs, and gets a thumbnail of its own; a file that is no picture gets
// neither.
TEST(PictureReader, EveryFormatIsPreviewedAtTheSizeShownAndGivenAThumbnail)
{
    const QString dir = QStringLiteral(PIXTRAWL_TEST_DATA "/similar/");
    TThumbnailStrip strip;
    const qint64 fileIcon = [&] {
        strip.AddPicture(QStringLiteral(PIXTRAWL_TESTS_DIR "/CMakeLists.txt"));
        strip.Thumb(0)->grab();
        return strip.Thumb(0)->icon().cacheKey();
    }();
    QImage png;
    QSize pngSize;
    ASSERT_TRUE(TPictureReader::ReadFile(dir + "formats/coffee.png", QSize(), &png, &pngSize));
    const QList<int> reference = topLeftMean(png);
    for (const char *name : {"coffee.jpg", "formats/coffee.png", "formats/coffee.gif", "formats/coffee.webp",
                             "formats/coffee.bmp", "formats/coffee.tif"}) {
        SCOPED_TRACE(name);
        const QString path = dir + QLatin1String(name);
        QImage image;
        QSize full;
        ASSERT_TRUE(TPictureReader::Read(readAll(path), QSize(30, 20), &image, &full));
        EXPECT_EQ(full, QString(name).startsWith("formats") ? QSize(120, 80) : QSize(240, 160));
        EXPECT_LE(image.width(), 60);
        EXPECT_GE(image.width(), 30);
        // The picture itself; for the GIF its first frame (the second is
        // the picture upside down).
        const QList<int> mean = topLeftMean(image);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(mean[c], reference[c], 12);

        strip.AddPicture(path);
        strip.Thumb(0)->grab();
        EXPECT_NE(strip.Thumb(0)->icon().cacheKey(), fileIcon);
    }
    QImage untouched(3, 3, QImage::Format_RGB32);
    QSize full;
    EXPECT_FALSE(TPictureReader::Read("not a picture at all", QSize(30, 20), &untouched, &full));
    EXPECT_EQ(untouched.size(), QSize(3, 3));
}

// A progressive picture with a scan (its colour's means refined) 5000 times is
// refused by the preview's and the thumbnail's decode at the scan bound,
// not read to its end; an animation of 3000 frames is shown by its first.
// Formats other than those named never reach Qt's readers, nor pictures
// larger than they decode in bounded time.
TEST(PictureReader, CostlyPicturesAreReadOnlyAsFarAsTheBounds)
{
    const QString dir = QStringLiteral(PIXTRAWL_TEST_DATA "/similar/");
    const QByteArray scans = RepeatedScan(Progressive(readAll(dir + "chelsea.jpg")), 6, 5000);
    ASSERT_EQ(JpegWorkLimit::Of(scans), JpegWorkLimit::TooManyScans);
    const QByteArray frames = RepeatedFirstFrame(readAll(dir + "formats/coffee.gif"), 3000);
    QByteArray icon;
    {
        QBuffer buffer(&icon);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "ico");
        ASSERT_TRUE(writer.write(QImage(dir + "formats/coffee.png").scaled(64, 64)));
    }

    try {
        TJPEGImage().LoadFromData(scans, QSize(30, 20));
        ADD_FAILURE() << "decoded";
    } catch (const EJPEGError &e) {
        EXPECT_EQ(e.Code, JERR_IMAGE_TOO_BIG);
    }
    QImage image;
    QSize full;
    EXPECT_FALSE(TPictureReader::Read(scans, QSize(30, 20), &image, &full));
    EXPECT_FALSE(TPictureReader::Read(icon, QSize(30, 20), &image, &full));
    // A few kilobytes of one colour that Qt would decode pixel by pixel.
    QByteArray plain;
    {
        QBuffer buffer(&plain);
        buffer.open(QIODevice::WriteOnly);
        QImage grey(5200, 5200, QImage::Format_Grayscale8);
        grey.fill(128);
        ASSERT_GT(qint64(grey.width()) * grey.height(), TPictureBounds::MaxPixels);
        ASSERT_TRUE(grey.save(&buffer, "png"));
    }
    EXPECT_FALSE(TPictureReader::Read(plain, QSize(30, 20), &image, &full));
    EXPECT_FALSE(TPictureBounds::Refusal(plain).isEmpty());
    ASSERT_TRUE(TPictureReader::Read(frames, QSize(30, 20), &image, &full));
    QImage first;
    ASSERT_TRUE(TPictureReader::Read(readAll(dir + "formats/coffee.gif"), QSize(30, 20), &first, &full));
    EXPECT_EQ(image, first);

    QTemporaryDir files;
    TThumbnailStrip strip;
    for (const auto &[name, data] : {std::pair{"scans.jpg", scans}, std::pair{"frames.gif", frames}}) {
        QFile f(files.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        f.close();
        strip.AddPicture(f.fileName());
        strip.Thumb(0)->grab();
    }
    const qint64 fileIcon = strip.Thumb(1)->icon().cacheKey();
    strip.AddPicture(QStringLiteral(PIXTRAWL_TESTS_DIR "/CMakeLists.txt"));
    strip.Thumb(0)->grab();
    EXPECT_EQ(strip.Thumb(0)->icon().cacheKey(), fileIcon); // scans.jpg: the file icon
    EXPECT_NE(strip.Thumb(1)->icon().cacheKey(), fileIcon); // frames.gif: its picture
}

// The size the headers declare, by which a picture too large for Qt's
// readers is logged, is the size those readers see, in every encoding
// Qt writes (and GIF, which it only reads).
TEST(PictureReader, DeclaredSizeIsTheSizeQtReads)
{
    QImage opaque(123, 45, QImage::Format_RGB32), clear(123, 45, QImage::Format_ARGB32);
    opaque.fill(Qt::darkCyan);
    clear.fill(QColor(0, 128, 255, 100));
    struct Encoding {
        const char *format;
        const QImage &image;
        int quality;
    };
    const Encoding encodings[] = {{"png", opaque, -1},  {"bmp", opaque, -1},  {"tiff", opaque, -1},
                                  {"tiff", clear, -1},  {"webp", opaque, 80}, {"webp", opaque, 100},
                                  {"webp", clear, 80}};
    QList<QByteArray> files{readAll(QStringLiteral(PIXTRAWL_TEST_DATA "/similar/formats/coffee.gif"))};
    for (const Encoding &e : encodings) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, e.format);
        writer.setQuality(e.quality);
        ASSERT_TRUE(writer.write(e.image)) << e.format;
        files << buffer.data();
    }
    for (const QByteArray &data : files) {
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        SCOPED_TRACE(reader.format().toStdString() + " " + data.left(16).toHex().toStdString());
        ASSERT_TRUE(reader.size().isValid());
        EXPECT_EQ(TPictureBounds::DeclaredSize(data), reader.size());
        EXPECT_TRUE(TPictureBounds::Refusal(data).isEmpty());
    }
    EXPECT_FALSE(TPictureBounds::DeclaredSize("BM not a bitmap at all, just text").isValid());
}
