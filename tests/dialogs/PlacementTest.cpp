#include "AboutDlg.h"
#include "ClearDlg.h"
#include "ConfigDlg.h"
#include "DialogCommon.h"
#include "DialogTestSupport.h"
#include "FilterDlg.h"
#include "GroupDlg.h"
#include "StatDlg.h"
#include "TempProgramDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

TEST(Placement, CentredTopLeftHalvesTowardZeroAndClampsAtZero)
{
    struct Case {
        QRect owner;
        QSize own;
        QPoint expected;
    };
    const Case cases[] = {
        {{100, 50, 500, 400}, {200, 100}, {250, 200}},
        {{100, 50, 501, 401}, {200, 100}, {250, 200}},   // odd differences drop the half
        {{100, 100, 100, 100}, {103, 105}, {99, 98}},    // -3/2 is -1 and -5/2 is -2, not -2 and -3
        {{10, 20, 100, 100}, {300, 50}, {0, 45}},        // off the left edge: pulled back to 0
        {{-400, -300, 200, 200}, {100, 100}, {0, 0}},
        {{-100, 30, 400, 100}, {100, 100}, {50, 30}},    // a negative owner edge alone is fine
    };
    for (const Case &c : cases)
        EXPECT_EQ(CentredTopLeft(c.owner, c.own), c.expected) << c.owner.x() << "," << c.owner.y();
}

// Every dialog but the clear articles dialog opens centred over its owner,
// with its fixed client size; the group dialog opens at its designed size
// and may be resized.
TEST(Placement, DialogsCentreOverTheOwnerWithTheirFixedSizes)
{
    TempProgramDir dir;
    QWidget owner;
    owner.setGeometry(100, 80, 700, 600);
    QList<QByteArray> names{"alt.one"};
    QList<TGroupMark> marks{{}};
    TZqNNTP client; // not connected: the clear dialog's group just is not available

    struct Case {
        const char *name;
        std::function<QDialog *()> make;
        QSize size;
        bool centred;
    };
    const Case cases[] = {
        {"group", [&] { return new TdlgGroup(&owner, names, client); }, {537, 277}, true},
        {"filter", [&] { return new TdlgFilter(&owner, names); }, {426, 250}, true},
        // Server, login and TLS rows make it taller than designed.
        {"config", [&] { return new TdlgConfig(&owner); }, {388, 0}, true},
        {"stat", [&] { return new TdlgStat(&owner, names); }, {511, 406}, true},
        {"about", [&] { return new TdlgAbout(&owner); }, {487, 257}, true},
        {"clear", [&] { return new TfrmClearDlg(&owner, names, marks, client); }, {421, 246}, false},
    };
    for (const Case &c : cases) {
        std::unique_ptr<QDialog> d(c.make());
        if (c.size.height() > 0)
            EXPECT_EQ(d->size(), c.size) << c.name;
        else
            EXPECT_GE(d->width(), c.size.width()) << c.name;
        EXPECT_EQ(d->minimumSize() == d->maximumSize(), std::string(c.name) != "group") << c.name;
        EXPECT_FALSE(d->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)) << c.name;
        const QPoint centred(100 + (700 - d->width()) / 2, 80 + (600 - d->height()) / 2);
        EXPECT_EQ(d->pos() == centred, c.centred) << c.name;
    }
}

// Dialogs laid out by layouts grow with a larger font instead of clipping
// their captions, and stay within the screen.
TEST(Placement, LaidOutDialogsGrowWithTheFont)
{
    TempProgramDir dir;
    const QFont saved = QApplication::font();
    QFont big = saved;
    big.setPixelSize(26);
    QApplication::setFont(big);
    QList<QByteArray> names{"alt.one"};
    QList<TGroupMark> marks{{}};
    TZqNNTP client;
    const std::pair<const char *, std::function<QDialog *()>> cases[] = {
        {"group", [&] { return new TdlgGroup(nullptr, names, client); }},
        {"stat", [&] { return new TdlgStat(nullptr, names); }},
        {"about", [] { return new TdlgAbout(nullptr); }},
        {"config", [] { return new TdlgConfig(nullptr); }},
        {"filter", [&] { return new TdlgFilter(nullptr, names); }},
        // The adding row must fit in the size worked out for the browsing row.
        {"filter adding", [&] {
             auto *d = new TdlgFilter(nullptr, names);
             d->btAddClick();
             return d;
         }},
        {"clear", [&] { return new TfrmClearDlg(nullptr, names, marks, client); }},
    };
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    for (const auto &[name, make] : cases) {
        std::unique_ptr<QDialog> d(make());
        d->show();
        d->layout()->activate();
        EXPECT_LE(d->height(), screen.height()) << name;
        for (QWidget *w : d->findChildren<QWidget *>()) {
            if (w->objectName().isEmpty() || !w->isVisibleTo(d.get())
                || (!qobject_cast<QAbstractButton *>(w) && !qobject_cast<QComboBox *>(w)
                    && !qobject_cast<QLabel *>(w)))
                continue;
            auto *label = qobject_cast<QLabel *>(w);
            if (label && label->wordWrap())
                EXPECT_GE(w->height(), w->heightForWidth(w->width())) << name << " " << w->objectName().toStdString();
            else
                EXPECT_GE(w->width(), w->sizeHint().width()) << name << " " << w->objectName().toStdString();
            EXPECT_GE(w->height(), w->minimumSizeHint().height()) << name << " " << w->objectName().toStdString();
        }
    }
    QApplication::setFont(saved);
}
