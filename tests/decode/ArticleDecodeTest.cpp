// The decode stage on the workers: for every kind of body it must give what
// decoding on the walk's thread gave, plus what is worked out from a whole
// file's bytes; and the thumbnails made beside it.
#include "ArticleDecode.h"
#include "PictureThumbnail.h"
#include "TestBodies.h"
#include "JpegScaled.h"
#include "ZqChecksumCRC32.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Lines fixture(const QString &name)
{
    Lines lines = readFile(QStringLiteral(PIXTRAWL_TEST_DATA "/decode/") + name).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

std::uint32_t keyCrc(const QByteArray &data)
{
    return Crc32Checksum(data.constData(), size_t(data.size()), Crc32OptionEnabled);
}

const QByteArray photo = readFile(QStringLiteral(PIXTRAWL_TEST_DATA "/jpeg/baseline.jpg"));

} // namespace

TEST(ArticleDecode, EachKindOfBodyGivesWhatDecodingInPlaceGives)
{
    const QByteArray data = Noise(5000, 3);
    Lines damaged = YEncFile("d.bin", data);
    damaged[2][5] = damaged[2][5] == 'a' ? 'b' : 'a';
    struct Case {
        const char *what;
        Lines body;
        TDecodedArticle::Kind kind;
        bool whole;
    } cases[] = {
        {"whole yEnc", YEncFile("a.jpg", photo), TDecodedArticle::YEnc, true},
        {"yEnc part", YEncPart("b.bin", data, 2, 3, 2000, 2000), TDecodedArticle::YEnc, false},
        {"damaged yEnc", damaged, TDecodedArticle::YEnc, false},
        {"whole uuencode", UuencodeFile("c.bin", data), TDecodedArticle::Attachment, true},
        {"first of five uuencoded articles", fixture("big-4.uue.001"), TDecodedArticle::Attachment, false},
        {"first of five xxencoded articles", fixture("big-4.xxe.001"), TDecodedArticle::Attachment, false},
        // Without a "begin" line only the keeper knows what it continues.
        {"middle of five uuencoded articles", fixture("big-4.uue.003"), TDecodedArticle::Other, false},
        {"Base64", Base64Body(data, 76), TDecodedArticle::Other, false},
        {"text", Lines{"just", "words"}, TDecodedArticle::Other, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const TDecodedArticle d = DecodeArticle(c.body, TArticleWish{});
        EXPECT_EQ(d.What, c.kind);
        EXPECT_EQ(d.Whole, c.whole);
        EXPECT_FALSE(d.Printed);
        if (d.What == TDecodedArticle::YEnc) {
            const YEncResult inPlace = DecodeYEnc(c.body);
            EXPECT_EQ(d.Y.State, inPlace.State);
            EXPECT_EQ(d.Y.Data, inPlace.Data);
            EXPECT_EQ(d.Y.Error, inPlace.Error);
            if (d.Whole)
                EXPECT_EQ(d.KeyCrc, keyCrc(d.Y.Data));
        }
        if (d.What == TDecodedArticle::Attachment) {
            Lines lines = c.body;
            QByteArray stream, name;
            EXPECT_EQ(d.Result, DecodeAttachment(lines, stream, name));
            // Joining takes up the list as the decoder left it.
            EXPECT_EQ(d.Lines, lines);
            EXPECT_EQ(d.Stream, stream);
            EXPECT_EQ(d.Name, name);
            if (d.Whole)
                EXPECT_EQ(d.KeyCrc, keyCrc(stream));
        }
    }
    ASSERT_FALSE(photo.isEmpty());
}

TEST(ArticleDecode, AWholePictureIsFingerprintedWhenWishedAndJudgedForThePreview)
{
    const TDecodedArticle d = DecodeArticle(YEncFile("a.jpg", photo), TArticleWish{true});
    ASSERT_TRUE(d.Printed);
    EXPECT_TRUE(d.Print.Valid);
    EXPECT_EQ(d.Print.ToText(), TPictureFingerprint::Of(photo).ToText());
    EXPECT_TRUE(d.Refusal.isEmpty());
    // A part is no picture yet: the keeper fingerprints the file it completes.
    EXPECT_FALSE(DecodeArticle(YEncPart("b.jpg", photo, 1, 2, 1, 100), TArticleWish{true}).Printed);
}

TEST(PictureThumbnail, FitsTheBoxAndKeepsTheColours)
{
    const TThumbnailPixels t = MakeThumbnail(photo, 48);
    ASSERT_TRUE(t.Valid());
    EXPECT_EQ(qMax(t.Width, t.Height), 48);
    EXPECT_EQ(t.Rgb.size(), size_t(t.Width * t.Height * 3));
    // The mean colour of the thumbnail is the mean of libjpeg's own reduced decode.
    JpegPixels scaled;
    ASSERT_TRUE(DecodeJpegScaled(photo, 0, &scaled));
    double thumbMean = 0, fullMean = 0;
    for (std::uint8_t v : t.Rgb)
        thumbMean += v;
    thumbMean /= double(t.Rgb.size());
    for (size_t i = 0; i < scaled.Pixels.size(); i += size_t(scaled.Channels))
        fullMean += scaled.Pixels[i];
    fullMean /= double(scaled.Pixels.size() / size_t(scaled.Channels));
    EXPECT_NEAR(thumbMean, fullMean, 12.0);
    // What is no picture, or none this library reads on its own, gives none.
    EXPECT_FALSE(MakeThumbnail(Noise(3000, 1), 48).Valid());
}
