#pragma once
#include <QByteArray>
#include <QColor>
#include <QDialog>
#include <QList>
#include <QString>

class QChart;
class QChartView;
class QComboBox;
class QFrame;
class QLabel;
class QPieSeries;
class QPushButton;
class QTimer;

// One slice as the refresh computes it, before it is handed to the chart.
struct TStatSlice {
    QString Label;
    double Value = 0;
    QColor Colour;
    bool operator==(const TStatSlice &) const = default;
};

enum { GraphArticles = 0, GraphBytes = 1, GraphTime = 2 };

// The slices of one graph from the counters in the settings file. prefix is a
// group's name or empty for the totals; the time graph walks groupNames.
QList<TStatSlice> StatSlices(int graphType, const QByteArray &prefix, const QList<QByteArray> &groupNames);

// "33.33 %": the share of the whole, up to two decimals.
QString FormatPercent(double share);

// Modeless pie chart of the statistics counters, refreshed every five seconds
// and on every change of either list. Deletes itself when closed.
class TdlgStat : public QDialog {
    Q_OBJECT
public:
    TdlgStat(QWidget *owner, const QList<QByteArray> &groupNames);

    QLabel *laGraphType;
    QComboBox *cbGraphType;
    QLabel *laGraphData;
    QComboBox *cbGraphData;
    QChartView *chPie;
    QChart *Chart;
    QPieSeries *gpPie;
    QTimer *tmUpdate;
    QFrame *pnButtons;
    QPushButton *btOk;
    QLabel *laNoData; // over the chart while it has no slice

    void tmUpdateTimer();
    void cbGraphDataClick();
    void btOkClick();

    // What the legend names each slice, in slice order.
    QStringList SliceNames() const;

protected:
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void FitLabelArms();
    void ApplyPalette();

    const QList<QByteArray> &GroupNames; // the main window's live list
    QList<QByteArray> DataNames;         // the groups offered when the window opened
};
