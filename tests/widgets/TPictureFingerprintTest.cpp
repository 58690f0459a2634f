// The fingerprint as the program computes it: JPEG through libjpeg, other
// formats through the reader the program gives it.
#include "TPictureFingerprint.h"
#include "TPictureReader.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

TPictureFingerprint printOf(const char *name)
{
    TPictureFingerprint::SetReader(TPictureReader::ReadReducedRgb);
    QFile f(QStringLiteral(PIXTRAWL_TEST_DATA "/similar/") + QLatin1String(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return TPictureFingerprint::Of(f.readAll());
}

bool looksAlike(const TPictureFingerprint &a, const TPictureFingerprint &b)
{
    return a.Distance(b) <= TPictureFingerprint::MaxDistance && a.ToneMatches(b);
}

} // namespace

TEST(PictureFingerprint, CopiesLookLikeTheirPicture)
{
    const TPictureFingerprint original = printOf("coffee.jpg");
    ASSERT_TRUE(original.Valid);
    for (const char *copy : {"coffee-q40.jpg", "coffee-q95.jpg", "coffee-r30.jpg", "coffee-r70.jpg", "coffee.png",
                             "coffee.webp", "coffee-stripped.jpg"}) {
        const TPictureFingerprint p = printOf(copy);
        EXPECT_TRUE(p.Valid && looksAlike(original, p))
            << copy << ": distance " << original.Distance(p) << ", luma " << original.LumaDifference(p)
            << ", colour " << original.ColourDifference(p);
    }
    // Kept in "Similar.dat" as text, and read back the same.
    const TPictureFingerprint back = TPictureFingerprint::FromText(original.ToText());
    EXPECT_EQ(back.ToText(), original.ToText());
    EXPECT_TRUE(looksAlike(back, original));
    EXPECT_FALSE(TPictureFingerprint::FromText(original.ToText().left(51) + "G").Valid);
}

// Other photographs, two shots of one scene, the halves of one picture and
// the light and dark twins of one design: none looks like another.
TEST(PictureFingerprint, DistinctPicturesAreApart)
{
    const QList<const char *> names{"coffee.jpg",      "coffee-left.jpg",      "coffee-right.jpg",
                                    "chelsea.jpg",     "ladybird.jpg",         "motorcycle-left.jpg",
                                    "motorcycle-right.jpg", "licorice-l.jpg", "licorice-d.jpg"};
    QList<TPictureFingerprint> prints;
    for (const char *name : names)
        prints << printOf(name);
    for (qsizetype i = 0; i < prints.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            EXPECT_FALSE(looksAlike(prints[i], prints[j]))
                << names[i] << " and " << names[j] << ": distance " << prints[i].Distance(prints[j]);
    // What cannot be told by its look is left to the checksum alone.
    EXPECT_FALSE(TPictureFingerprint::Of("no picture").Valid);
    const std::vector<std::uint8_t> grey(64 * 64, 90);
    EXPECT_FALSE(TPictureFingerprint::OfPixels(grey.data(), 64, 64, 1, true).Valid);
}
