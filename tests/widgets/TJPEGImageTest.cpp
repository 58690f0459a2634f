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

namespace {

// The middle of each quadrant: far enough from the seams for pictures
// reduced to a few pixels.
void expectQuadrants(const QImage &img, const Corners &c, const std::string &what)
{
    const int l = img.width() / 4, r = img.width() * 3 / 4, t = img.height() / 4, b = img.height() * 3 / 4;
    EXPECT_PRED2(near, img.pixelColor(l, t), c.topLeft) << what;
    EXPECT_PRED2(near, img.pixelColor(r, t), c.topRight) << what;
    EXPECT_PRED2(near, img.pixelColor(l, b), c.bottomLeft) << what;
    EXPECT_PRED2(near, img.pixelColor(r, b), c.bottomRight) << what;
}

// A solid grey picture of any size, so sizes that do not divide by 8 can be tried.
QByteArray encodeGrey(int width, int height)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * 3, 128);
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

TEST(JPEGImageScale, LargestDenominatorThatStillCoversTheTarget)
{
    const struct {
        QSize full, target;
        int denominator;
    } cases[] = {
        {{2600, 1950}, {333, 200}, 4},  // 325 wide at 1/8 would be too narrow
        {{2600, 1950}, {325, 244}, 8},  // exactly covered
        {{2600, 1950}, {325, 245}, 4},
        {{2600, 1950}, {105, 105}, 8},
        {{2600, 1950}, {1300, 975}, 2},
        {{2600, 1950}, {1301, 900}, 1},
        {{97, 65}, {13, 9}, 8},         // rounded up: ceil(97 / 8) = 13
        {{97, 65}, {14, 9}, 4},
        {{640, 480}, {800, 600}, 1},    // never enlarged
        {{2600, 1950}, {}, 1},          // no target: full size
        {{2600, 1950}, {0, 200}, 1},
        {{2600, 1950}, {333, -1}, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TJPEGImage::ScaleDenominator(c.full, c.target), c.denominator)
            << c.full.width() << "x" << c.full.height() << " for " << c.target.width() << "x" << c.target.height();
}

TEST(JPEGImageScale, DecodesAtTheChosenScaleWithTheSameColours)
{
    const Corners grey{QColor(88, 88, 88), QColor(149, 149, 149), QColor(40, 40, 40), QColor(236, 236, 236)};
    const struct {
        const char *file;
        QSize target, bitmap, full;
        Corners corners;
    } cases[] = {
        {"baseline.jpg", {}, {96, 64}, {96, 64}, colourQuadrants},
        {"baseline.jpg", {12, 8}, {12, 8}, {96, 64}, colourQuadrants},
        {"baseline.jpg", {13, 8}, {24, 16}, {96, 64}, colourQuadrants},
        {"baseline.jpg", {48, 20}, {48, 32}, {96, 64}, colourQuadrants},
        {"baseline.jpg", {49, 20}, {96, 64}, {96, 64}, colourQuadrants},
        {"baseline.jpg", {400, 300}, {96, 64}, {96, 64}, colourQuadrants},
        {"progressive.jpg", {20, 12}, {20, 12}, {160, 96}, colourQuadrants},
        {"progressive.jpg", {40, 40}, {80, 48}, {160, 96}, colourQuadrants},
        {"grayscale.jpg", {24, 16}, {24, 16}, {96, 64}, grey},
    };
    for (const auto &c : cases) {
        const std::string what = std::string(c.file) + " for " + std::to_string(c.target.width()) + "x"
            + std::to_string(c.target.height());
        TJPEGImage jpeg;
        jpeg.LoadFromFile(fixture(c.file), c.target);
        EXPECT_EQ(jpeg.Bitmap().size(), c.bitmap) << what;
        EXPECT_EQ(jpeg.Bitmap().depth(), 24) << what;
        EXPECT_EQ(jpeg.FullSize(), c.full) << what;
        expectQuadrants(jpeg.Bitmap(), c.corners, what);
    }
}

TEST(JPEGImageScale, OddSizesRoundUpSoTheTargetIsAlwaysCovered)
{
    const QByteArray data = encodeGrey(97, 65);
    const struct {
        QSize target, bitmap;
    } cases[] = {{{13, 9}, {13, 9}}, {{14, 9}, {25, 17}}, {{25, 17}, {25, 17}}, {{26, 17}, {49, 33}}};
    for (const auto &c : cases) {
        TJPEGImage jpeg;
        jpeg.LoadFromData(data, c.target);
        EXPECT_EQ(jpeg.Bitmap().size(), c.bitmap) << c.target.width() << "x" << c.target.height();
        EXPECT_EQ(jpeg.FullSize(), QSize(97, 65));
        EXPECT_PRED2(near, jpeg.Bitmap().pixelColor(c.bitmap.width() / 2, c.bitmap.height() / 2), QColor(128, 128, 128));
    }
}

TEST(JPEGImageScale, TruncatedDataStillDecodesWhenScaled)
{
    const QByteArray base = readFixture("baseline.jpg");
    TJPEGImage jpeg;
    ASSERT_NO_THROW(jpeg.LoadFromData(base.left(base.size() / 2), QSize(24, 16)));
    ASSERT_EQ(jpeg.Bitmap().size(), QSize(24, 16));
    EXPECT_EQ(jpeg.FullSize(), QSize(96, 64));
    // The first rows arrived; the bottom ones did not.
    EXPECT_PRED2(near, jpeg.Bitmap().pixelColor(6, 1), QColor(Qt::red));
    EXPECT_PRED2(near, jpeg.Bitmap().pixelColor(18, 1), QColor(Qt::green));
    EXPECT_FALSE(near(jpeg.Bitmap().pixelColor(6, 12), QColor(Qt::blue)));

    const QByteArray prog = readFixture("progressive.jpg");
    ASSERT_NO_THROW(jpeg.LoadFromData(prog.left(prog.size() / 2), QSize(20, 12)));
    ASSERT_EQ(jpeg.Bitmap().size(), QSize(20, 12));
    expectQuadrants(jpeg.Bitmap(), colourQuadrants, "half progressive at 1/8");

    // And every prefix of both, scaled, either decodes or throws cleanly.
    for (const QByteArray &whole : {base, prog})
        for (qsizetype n = 0; n <= whole.size(); n += 7) {
            try {
                jpeg.LoadFromData(whole.left(n), QSize(10, 5));
                EXPECT_EQ(jpeg.Bitmap().size(), jpeg.FullSize() / 8) << n;
            } catch (const EJPEGError &) {
            }
        }
}

TEST(JPEGImageScale, FailedScaledLoadKeepsBitmapAndFullSize)
{
    TJPEGImage jpeg;
    jpeg.LoadFromFile(fixture("progressive.jpg"), QSize(20, 12));
    EXPECT_THROW(jpeg.LoadFromData("hello", QSize(20, 12)), EJPEGError);
    EXPECT_EQ(jpeg.Bitmap().size(), QSize(20, 12));
    EXPECT_EQ(jpeg.FullSize(), QSize(160, 96));
}
