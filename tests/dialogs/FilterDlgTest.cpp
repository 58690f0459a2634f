#include "FilterDlg.h"
#include "MessageRecorder.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using Strings = QList<QByteArray>;

namespace {
Strings Items(const QListWidget *list)
{
    Strings out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->data(Qt::UserRole).toByteArray();
    return out;
}

void Enter(TdlgFilter &dlg, const QString &text)
{
    dlg.btAddClick();
    dlg.tbFilter->setText(text);
    dlg.btDoneClick();
}
}

TEST(FilterDialog, ListIsSortedWithoutRegardToCaseAndOkReturnsItSorted)
{
    Strings filters{"zeta", "Alpha", "beta", "Gamma"};
    TdlgFilter dlg(nullptr, filters);
    EXPECT_EQ(dlg.windowTitle(), "Filter Settings");
    EXPECT_EQ(Items(dlg.lbFilterList), (Strings{"Alpha", "beta", "Gamma", "zeta"}));
    Enter(dlg, "Delta");
    EXPECT_EQ(Items(dlg.lbFilterList), (Strings{"Alpha", "beta", "Delta", "Gamma", "zeta"}));
    EXPECT_EQ(dlg.lbFilterList->currentItem()->text(), "Delta");
    EXPECT_EQ(filters.size(), 4) << "the list changes only on Ok";
    dlg.btOkClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(filters, (Strings{"Alpha", "beta", "Delta", "Gamma", "zeta"}));
}

TEST(FilterDialog, DuplicateTestIgnoresCaseAndComesBeforeTheBlankTest)
{
    struct Case {
        Strings list;
        QString text;
        QString message; // empty: accepted
    };
    const Case cases[] = {
        {{"Holiday"}, "hOLIDAY", "That string already exists!"},
        {{"Holiday"}, "", "Blank strings are not allowed!"},
        {{"Holiday", ""}, "", "That string already exists!"},
        {{"Holiday"}, " ", ""},
        {{"Holiday", " "}, " ", "That string already exists!"},
        {{"Holiday"}, " Holiday", ""}, // not trimmed
    };
    for (const Case &c : cases) {
        Strings filters = c.list;
        TdlgFilter dlg(nullptr, filters);
        MessageRecorder rec;
        Enter(dlg, c.text);
        if (c.message.isEmpty()) {
            EXPECT_TRUE(rec.shown().isEmpty()) << c.text.toStdString();
            EXPECT_FALSE(dlg.Adding());
            EXPECT_TRUE(Items(dlg.lbFilterList).contains(c.text.toUtf8()));
            EXPECT_EQ(dlg.lbFilterList->count(), c.list.size() + 1);
        } else {
            ASSERT_EQ(rec.shown().size(), 1) << c.text.toStdString();
            EXPECT_EQ(rec.shown()[0].text, c.message);
            EXPECT_EQ(rec.shown()[0].caption, "Error");
            EXPECT_EQ(rec.shown()[0].icon, MsgIcon::Error);
            EXPECT_EQ(rec.shown()[0].buttons, MsgButtons::Ok);
            EXPECT_TRUE(dlg.Adding()) << "a refused entry stays in adding mode";
            EXPECT_EQ(dlg.tbFilter->text(), c.text);
            EXPECT_EQ(dlg.lbFilterList->count(), c.list.size());
        }
    }
}

TEST(FilterDialog, InsertOpensAddingAndEnterInTheFieldActsAsDone)
{
    Strings filters{"b"};
    TdlgFilter dlg(nullptr, filters);
    dlg.show();
    QTest::keyClick(dlg.lbFilterList, Qt::Key_Insert);
    ASSERT_TRUE(dlg.Adding());
    QTest::keyClicks(dlg.tbFilter, "a");
    QTest::keyClick(dlg.tbFilter, Qt::Key_Return);
    EXPECT_FALSE(dlg.Adding());
    EXPECT_TRUE(dlg.isVisible()) << "Enter in the field must not close the dialog";
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(Items(dlg.lbFilterList), (Strings{"a", "b"}));
    EXPECT_EQ(filters, Strings{"b"});

    // A refused entry with Enter: the message, and still open.
    MessageRecorder rec;
    QTest::keyClick(dlg.lbFilterList, Qt::Key_Insert);
    QTest::keyClick(dlg.tbFilter, Qt::Key_Enter);
    EXPECT_EQ(rec.texts(), QStringList{"Blank strings are not allowed!"});
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.Adding());
}

TEST(FilterDialog, DeleteSelectsTheSamePositionOrTheNewLast)
{
    Strings filters{"a", "b", "c"};
    TdlgFilter dlg(nullptr, filters);
    dlg.btDeleteClick(); // nothing selected yet
    EXPECT_EQ(dlg.lbFilterList->count(), 3);

    dlg.lbFilterList->setCurrentRow(2);
    QTest::keyClick(dlg.lbFilterList, Qt::Key_Delete);
    EXPECT_EQ(Items(dlg.lbFilterList), (Strings{"a", "b"}));
    EXPECT_EQ(dlg.lbFilterList->currentRow(), 1);
    dlg.lbFilterList->setCurrentRow(0);
    dlg.btDeleteClick();
    EXPECT_EQ(Items(dlg.lbFilterList), Strings{"b"});
    EXPECT_EQ(dlg.lbFilterList->currentRow(), 0);
    dlg.btDeleteClick();
    EXPECT_EQ(dlg.lbFilterList->count(), 0);
    EXPECT_TRUE(dlg.lbFilterList->selectedItems().isEmpty());
}

TEST(FilterDialog, ClosingWithoutOkLeavesTheListAlone)
{
    Strings filters{"b", "a"};
    TdlgFilter dlg(nullptr, filters);
    Enter(dlg, "c");
    dlg.lbFilterList->setCurrentRow(0);
    dlg.btDeleteClick();
    dlg.reject();
    EXPECT_EQ(filters, (Strings{"b", "a"}));
}

TEST(FilterDialog, BytesOfTheListSurviveUnchanged)
{
    // A string read from the file that is not valid UTF-8 goes back out as it came.
    Strings filters{QByteArray("caf\xe9"), "x"};
    TdlgFilter dlg(nullptr, filters);
    dlg.btOkClick();
    EXPECT_TRUE(filters.contains(QByteArray("caf\xe9")));
    EXPECT_EQ(filters.size(), 2);
}
