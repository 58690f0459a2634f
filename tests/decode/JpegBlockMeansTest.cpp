// The block means against libjpeg's own 1/8-scale decode of the same file,
// for files made by cjpeg from a real photograph in the ways encoders differ.
#include "JpegBlockMeans.h"
#include "JpegScaled.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include "SpawnTool.h"

namespace {

QByteArray run(const QString &program, const QStringList &args, const QByteArray &input)
{
    const ToolResult run = SpawnTool(program, args, input, 30000);
    EXPECT_TRUE(run.Ok()) << program.toStdString() << " " << args.join(' ').toStdString();
    return run.out;
}

// The photograph as PPM at twice its size, optionally cut to an odd size.
QByteArray photo(int width = 0, int height = 0)
{
    QFile f(QStringLiteral(PIXTRAWL_TEST_DATA "/similar/chelsea.jpg"));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray ppm = run("djpeg", {"-scale", "2/1", "-pnm"}, f.readAll());
    if (!width)
        return ppm;
    const QList<QByteArray> head = ppm.left(20).split('\n'); // "P6", "w h", "255"
    const int fullWidth = head[1].split(' ')[0].toInt();
    const qsizetype start = head[0].size() + head[1].size() + head[2].size() + 3;
    QByteArray cut = QByteArray("P6\n") + QByteArray::number(width) + ' ' + QByteArray::number(height) + "\n255\n";
    for (int y = 0; y < height; ++y)
        cut += ppm.mid(start + qsizetype(y) * fullWidth * 3, qsizetype(width) * 3);
    return cut;
}

// Luma the same to the byte; colour the same, or for colour drawn at half
// size in both directions (where libjpeg draws quarters) the same on average.
void expectSameMeans(const JpegBlockMeans &m, const JpegPixels &r, bool colourExact, const std::string &what)
{
    ASSERT_EQ(m.Width, r.Width) << what;
    ASSERT_EQ(m.Height, r.Height) << what;
    ASSERT_EQ(m.Channels, r.Channels) << what;
    const size_t count = size_t(r.Width) * size_t(r.Height);
    size_t lumaOff = 0;
    double sum[3] = {}, refSum[3] = {};
    for (size_t i = 0; i < count; ++i) {
        lumaOff += m.Pixels[i * size_t(r.Channels)] != r.Pixels[i * size_t(r.Channels)];
        for (int c = 1; c < r.Channels; ++c) {
            sum[c] += m.Pixels[i * size_t(r.Channels) + size_t(c)];
            refSum[c] += r.Pixels[i * size_t(r.Channels) + size_t(c)];
        }
    }
    EXPECT_EQ(lumaOff, 0u) << what;
    if (colourExact) {
        EXPECT_EQ(m.Pixels, r.Pixels) << what;
    }
    for (int c = 1; c < r.Channels; ++c)
        EXPECT_NEAR(sum[c] / double(count), refSum[c] / double(count), 0.5) << what;
}

} // namespace

TEST(JpegBlockMeans, SameAsLibjpegForEveryKindOfBaselineFile)
{
    const QByteArray ppm = photo();
    const QByteArray odd = photo(333, 221);
    struct Case {
        const char *name;
        QStringList args;
        bool colourExact;
        bool oddSize = false;
        bool twoReaders = false; // big enough to be read from its middle too
    } cases[] = {
        {"4:2:0", {"-sample", "2x2"}, false},
        {"4:2:2", {"-sample", "2x1"}, true},
        {"4:4:4", {"-sample", "1x1"}, true},
        {"grey", {"-grayscale"}, true},
        {"restart every row", {"-restart", "1"}, false},
        {"restart every 5 MCUs", {"-restart", "5B"}, false},
        {"restart every MCU, odd size", {"-restart", "1B", "-sample", "1x1"}, true, true},
        {"optimized tables", {"-optimize"}, false},
        {"quality 100: long codes", {"-quality", "100", "-sample", "1x1"}, true, false, true},
        {"quality 100, restart every row", {"-quality", "100", "-sample", "1x1", "-restart", "1"}, true, false, true},
        {"quality 10", {"-quality", "10"}, false},
        {"odd size", {"-sample", "2x2"}, false, true},
        {"grey, odd size", {"-grayscale"}, true, true},
    };
    for (const Case &c : cases) {
        const QByteArray jpeg = run("cjpeg", c.args, c.oddSize ? odd : ppm);
        JpegPixels ref; // libjpeg's own 1/8 decode
        ASSERT_TRUE(DecodeJpegScaled(jpeg, 0, &ref)) << c.name;
        JpegBlockMeans means;
        ASSERT_TRUE(DecodeJpegBlockMeans(jpeg, &means)) << c.name;
        expectSameMeans(means, ref, c.colourExact, c.name);
        EXPECT_EQ(means.SecondHalfFrom > 0, c.twoReaders) << c.name;
    }
}

// What it does not read it leaves to libjpeg; damage it either refuses or
// reads exactly as libjpeg does.
TEST(JpegBlockMeans, LeavesToLibjpegWhatItDoesNotReadAlike)
{
    const QByteArray ppm = photo();
    JpegBlockMeans means;
    for (const QStringList &args : {QStringList{"-progressive"}, QStringList{"-arithmetic"}, QStringList{"-rgb"}})
        EXPECT_FALSE(DecodeJpegBlockMeans(run("cjpeg", args, ppm), &means)) << args.join(' ').toStdString();
    const QByteArray restarts = run("cjpeg", {"-restart", "2", "-quality", "100", "-sample", "1x1"}, ppm);
    EXPECT_FALSE(DecodeJpegBlockMeans(restarts.left(restarts.size() / 2), &means));
    EXPECT_FALSE(DecodeJpegBlockMeans("no picture", &means));
    // A scan per component, sequential: libjpeg reads it whole, even at 1/8.
    QTemporaryFile perComponent;
    ASSERT_TRUE(perComponent.open());
    perComponent.write("0;\n1;\n2;\n");
    perComponent.flush();
    const QByteArray scans = run("cjpeg", {"-scans", perComponent.fileName()}, ppm);
    JpegPixels whole;
    EXPECT_FALSE(DecodeJpegBlockMeans(scans, &means));
    ASSERT_TRUE(DecodeJpegScaled(scans, 0, &whole));
    EXPECT_EQ(whole.Channels, 3);
    // A table with more codes of one length than the length has: three of
    // length 1, the total kept so the table itself still parses.
    QByteArray overfull = restarts;
    const qsizetype counts = overfull.indexOf("\xFF\xC4") + 5;
    ASSERT_EQ(overfull.mid(counts, 3), QByteArray("\x00\x01\x05", 3));
    overfull.replace(counts, 3, QByteArray("\x03\x00\x03", 3));
    EXPECT_FALSE(DecodeJpegBlockMeans(overfull, &means));

    // Damage, in big files with restart markers and without.
    QRandomGenerator rng(8);
    int refused = 0, read = 0;
    for (const QByteArray &jpeg : {restarts, run("cjpeg", {"-quality", "100", "-sample", "1x1"}, ppm)})
        for (int i = 0; i < 150; ++i) {
            QByteArray damaged = jpeg;
            const qsizetype at = 700 + qsizetype(rng.bounded(int(jpeg.size()) - 702));
            damaged[at] = char(rng.bounded(256));
            JpegPixels ref;
            if (!DecodeJpegBlockMeans(damaged, &means)) {
                ++refused;
                continue;
            }
            ++read;
            ASSERT_TRUE(DecodeJpegScaled(damaged, 0, &ref)) << "libjpeg refused damage at " << at << " that was read";
            expectSameMeans(means, ref, false, "damaged at " + std::to_string(at));
        }
    EXPECT_GT(refused, 0);
    EXPECT_GT(read, 0);
}
