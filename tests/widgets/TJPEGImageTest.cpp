#include "TJPEGImage.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include <gtest/gtest.h>

namespace {

QString fixture(const char *name)
{
    return QStringLiteral(PIXTRAWL_TEST_DATA "/jpeg/") + QLatin1String(name);
}

QByteArray readFixture(const char *name)
{
    QFile f(fixture(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

bool near(QColor got, QColor want)
{
    const int tolerance = 40;
    return std::abs(got.red() - want.red()) <= tolerance && std::abs(got.green() - want.green()) <= tolerance
        && std::abs(got.blue() - want.blue()) <= tolerance;
}

// The fixtures are four quadrants: red, green over blue, white.
struct Corners {
    QColor topLeft, topRight, bottomLeft, bottomRight;
};

void expectCorners(const QImage &img, const Corners &c, const char *what)
{
    const int r = img.width() - 6, b = img.height() - 6;
    EXPECT_PRED2(near, img.pixelColor(5, 5), c.topLeft) << what;
    EXPECT_PRED2(near, img.pixelColor(r, 5), c.topRight) << what;
    EXPECT_PRED2(near, img.pixelColor(5, b), c.bottomLeft) << what;
    EXPECT_PRED2(near, img.pixelColor(r, b), c.bottomRight) << what;
}

const Corners colourQuadrants{Qt::red, Qt::green, Qt::blue, Qt::white};

int errorCode(const QByteArray &data)
{
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromData(data);
    } catch (const EJPEGError &e) {
        EXPECT_TRUE(QRegularExpression("^JPEG error #\\d+$").match(QString::fromUtf8(e.what())).hasMatch())
            << e.what();
        EXPECT_EQ(QByteArray(e.what()), "JPEG error #" + QByteArray::number(e.Code));
        return e.Code;
    }
    return 0;
}

// Writes a 32 x 16 CMYK picture, left half red ink, right half blue ink.
QByteArray encodeCmyk(J_COLOR_SPACE stored, bool adobeMarker)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = 32;
    c.image_height = 16;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, stored);
    jpeg_set_quality(&c, 95, TRUE);
    c.write_Adobe_marker = adobeMarker;
    jpeg_start_compress(&c, TRUE);
    // Ink amounts; with the Adobe marker the convention is to store them inverted.
    const unsigned char redInk[4] = {0, 255, 255, 0}, blueInk[4] = {255, 255, 0, 0};
    std::vector<JSAMPLE> row(32 * 4);
    for (int x = 0; x < 32; ++x)
        for (int k = 0; k < 4; ++k) {
            const unsigned char ink = (x < 16 ? redInk : blueInk)[k];
            row[size_t(x * 4 + k)] = adobeMarker ? JSAMPLE(255 - ink) : JSAMPLE(ink);
        }
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray out(reinterpret_cast<const char *>(buf), qsizetype(size));
    std::free(buf);
    return out;
}

} // namespace

TEST(JPEGImage, ReadsBaselineProgressiveAndGrayscaleFiles)
{
    const struct {
        const char *file;
        QSize size;
        Corners corners;
    } cases[] = {
        {"baseline.jpg", {96, 64}, colourQuadrants},
        {"progressive.jpg", {160, 96}, colourQuadrants},
        // Luma of the noisy quadrants, expanded to grey RGB.
        {"grayscale.jpg", {96, 64}, {QColor(88, 88, 88), QColor(149, 149, 149), QColor(40, 40, 40), QColor(236, 236, 236)}},
    };
    for (const auto &c : cases) {
        TJPEGImage jpeg;
        jpeg.LoadFromFile(fixture(c.file));
        const QImage &img = jpeg.Bitmap();
        EXPECT_EQ(img.size(), c.size) << c.file;
        EXPECT_EQ(img.depth(), 24) << c.file;
        expectCorners(img, c.corners, c.file);
    }
}

TEST(JPEGImage, CmykAndYcckAreConvertedToRgb)
{
    const struct {
        J_COLOR_SPACE stored;
        bool adobe;
    } cases[] = {{JCS_CMYK, true}, {JCS_CMYK, false}, {JCS_YCCK, true}};
    for (const auto &c : cases) {
        TJPEGImage jpeg;
        jpeg.LoadFromData(encodeCmyk(c.stored, c.adobe));
        const QImage &img = jpeg.Bitmap();
        ASSERT_EQ(img.size(), QSize(32, 16));
        EXPECT_PRED2(near, img.pixelColor(4, 8), QColor(Qt::red)) << c.stored << c.adobe;
        EXPECT_PRED2(near, img.pixelColor(27, 8), QColor(Qt::blue)) << c.stored << c.adobe;
    }
}

TEST(JPEGImage, TruncatedBaselineDecodesTheRowsThatArrived)
{
    const QByteArray whole = readFixture("baseline.jpg");
    TJPEGImage jpeg;
    ASSERT_NO_THROW(jpeg.LoadFromData(whole.left(whole.size() / 2)));
    const QImage &img = jpeg.Bitmap();
    ASSERT_EQ(img.size(), QSize(96, 64));
    EXPECT_PRED2(near, img.pixelColor(5, 5), QColor(Qt::red));
    EXPECT_PRED2(near, img.pixelColor(90, 5), QColor(Qt::green));
    // The missing rows are not the picture's blue.
    EXPECT_FALSE(near(img.pixelColor(5, 58), QColor(Qt::blue)));
}

TEST(JPEGImage, TruncatedProgressiveShowsTheWholePictureFromEarlyScans)
{
    const QByteArray whole = readFixture("progressive.jpg");
    TJPEGImage jpeg;
    ASSERT_NO_THROW(jpeg.LoadFromData(whole.left(whole.size() / 2)));
    ASSERT_EQ(jpeg.Bitmap().size(), QSize(160, 96));
    expectCorners(jpeg.Bitmap(), colourQuadrants, "half progressive");
}

TEST(JPEGImage, NotAPictureThrowsWithLibjpegsMessageNumber)
{
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const QByteArray soi = readFixture("baseline.jpg").left(2);
    const struct {
        QByteArray data;
        int code;
    } cases[] = {
        {QByteArray(), JERR_INPUT_EMPTY},
        {"hello", JERR_NO_SOI},
        {png, JERR_NO_SOI},
        {soi, JERR_NO_IMAGE}, // just the start marker
    };
    for (const auto &c : cases)
        EXPECT_EQ(errorCode(c.data), c.code) << c.data.toHex().constData();
}

TEST(JPEGImage, HugeDeclaredSizeIsRefusedBeforeAllocating)
{
    QByteArray data = readFixture("baseline.jpg");
    const qsizetype sof = data.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    // Frame header: length (2), precision (1), height (2), width (2).
    data[sof + 5] = char(0x4E), data[sof + 6] = char(0x20); // 20000
    data[sof + 7] = char(0x4E), data[sof + 8] = char(0x20);
    EXPECT_EQ(errorCode(data), JERR_IMAGE_TOO_BIG);
}

TEST(JPEGImage, FailedLoadKeepsThePreviousBitmap)
{
    TJPEGImage jpeg;
    jpeg.LoadFromFile(fixture("baseline.jpg"));
    EXPECT_THROW(jpeg.LoadFromData("hello"), EJPEGError);
    EXPECT_EQ(jpeg.Bitmap().size(), QSize(96, 64));
}

TEST(JPEGImage, MissingFileThrowsFileReadError)
{
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromFile(fixture("no-such-file.jpg"));
        FAIL() << "no error";
    } catch (const EJPEGError &e) {
        EXPECT_EQ(e.Code, JERR_FILE_READ);
    }
}

TEST(JPEGImage, EveryPrefixEitherDecodesOrThrowsCleanly)
{
    for (const char *file : {"baseline.jpg", "progressive.jpg", "grayscale.jpg"}) {
        const QByteArray whole = readFixture(file);
        bool decodedOnce = false;
        for (qsizetype n = 0; n <= whole.size(); ++n) {
            TJPEGImage jpeg;
            try {
                jpeg.LoadFromData(whole.left(n));
                decodedOnce = true;
                EXPECT_FALSE(jpeg.Bitmap().isNull());
            } catch (const EJPEGError &) {
                // Once the scan has started, every longer prefix must decode.
                EXPECT_FALSE(decodedOnce) << file << " prefix " << n;
            }
        }
        EXPECT_TRUE(decodedOnce) << file;
    }
}

TEST(JPEGImage, CorruptedBytesNeverEndTheProgram)
{
    const QByteArray whole = readFixture("progressive.jpg");
    QRandomGenerator rng(7);
    int decoded = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
        QByteArray data = whole;
        const int flips = 1 + int(rng.bounded(8));
        for (int i = 0; i < flips; ++i)
            data[qsizetype(rng.bounded(int(data.size())))] = char(rng.bounded(256));
        TJPEGImage jpeg;
        try {
            jpeg.LoadFromData(data);
            ++decoded;
        } catch (const EJPEGError &) {
            ++refused;
        }
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0);
}
