#include "StatDlg.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QChart>
#include <QCoreApplication>
#include <QComboBox>
#include <QLabel>
#include <QPieSeries>
#include <QPieSlice>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
void Counter(const QByteArray &key, const QByteArray &value) { IniWriteString("STATISTICS", key, value); }

const QColor Red(255, 0, 0), Green(0, 128, 0), Blue(0, 0, 255), Purple(128, 0, 128);

struct Shown {
    QString name;
    double value;
    QColor colour;
    bool operator==(const Shown &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Shown &s)
{
    return os << s.name.toStdString() << "=" << s.value << " " << s.colour.name().toStdString();
}

QList<Shown> Pie(TdlgStat &dlg)
{
    QList<Shown> out;
    const QStringList names = dlg.SliceNames();
    const auto slices = dlg.gpPie->slices();
    for (qsizetype i = 0; i < slices.size(); ++i)
        out << Shown{names.value(i), slices[i]->value(), slices[i]->color()};
    return out;
}
}

TEST(StatSlices, ArticleGraphShowsCountsAboveZeroInFixedOrder)
{
    TempProgramDir dir;
    Counter("EMPTY_COUNT", "2");
    Counter("DUPLICATE_COUNT", "0");
    Counter("SAVED_COUNT", "7.4");  // stored counters are floating point, rounded
    Counter("FILTERED_COUNT", "-3");
    Counter("alt.aSAVED_COUNT", "1");
    EXPECT_EQ(StatSlices(GraphArticles, "", {}),
              (QList<TStatSlice>{{"Empty", 2, Red}, {"Saved", 7, Blue}}));
    EXPECT_EQ(StatSlices(GraphArticles, "alt.a", {}), (QList<TStatSlice>{{"Saved", 1, Blue}}));
    EXPECT_TRUE(StatSlices(GraphArticles, "alt.b", {}).isEmpty());
}

TEST(StatSlices, ByteGraphJudgesEmptyByBytesAndTheOthersByCount)
{
    TempProgramDir dir;
    Counter("EMPTY_COUNT", "4");          // count without bytes: no slice
    Counter("DUPLICATE_COUNT", "1");      // count without bytes: a slice of 0
    Counter("SAVED_COUNT", "3");
    Counter("SAVED_BYTES", "3000");
    Counter("FILTERED_BYTES", "500");     // bytes without count: no slice
    EXPECT_EQ(StatSlices(GraphBytes, "", {}),
              (QList<TStatSlice>{{"Duplicate", 0, Green}, {"Saved", 3000, Blue}}));

    Counter("EMPTY_BYTES", "20");
    Counter("EMPTY_COUNT", "0");
    Counter("FILTERED_COUNT", "2");
    EXPECT_EQ(StatSlices(GraphBytes, "", {}),
              (QList<TStatSlice>{{"Empty", 20, Red}, {"Duplicate", 0, Green}, {"Saved", 3000, Blue},
                                 {"Filtered", 500, Purple}}));
}

TEST(StatSlices, TimeGraphInHoursWithColoursByPosition)
{
    TempProgramDir dir;
    QList<QByteArray> groups;
    for (int i = 0; i < 10; ++i)
        groups << "g" + QByteArray::number(i);
    Counter("g0TIME", "5400");
    Counter("g3TIME", "36");
    Counter("g8TIME", "3600");
    Counter("g9TIME", "0");
    Counter("g2SAVED_COUNT", "5"); // other counters play no part
    EXPECT_EQ(StatSlices(GraphTime, "ignored", groups),
              (QList<TStatSlice>{{"g0", 1.5, QColor(0, 128, 0)},
                                 {"g3", 0.01, QColor(255, 0, 0)},
                                 {"g8", 1.0, QColor(0, 128, 0)}}));
    // Every position has its own colour.
    for (int i = 0; i < 8; ++i)
        Counter(groups[i] + "TIME", "1");
    QList<QColor> colours;
    for (const TStatSlice &s : StatSlices(GraphTime, "", groups))
        colours << s.Colour;
    EXPECT_EQ(colours, (QList<QColor>{{0, 128, 0}, {0, 0, 128}, {128, 0, 128}, {255, 0, 0}, {0, 255, 0},
                                      {0, 0, 255}, {255, 0, 255}, {0, 255, 255}, {0, 128, 0}}));
}

TEST(StatSlices, PercentText)
{
    EXPECT_EQ(FormatPercent(1.0), "100 %");
    EXPECT_EQ(FormatPercent(0.25), "25 %");
    EXPECT_EQ(FormatPercent(1.0 / 3), "33.33 %");
    EXPECT_EQ(FormatPercent(0.015), "1.5 %");
    EXPECT_EQ(FormatPercent(0), "0 %");
}

TEST(StatDialog, OpensOnAllGroupsAndTheArticleGraph)
{
    TempProgramDir dir;
    Counter("SAVED_COUNT", "3");
    Counter("EMPTY_COUNT", "1");
    QList<QByteArray> groups{"alt.a", "alt.b"};
    TdlgStat dlg(nullptr, groups);
    EXPECT_EQ(dlg.windowTitle(), "Statistics");
    EXPECT_TRUE(dlg.testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(dlg.cbGraphType->count(), 3);
    EXPECT_EQ(dlg.cbGraphType->itemText(2), "Time (Hours)");
    QStringList data;
    for (int i = 0; i < dlg.cbGraphData->count(); ++i)
        data << dlg.cbGraphData->itemText(i);
    EXPECT_EQ(data, (QStringList{"All Groups", "alt.a", "alt.b"}));
    EXPECT_EQ(dlg.cbGraphType->currentIndex(), 0);
    EXPECT_EQ(dlg.cbGraphData->currentIndex(), 0);
    EXPECT_EQ(dlg.Chart->title(), "Article Composition");
    EXPECT_EQ(Pie(dlg), (QList<Shown>{{"Empty", 1, Red}, {"Saved", 3, Blue}}));
    QStringList marks;
    for (QPieSlice *s : dlg.gpPie->slices()) {
        marks << s->label();
        EXPECT_TRUE(s->isLabelVisible());
    }
    EXPECT_EQ(marks, (QStringList{"25 %", "75 %"}));
    EXPECT_EQ(dlg.tmUpdate->interval(), 5000);
    EXPECT_TRUE(dlg.tmUpdate->isActive());
}

TEST(StatDialog, EmptyGraphsStillNameTheirType)
{
    TempProgramDir dir;
    QList<QByteArray> groups{"alt.a"};
    TdlgStat dlg(nullptr, groups);
    for (int type = 0; type < 3; ++type) {
        dlg.cbGraphType->setCurrentIndex(type);
        EXPECT_EQ(dlg.Chart->title(), dlg.cbGraphType->itemText(type));
        EXPECT_EQ(dlg.gpPie->count(), 0);
        EXPECT_TRUE(dlg.laNoData->isVisibleTo(&dlg));
        EXPECT_EQ(dlg.laNoData->text(), "No data yet");
    }
    AddStatistic("SAVED_COUNT", "alt.a", 1);
    dlg.cbGraphType->setCurrentIndex(0);
    EXPECT_FALSE(dlg.laNoData->isVisibleTo(&dlg));
    // The longest graph type shows whole.
    EXPECT_GE(dlg.cbGraphType->sizeHint().width(),
              dlg.cbGraphType->fontMetrics().horizontalAdvance("Article Composition"));
    EXPECT_GE(dlg.cbGraphType->width(), dlg.cbGraphType->sizeHint().width());
}

TEST(StatDialog, EveryChangeRefreshesAndTimeGreysTheDataList)
{
    TempProgramDir dir;
    Counter("SAVED_COUNT", "10");
    Counter("alt.bSAVED_COUNT", "4");
    Counter("alt.bFILTERED_COUNT", "2");
    Counter("alt.aTIME", "7200");
    QList<QByteArray> groups{"alt.a", "alt.b"};
    TdlgStat dlg(nullptr, groups);

    dlg.cbGraphData->setCurrentIndex(2);
    EXPECT_EQ(Pie(dlg), (QList<Shown>{{"Saved", 4, Blue}, {"Filtered", 2, Purple}}));

    dlg.cbGraphType->setCurrentIndex(GraphTime);
    EXPECT_FALSE(dlg.cbGraphData->isEnabled());
    EXPECT_EQ(dlg.Chart->title(), "Time (Hours)");
    EXPECT_EQ(Pie(dlg), (QList<Shown>{{"alt.a", 2.0, QColor(0, 128, 0)}}));

    dlg.cbGraphType->setCurrentIndex(GraphArticles);
    EXPECT_TRUE(dlg.cbGraphData->isEnabled());
    EXPECT_EQ(dlg.cbGraphData->currentIndex(), 2);
    EXPECT_EQ(Pie(dlg), (QList<Shown>{{"Saved", 4, Blue}, {"Filtered", 2, Purple}}));

    // The timer's refresh picks up counters that a search advanced meanwhile.
    Counter("alt.bEMPTY_COUNT", "1");
    dlg.tmUpdateTimer();
    EXPECT_EQ(Pie(dlg).first(), (Shown{"Empty", 1, Red}));
}

TEST(StatDialog, DataListKeepsItsGroupsButTimeFollowsTheLiveList)
{
    TempProgramDir dir;
    Counter("alt.bSAVED_COUNT", "4");
    Counter("alt.aTIME", "3600");
    Counter("alt.bTIME", "1800");
    QList<QByteArray> groups{"alt.a", "alt.b"};
    TdlgStat dlg(nullptr, groups);
    groups.removeLast(); // the group dialog took alt.b off the selection
    groups << "alt.c";
    dlg.cbGraphData->setCurrentIndex(2);
    EXPECT_EQ(dlg.cbGraphData->currentText(), "alt.b");
    EXPECT_EQ(Pie(dlg), (QList<Shown>{{"Saved", 4, Blue}}));
    dlg.cbGraphType->setCurrentIndex(GraphTime);
    EXPECT_EQ(Pie(dlg), (QList<Shown>{{"alt.a", 1.0, QColor(0, 128, 0)}}));
}

TEST(StatDialog, OkClosesAndDeletesTheWindow)
{
    TempProgramDir dir;
    QWidget owner;
    QList<QByteArray> groups;
    QPointer<TdlgStat> dlg = new TdlgStat(&owner, groups);
    dlg->show();
    dlg->btOkClick();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dlg.isNull());
}
