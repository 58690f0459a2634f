#include "FilterDlg.h"
#include "GroupDlg.h"
#include "StatDlg.h"
#include "TDialogs.h"
#include "TFrmMain.h"
#include "TempProgramDir.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {
// Runs fn on the modal dialog once it is up; gives up (rejecting it) after
// half a minute, a bound on a fault rather than on the machine's speed.
class OnModal {
public:
    explicit OnModal(std::function<void(QDialog *)> fn) : fn_(std::move(fn))
    {
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!d)
                return;
            poll_.stop();
            seen = d;
            fn_(d);
            if (d->isVisible()) // the handler did not close it: a failure, but no hang
                d->QDialog::reject();
        });
        poll_.start();
        giveUp_.setSingleShot(true);
        QObject::connect(&giveUp_, &QTimer::timeout, [this] { poll_.stop(); });
        giveUp_.start(30000);
    }
    QPointer<QDialog> seen;

private:
    std::function<void(QDialog *)> fn_;
    QTimer poll_, giveUp_;
};
}

TEST(DialogFactory, FilterDialogWorksOnTheWindowsListAndIsGoneAfterwards)
{
    TempProgramDir dir;
    TDialogs dialogs;
    TFrmMain frm;
    frm.SetDialogFactory(&dialogs);
    frm.FilterStrings = {"zz", "aa"};
    bool wasFilterDialog = false;
    OnModal on([&](QDialog *d) {
        auto *f = qobject_cast<TdlgFilter *>(d);
        wasFilterDialog = f && f->parentWidget() == &frm;
        if (!f)
            return;
        f->btAddClick();
        f->tbFilter->setText("mm");
        f->btDoneClick();
        f->btOkClick();
    });
    frm.miFiltersClick();
    EXPECT_TRUE(wasFilterDialog);
    EXPECT_TRUE(on.seen.isNull()) << "the dialog is destroyed after it closes";
    EXPECT_EQ(frm.FilterStrings, (QList<QByteArray>{"aa", "mm", "zz"}));
    EXPECT_TRUE(dir.read("Filters.dat").contains("mm"));
}

TEST(DialogFactory, GroupDialogReportsOkAndReplacesTheNames)
{
    TempProgramDir dir;
    TDialogs dialogs;
    TFrmMain frm;
    frm.GroupNames = {"alt.a", "alt.b"};
    {
        OnModal on([](QDialog *d) {
            if (auto *g = qobject_cast<TdlgGroup *>(d)) {
                g->btDeleteGroupClick();
                g->btCancelClick();
            }
        });
        EXPECT_FALSE(dialogs.ExecGroupDialog(frm));
        EXPECT_TRUE(on.seen.isNull());
        EXPECT_EQ(frm.GroupNames, (QList<QByteArray>{"alt.a", "alt.b"}));
    }
    OnModal on([](QDialog *d) {
        if (auto *g = qobject_cast<TdlgGroup *>(d)) {
            g->btDeleteGroupClick();
            g->btOkClick();
        }
    });
    EXPECT_TRUE(dialogs.ExecGroupDialog(frm));
    EXPECT_EQ(frm.GroupNames, QList<QByteArray>{"alt.b"});
}

TEST(DialogFactory, StatisticsCommandRaisesTheOneWindow)
{
    TempProgramDir dir;
    TDialogs dialogs;
    TFrmMain frm;
    frm.SetDialogFactory(&dialogs);
    frm.miStatisticsClick();
    frm.miStatisticsClick();
    const QList<TdlgStat *> open = frm.findChildren<TdlgStat *>();
    ASSERT_EQ(open.size(), 1);
    EXPECT_TRUE(open[0]->isVisible());
    EXPECT_FALSE(open[0]->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // Closed, the next use opens a new one.
    open[0]->btOkClick();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(frm.findChildren<TdlgStat *>().isEmpty());
    frm.miStatisticsClick();
    EXPECT_EQ(frm.findChildren<TdlgStat *>().size(), 1);
}
