#include "StatDlg.h"

#include "DialogCommon.h"
#include "SafeText.h"
#include "ZqStatistics.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

namespace {
const QColor EmptyColour(255, 0, 0);
const QColor DuplicateColour(0, 128, 0);
const QColor SavedColour(0, 0, 255);
const QColor FilteredColour(128, 0, 128);

const QColor GroupColours[8] = {
    QColor(0, 128, 0), QColor(0, 0, 128), QColor(128, 0, 128), QColor(255, 0, 0),
    QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 0, 255), QColor(0, 255, 255),
};

const char *const GraphTypeNames[] = {"Article Composition", "Byte Composition", "Time (Hours)"};

constexpr double LabelArmPixels = 8.0;
}

QList<TStatSlice> StatSlices(int graphType, const QByteArray &prefix, const QList<QByteArray> &groupNames)
{
    QList<TStatSlice> out;
    auto read = [&prefix](const char *counter) { return ReadStatistic(counter, prefix); };
    if (graphType == GraphArticles) {
        const struct { const char *label, *counter; QColor colour; } parts[] = {
            {"Empty", "EMPTY_COUNT", EmptyColour},
            {"Duplicate", "DUPLICATE_COUNT", DuplicateColour},
            {"Saved", "SAVED_COUNT", SavedColour},
            {"Filtered", "FILTERED_COUNT", FilteredColour},
        };
        for (const auto &p : parts) {
            const qint64 v = read(p.counter);
            if (v > 0)
                out.append({QString::fromLatin1(p.label), double(v), p.colour});
        }
    } else if (graphType == GraphBytes) {
        // Empty articles are judged by their bytes, the others by their count.
        const struct { const char *label, *condition, *counter; QColor colour; } parts[] = {
            {"Empty", "EMPTY_BYTES", "EMPTY_BYTES", EmptyColour},
            {"Duplicate", "DUPLICATE_COUNT", "DUPLICATE_BYTES", DuplicateColour},
            {"Saved", "SAVED_COUNT", "SAVED_BYTES", SavedColour},
            {"Filtered", "FILTERED_COUNT", "FILTERED_BYTES", FilteredColour},
        };
        for (const auto &p : parts) {
            if (read(p.condition) > 0)
                out.append({QString::fromLatin1(p.label), double(read(p.counter)), p.colour});
        }
    } else if (graphType == GraphTime) {
        for (qsizetype i = 0; i < groupNames.size(); ++i) {
            const qint64 seconds = ReadStatistic("TIME", groupNames[i]);
            if (seconds > 0)
                out.append({SafeText::Shown(groupNames[i]), double(seconds) / 3600.0, GroupColours[i % 8]});
        }
    }
    return out;
}

QString FormatPercent(double share)
{
    return QString::number(qRound64(share * 10000.0) / 100.0, 'f', 2)
               .remove(QRegularExpression(QStringLiteral("\\.?0+$")))
           + QStringLiteral(" %");
}

TdlgStat::TdlgStat(QWidget *owner, const QList<QByteArray> &groupNames)
    : QDialog(owner), GroupNames(groupNames), DataNames(groupNames)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Statistics"));

    laGraphType = new QLabel(QStringLiteral("Graph Type:"), this);
    laGraphType->setObjectName(QStringLiteral("laGraphType"));
    cbGraphType = new QComboBox(this);
    cbGraphType->setObjectName(QStringLiteral("cbGraphType"));
    // Wide enough for "Article Composition" in any font.
    cbGraphType->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    laGraphData = new QLabel(QStringLiteral("Graph Data:"), this);
    laGraphData->setObjectName(QStringLiteral("laGraphData"));
    cbGraphData = new QComboBox(this);
    cbGraphData->setObjectName(QStringLiteral("cbGraphData"));
    cbGraphData->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbGraphData->setMinimumContentsLength(12);

    gpPie = new QPieSeries();
    gpPie->setObjectName(QStringLiteral("gpPie"));
    Chart = new QChart();
    Chart->addSeries(gpPie);
    Chart->setBackgroundRoundness(0);
    Chart->setDropShadowEnabled(false);
    Chart->legend()->setAlignment(Qt::AlignBottom);
    Chart->setMargins(QMargins(4, 4, 4, 4));
    chPie = new QChartView(Chart, this);
    chPie->setObjectName(QStringLiteral("chPie"));
    chPie->setFrameShape(QFrame::NoFrame);
    chPie->setRubberBand(QChartView::NoRubberBand);
    chPie->setRenderHint(QPainter::Antialiasing);
    chPie->setMinimumSize(160, 120);
    laNoData = new QLabel(QStringLiteral("No data yet"), chPie);
    laNoData->setObjectName(QStringLiteral("laNoData"));
    laNoData->setAlignment(Qt::AlignCenter);
    laNoData->setAttribute(Qt::WA_TransparentForMouseEvents);

    pnButtons = MakeOkPanel(this, 7, btOk);

    auto *top = new QGridLayout;
    top->setContentsMargins(8, 4, 8, 0);
    top->setHorizontalSpacing(5);
    top->setVerticalSpacing(0);
    top->addWidget(laGraphType, 0, 0);
    top->addWidget(cbGraphType, 1, 0);
    top->addWidget(laGraphData, 0, 1);
    top->addWidget(cbGraphData, 1, 1);
    top->setColumnStretch(1, 1);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(4);
    outer->addLayout(top);
    outer->addWidget(chPie, 1);
    outer->addWidget(pnButtons);
    setTabOrder(cbGraphType, cbGraphData);
    setTabOrder(cbGraphData, btOk);

    tmUpdate = new QTimer(this);
    tmUpdate->setObjectName(QStringLiteral("tmUpdate"));
    tmUpdate->setInterval(5000);

    connect(btOk, &QPushButton::clicked, this, &TdlgStat::btOkClick);
    connect(tmUpdate, &QTimer::timeout, this, &TdlgStat::tmUpdateTimer);

    FormCreate();
}

void TdlgStat::FormCreate()
{
    for (const char *name : GraphTypeNames)
        cbGraphType->addItem(QString::fromLatin1(name));
    cbGraphData->addItem(QStringLiteral("All Groups"));
    for (const QByteArray &n : DataNames) {
        cbGraphData->addItem(SafeText::Shown(n));
        cbGraphData->setItemData(cbGraphData->count() - 1, SafeText::Shown(n), Qt::ToolTipRole);
    }
    // Sized once filled; never beyond the screen, so Ok stays on it at any scale.
    FitFixedDialog(this, 511, 406);
    CentreOverOwner(this, parentWidget());
    ApplyPalette();
    cbGraphType->setCurrentIndex(0);
    cbGraphData->setCurrentIndex(0);
    connect(cbGraphType, &QComboBox::currentIndexChanged, this, &TdlgStat::cbGraphDataClick);
    connect(cbGraphData, &QComboBox::currentIndexChanged, this, &TdlgStat::cbGraphDataClick);
    tmUpdateTimer();
    tmUpdate->start();
}

void TdlgStat::tmUpdateTimer()
{
    gpPie->clear();
    const int type = cbGraphType->currentIndex();
    cbGraphData->setEnabled(type != GraphTime);
    const int data = cbGraphData->currentIndex();
    const QByteArray prefix = data > 0 && data <= DataNames.size() ? DataNames[data - 1] : QByteArray();
    Chart->setTitle(cbGraphType->currentText());

    const QList<TStatSlice> slices = StatSlices(type, prefix, GroupNames);
    for (const TStatSlice &s : slices) {
        QPieSlice *slice = gpPie->append(s.Label, s.Value);
        slice->setColor(s.Colour);
        slice->setBorderColor(palette().color(QPalette::Window));
    }
    // The marks show the share; the legend keeps the names.
    const QList<QPieSlice *> pieSlices = gpPie->slices();
    for (QPieSlice *slice : pieSlices) {
        slice->setLabel(FormatPercent(slice->percentage()));
        slice->setLabelVisible(true);
        slice->setLabelPosition(QPieSlice::LabelOutside);
        slice->setLabelColor(palette().color(QPalette::WindowText));
    }
    laNoData->setVisible(slices.isEmpty());
    const QList<QLegendMarker *> markers = Chart->legend()->markers(gpPie);
    for (qsizetype i = 0; i < markers.size() && i < slices.size(); ++i)
        markers[i]->setLabel(slices[i].Label);
    FitLabelArms();
}

QStringList TdlgStat::SliceNames() const
{
    QStringList out;
    for (QLegendMarker *m : Chart->legend()->markers(gpPie))
        out << m->label();
    return out;
}

// Qt sizes label arms relative to the radius; keep them at a fixed length.
void TdlgStat::FitLabelArms()
{
    QRectF area = Chart->plotArea();
    if (area.isEmpty())
        area = QRectF(QPointF(0, 0), QSizeF(chPie->size()));
    const double radius = gpPie->pieSize() * qMin(area.width(), area.height()) / 2.0;
    if (radius <= 0)
        return;
    for (QPieSlice *slice : gpPie->slices())
        slice->setLabelArmLengthFactor(LabelArmPixels / radius);
}

// The chart draws its own background and text: they follow the palette, so a
// dark palette is readable.
void TdlgStat::ApplyPalette()
{
    const QPalette p = palette();
    Chart->setBackgroundBrush(p.brush(QPalette::Window));
    Chart->setTitleBrush(p.brush(QPalette::WindowText));
    Chart->legend()->setLabelColor(p.color(QPalette::WindowText));
    chPie->setBackgroundBrush(p.brush(QPalette::Window));
    for (QPieSlice *slice : gpPie->slices()) {
        slice->setLabelColor(p.color(QPalette::WindowText));
        slice->setBorderColor(p.color(QPalette::Window));
    }
}

void TdlgStat::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        ApplyPalette();
}

void TdlgStat::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    laNoData->setGeometry(chPie->rect());
    FitLabelArms();
}

void TdlgStat::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    laNoData->setGeometry(chPie->rect());
    FitLabelArms();
}

void TdlgStat::cbGraphDataClick() { tmUpdateTimer(); }

void TdlgStat::btOkClick() { close(); }
