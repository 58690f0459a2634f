#include "TZqImage.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

QImage solid(int w, int h, QColor c)
{
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(c);
    return img;
}

// What the control paints on its own, over a surface already filled red.
QImage paintOver(TZqImage &control)
{
    QImage surface(control.size(), QImage::Format_RGB32);
    surface.fill(Qt::red);
    control.render(&surface, QPoint(), QRegion(), QWidget::RenderFlags());
    return surface;
}

// Counts the pixels that are not `inside` within r or not black outside it.
int wrongPixels(const QImage &img, const QRect &r, QColor inside)
{
    int wrong = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor want = r.contains(x, y) ? inside : QColor(Qt::black);
            if (img.pixelColor(x, y) != want)
                ++wrong;
        }
    return wrong;
}

struct FitCase {
    int w, h;
    QRect expected;
};

const FitCase fitCases[] = {
    {800, 600, QRect(0, 0, 400, 300)},     // fills exactly, ties go to the width
    {800, 400, QRect(0, 50, 400, 200)},    // fitted to the width, strips above and below
    {300, 600, QRect(125, 0, 150, 300)},   // fitted to the height: fh 500, width 150
    {100, 100, QRect(50, 0, 300, 300)},    // enlarged: fw 4000, hw 400 > 300
    {1, 60000, QRect(200, 0, 0, 300)},     // width factor times height needs 64 bits
    {60000, 1, QRect(0, 150, 400, 0)},
};

} // namespace

TEST(ZqImageFit, IntegerRuleFor400By300Control)
{
    for (const auto &c : fitCases)
        EXPECT_EQ(TZqImage::FitRect(400, 300, c.w, c.h), c.expected) << c.w << "x" << c.h;
}

TEST(ZqImageFit, TruncatesEachDivision)
{
    // 333 x 200 panel, 640 x 480 picture: fw = 520, hw = 249 > 200;
    // fh = 416, drawn width 266, left (333 - 266) / 2 = 33.
    EXPECT_EQ(TZqImage::FitRect(333, 200, 640, 480), QRect(33, 0, 266, 200));
    // 333 x 200, 700 x 300: fw = 475, hw = 142, top (200 - 142) / 2 = 29.
    EXPECT_EQ(TZqImage::FitRect(333, 200, 700, 300), QRect(0, 29, 333, 142));
}

TEST(ZqImage, StartsAt105By105EmptyAndNotOpaque)
{
    TZqImage control;
    EXPECT_EQ(control.size(), QSize(105, 105));
    EXPECT_TRUE(control.Picture().isNull());
    EXPECT_FALSE(control.Opaque());
}

TEST(ZqImage, OpaqueOnlyWhenTheBitmapCoversTheControl)
{
    const struct {
        QSize picture;
        bool opaque;
    } cases[] = {
        {{640, 480}, true},
        {{640, 200}, false},
        {{400, 300}, true},
        {{399, 300}, false},
        {{400, 299}, false},
    };
    for (const auto &c : cases) {
        TZqImage control;
        control.resize(400, 300);
        control.SetPicture(solid(c.picture.width(), c.picture.height(), Qt::green));
        EXPECT_EQ(control.Opaque(), c.opaque) << c.picture.width() << "x" << c.picture.height();
    }
}

TEST(ZqImage, OpaqueFollowsResizeAndClearing)
{
    TZqImage control;
    control.resize(400, 300);
    control.show();
    const auto hint = [&] { return control.testAttribute(Qt::WA_OpaquePaintEvent); };
    control.SetPicture(solid(640, 480, Qt::green));
    ASSERT_TRUE(control.Opaque());
    EXPECT_TRUE(hint());
    control.resize(800, 600);
    EXPECT_FALSE(control.Opaque());
    EXPECT_FALSE(hint());
    control.resize(640, 480);
    EXPECT_TRUE(control.Opaque());
    EXPECT_TRUE(hint());
    control.ClearPicture();
    EXPECT_FALSE(control.Opaque());
    EXPECT_FALSE(hint());
}

TEST(ZqImage, EmptyPicturePaintsNothingSoTheParentShows)
{
    QWidget panel;
    panel.resize(400, 300);
    QPalette pal = panel.palette();
    pal.setColor(QPalette::Window, Qt::blue);
    panel.setPalette(pal);
    panel.setAutoFillBackground(true);
    auto *control = new TZqImage(&panel);
    control->setGeometry(0, 0, 400, 300);

    QImage surface(panel.size(), QImage::Format_RGB32);
    surface.fill(Qt::red);
    panel.render(&surface);
    EXPECT_EQ(wrongPixels(surface, QRect(0, 0, 400, 300), Qt::blue), 0);

    // Emptied again after showing a picture: not even the strips are painted.
    control->SetPicture(solid(800, 400, Qt::green));
    control->ClearPicture();
    EXPECT_EQ(wrongPixels(paintOver(*control), QRect(0, 0, 400, 300), Qt::red), 0);
}

TEST(ZqImage, PaintsBlackStripsAndThePictureInItsRectangle)
{
    for (const auto &c : fitCases) {
        TZqImage control;
        control.resize(400, 300);
        control.SetPicture(solid(c.w, c.h, Qt::green));
        EXPECT_EQ(wrongPixels(paintOver(control), c.expected, Qt::green), 0) << c.w << "x" << c.h;
    }
}

TEST(ZqImage, RepaintsNewPictureAndNewSize)
{
    TZqImage control;
    control.resize(400, 300);
    control.SetPicture(solid(800, 400, Qt::green));
    paintOver(control);
    control.SetPicture(solid(800, 400, Qt::yellow));
    EXPECT_EQ(wrongPixels(paintOver(control), QRect(0, 50, 400, 200), Qt::yellow), 0);

    control.resize(200, 300);
    EXPECT_EQ(wrongPixels(paintOver(control), QRect(0, 100, 200, 100), Qt::yellow), 0);
}


// A bitmap decoded at a reduced scale is fitted and judged by the picture's
// full size: 801 x 401 reduced to 1/8 is 101 x 51, whose own fit would be a
// pixel taller.
TEST(ZqImage, ReducedBitmapIsFittedAndJudgedByTheFullSize)
{
    const struct {
        QSize bitmap, full;
        QRect expected;
        bool opaque;
    } cases[] = {
        {{101, 51}, {801, 401}, QRect(0, 50, 400, 200), true},
        {{100, 75}, {800, 600}, QRect(0, 0, 400, 300), true}, // smaller than the control, still opaque
        {{50, 38}, {399, 300}, QRect(0, 0, 400, 300), false}, // fills the control, yet not opaque
        {{38, 75}, {300, 600}, QRect(125, 0, 150, 300), false},
    };
    for (const auto &c : cases) {
        const std::string what = std::to_string(c.full.width()) + "x" + std::to_string(c.full.height());
        TZqImage control;
        control.resize(400, 300);
        control.SetPicture(solid(c.bitmap.width(), c.bitmap.height(), Qt::green), c.full);
        EXPECT_EQ(control.Picture().size(), c.bitmap) << what;
        EXPECT_EQ(control.PictureSize(), c.full) << what;
        EXPECT_EQ(control.Opaque(), c.opaque) << what;
        EXPECT_EQ(wrongPixels(paintOver(control), c.expected, Qt::green), 0) << what;
    }
}

TEST(ZqImage, PictureSizeIsTheBitmapsUnlessGivenAndGoesWithClearing)
{
    TZqImage control;
    control.resize(400, 300);
    control.SetPicture(solid(100, 75, Qt::green), QSize(800, 600));
    ASSERT_TRUE(control.Opaque());
    control.SetPicture(solid(100, 75, Qt::green)); // a full-size picture again
    EXPECT_EQ(control.PictureSize(), QSize(100, 75));
    EXPECT_FALSE(control.Opaque());
    EXPECT_EQ(wrongPixels(paintOver(control), QRect(0, 0, 400, 300), Qt::green), 0);

    control.SetPicture(solid(100, 75, Qt::green), QSize(800, 600));
    control.ClearPicture();
    EXPECT_FALSE(control.PictureSize().isValid());
    EXPECT_FALSE(control.Opaque());
    EXPECT_EQ(wrongPixels(paintOver(control), QRect(0, 0, 400, 300), Qt::red), 0);
}
