#include "AboutDlg.h"
#include "ClearDlg.h"
#include "ConfigDlg.h"
#include "FilterDlg.h"
#include "GroupDlg.h"
#include "RulesDlg.h"
#include "StatDlg.h"
#include "TFrmMain.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"

#include <QAbstractButton>
#include <QDialog>
#include <QLayout>
#include <QLabel>
#include <QMenuBar>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

QChar accessLetter(const QString &text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] != QLatin1Char('&'))
            return text[i + 1].toLower();
        ++i; // "&&" is a plain ampersand
    }
    return QChar();
}

// The captions in one window whose letter Alt reaches: buttons, labels with
// a buddy and the menu bar's titles.
void letterOwners(QWidget *window, QMap<QChar, QStringList> *byLetter)
{
    auto add = [&](const QString &text) {
        const QChar c = accessLetter(text);
        if (!c.isNull())
            (*byLetter)[c] << text;
    };
    // Controls shown in turn (the filter dialog's Add/Delete and Done/Cancel)
    // may share a letter: only those shown together count.
    for (QAbstractButton *b : window->findChildren<QAbstractButton *>())
        if (b->isVisibleTo(window))
            add(b->text());
    for (QLabel *l : window->findChildren<QLabel *>())
        if (l->buddy() && l->isVisibleTo(window))
            add(l->text());
    if (auto *mw = qobject_cast<QMainWindow *>(window))
        for (QAction *a : mw->menuBar()->actions())
            add(a->text());
}

} // namespace

TEST(AccessLetters, UniqueWithinEachWindow)
{
    TempProgramDir dir;
    QList<QByteArray> names{"alt.one"};
    QList<TGroupMark> marks{{}};
    TZqNNTP client;
    const std::pair<const char *, std::function<QWidget *()>> windows[] = {
        {"main", [] { return new TFrmMain; }},
        {"group", [&] { return new TdlgGroup(nullptr, names, client); }},
        {"filter", [&] { return new TdlgFilter(nullptr, names); }},
        {"filter adding", [&] {
             auto *d = new TdlgFilter(nullptr, names);
             d->btAddClick();
             return d;
         }},
        {"rules", [&] { return new TdlgRules(nullptr, dir.path("Rules.dat")); }},
        {"config", [] { return new TdlgConfig(nullptr); }},
        {"stat", [&] { return new TdlgStat(nullptr, names); }},
        {"about", [] { return new TdlgAbout(nullptr); }},
        {"clear", [&] { return new TfrmClearDlg(nullptr, names, marks, client); }},
    };
    for (const auto &[name, make] : windows) {
        std::unique_ptr<QWidget> w(make());
        QMap<QChar, QStringList> byLetter;
        letterOwners(w.get(), &byLetter);
        for (auto it = byLetter.cbegin(); it != byLetter.cend(); ++it)
            EXPECT_EQ(it.value().size(), 1) << name << ": " << it.value().join(", ").toStdString();
    }
}

namespace {
// The widgets Tab reaches, in the order it reaches them.
QList<QWidget *> tabChain(QWidget *window)
{
    QList<QWidget *> chain;
    for (QWidget *w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
        if (w->isVisibleTo(window) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
            chain << w;
    return chain;
}

QRect inWindow(QWidget *w, QWidget *window) { return QRect(w->mapTo(window, QPoint()), w->size()); }
} // namespace

// Tab goes down the rows and, within a row, from left to right, in either
// mode of the filter dialog.
TEST(TabOrder, FollowsTheLayout)
{
    TempProgramDir dir;
    QList<QByteArray> names{"alt.one", "alt.two"};
    QList<TGroupMark> marks{{}, {}};
    TZqNNTP client;
    const std::pair<const char *, std::function<QDialog *()>> windows[] = {
        {"filter", [&] { return new TdlgFilter(nullptr, names); }},
        {"filter adding", [&] {
             auto *d = new TdlgFilter(nullptr, names);
             d->btAddClick();
             return d;
         }},
        {"clear", [&] { return new TfrmClearDlg(nullptr, names, marks, client); }},
        {"rules", [&] { return new TdlgRules(nullptr, dir.path("Rules.dat")); }},
    };
    for (const auto &[name, make] : windows) {
        std::unique_ptr<QDialog> d(make());
        d->show();
        d->layout()->activate();
        const QList<QWidget *> chain = tabChain(d.get());
        ASSERT_GE(chain.size(), 3) << name;
        for (qsizetype i = 0; i + 1 < chain.size(); ++i) {
            const QRect a = inWindow(chain[i], d.get());
            const QRect b = inWindow(chain[i + 1], d.get());
            const bool sameRow = b.top() <= a.bottom() && a.top() <= b.bottom();
            EXPECT_TRUE(sameRow ? b.left() > a.right() : b.top() > a.bottom())
                << name << ": " << chain[i]->objectName().toStdString() << " then "
                << chain[i + 1]->objectName().toStdString();
        }
    }
}
