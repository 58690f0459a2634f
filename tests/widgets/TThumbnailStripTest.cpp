#include "TThumbnailStrip.h"

#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

// The strip keeps the newest pictures, newest first, reusing its buttons;
// a reused button opens and shows its new picture, not the one before.
TEST(ThumbnailStrip, KeepsTheNewestAndReusedButtonsFollowTheirPicture)
{
    QTemporaryDir dir;
    const QString jpeg = QStringLiteral(PIXTRAWL_TEST_DATA "/jpeg/baseline.jpg");
    QStringList paths;
    for (int i = 0; i < TThumbnailStrip::MaxThumbs + 2; ++i) {
        const QString path = dir.filePath(QStringLiteral("p%1.bin").arg(i));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a picture");
        paths.prepend(path);
    }
    paths.prepend(jpeg);

    TThumbnailStrip strip;
    QStringList opened;
    strip.OnOpen = [&](const QString &p) { opened << p; };
    for (auto it = paths.crbegin(); it != paths.crend(); ++it) {
        strip.AddPicture(*it);
        strip.Thumb(0)->grab(); // painted as it comes
    }
    EXPECT_EQ(strip.Pictures(), paths.mid(0, TThumbnailStrip::MaxThumbs));
    const qint64 fileIcon = strip.Thumb(1)->icon().cacheKey();
    EXPECT_NE(strip.Thumb(0)->icon().cacheKey(), fileIcon); // the picture itself
    EXPECT_EQ(strip.Thumb(0)->toolTip(), QStringLiteral("baseline.jpg"));
    strip.Thumb(0)->click();
    strip.Thumb(TThumbnailStrip::MaxThumbs - 1)->click();
    EXPECT_EQ(opened, (QStringList{jpeg, paths[TThumbnailStrip::MaxThumbs - 1]}));
    EXPECT_EQ(strip.Thumb(TThumbnailStrip::MaxThumbs), nullptr);
}
