// Pictures whose scans would keep libjpeg busy far beyond their size: a
// real photograph made progressive, with a scan repeated or a larger frame
// claimed. libjpeg is stopped at the same bound the marker walk names.
#include "CostlyPictures.h"
#include "JpegScaled.h"
#include "JpegWorkLimit.h"

#include <QFile>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

using Limit = JpegWorkLimit;

// 4:2:0, so a picture of n x n blocks holds about 1.5 n^2 of them.
constexpr int HeldSide = 5280;   // 660^2 + 2 * 330^2 = 653,400 blocks held
constexpr int TooLargeSide = 5296; // 662^2 + 2 * 331^2 = 657,366

struct Case {
    const char *what;
    QByteArray data;
    Limit::Reason reason;
    // 0: the 1/8 decode, which stops once it has every block's mean; more:
    // one that reads every scan; -1: the 1/8 decode, which never reaches
    // the bound.
    int minSide;
};

} // namespace

TEST(JpegWorkLimit, LibjpegStopsAtTheBoundTheMarkersName)
{
    static_assert(Limit::MaxBufferedBlocks >= 653400 && Limit::MaxBufferedBlocks < 657366);
    QFile baseline(QStringLiteral(PIXTRAWL_TEST_DATA "/similar/chelsea.jpg"));
    ASSERT_TRUE(baseline.open(QIODevice::ReadOnly));
    const QByteArray chelsea = baseline.readAll();
    const QByteArray photo = Progressive(chelsea); // ten scans
    const int room = Limit::MaxScans - 10;
    // The luma AC scan over and over before the colour's means: even the
    // 1/8 decode, which stops once it has every block's mean, reads them.
    const QByteArray meansLate = Progressive(chelsea,
        "0: 0-0, 0, 0; 0: 1-63, 0, 0; 1: 0-0, 0, 0; 2: 0-0, 0, 0; 1: 1-63, 0, 0; 2: 1-63, 0, 0;");
    // Its standard scans cover 8 x 435,600 luma blocks; each repeat of the
    // last (a luma one) 435,600 more.
    const QByteArray held = WithFrameSize(photo, HeldSide, HeldSide);

    const Case cases[] = {
        {"as many scans as allowed", RepeatedScan(photo, -1, room), Limit::Within, 1000},
        {"one scan more", RepeatedScan(photo, -1, room + 1), Limit::TooManyScans, 1000},
        {"the last scan 5000 times", RepeatedScan(photo, -1, 5000), Limit::TooManyScans, 1000},
        {"means first: the 1/8 decode stops before the repeats", RepeatedScan(photo, -1, 5000),
         Limit::TooManyScans, -1},
        {"means late", RepeatedScan(meansLate, 1, 5000), Limit::TooManyScans, 0},
        {"the largest picture held", held, Limit::Within, 0},
        {"a larger one", WithFrameSize(photo, TooLargeSide, TooLargeSide), Limit::TooLarge, 0},
        {"blocks within the budget", RepeatedScan(held, -1, 11), Limit::Within, 700},
        {"blocks past it", RepeatedScan(held, -1, 12), Limit::TooManyBlocks, 700},
        {"one scan of 64 megapixels holds nothing", WithFrameSize(chelsea, 8192, 8192), Limit::Within,
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Limit::Of(c.data), c.reason);
        JpegPixels pixels;
        const bool decodes = c.reason == Limit::Within || c.minSide < 0;
        EXPECT_EQ(DecodeJpegScaled(c.data, std::max(c.minSide, 0), &pixels), decodes);
        if (decodes) {
            EXPECT_GT(pixels.Width, 0);
        }
    }
    // Not a JPEG: for its own decoder to judge.
    EXPECT_EQ(Limit::Of("GIF89a"), Limit::Within);
}
