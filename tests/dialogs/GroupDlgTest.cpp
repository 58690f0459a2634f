#include "DialogTestSupport.h"
#include "GroupDlg.h"
#include "TGroupListModel.h"
#include "TGroupListView.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using Names = QList<QByteArray>;

namespace {
Names Items(const QListWidget *list)
{
    Names out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->data(Qt::UserRole).toByteArray();
    return out;
}
Names Items(const TGroupListView *list) { return list->ShownBytes(); }
}

TEST(GroupCache, LinesEndAtCrLfLoneCrOrLoneLfAndAZeroByteEndsTheText)
{
    struct Case {
        QByteArray data;
        Names expected;
    };
    const Case cases[] = {
        {"", {}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\nc\n", {"a", "b", "c"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\n\nb", {"a", "", "b"}},           // empty line kept, last line without end counts
        {"a\n\rb", {"a", "", "b"}},             // LF CR is two line ends, not one
        {"a\r\r\nb", {"a", "", "b"}},
        {QByteArray("a\r\nb\0c\r\nd", 10), {"a", "b"}},
        {QByteArray("\0a\r\n", 4), {}},
        {"\r\n", {""}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ParseGroupCache(c.data), c.expected) << c.data.toPercentEncoding().constData();
}

TEST(GroupDialog, OpensWithTheCacheAndACopyOfTheSelection)
{
    TempProgramDir dir;
    dir.write("Groups.dbf", "alt.a\nalt.b\nalt.c\n");
    Names names{"alt.c", "alt.a"};
    TZqNNTP client;
    TdlgGroup dlg(nullptr, names, client);
    EXPECT_EQ(dlg.windowTitle(), "Group Selection");
    EXPECT_EQ(Items(dlg.lbAllGroups), (Names{"alt.a", "alt.b", "alt.c"}));
    EXPECT_EQ(Items(dlg.lbSelGroups), names);
    EXPECT_EQ(dlg.lbAllGroups->currentRow(), 0);
    EXPECT_EQ(dlg.lbSelGroups->currentRow(), 0);
    EXPECT_TRUE(dlg.btOk->isDefault());

    // Without a cache and without groups nothing is selected.
    QFile::remove(dir.path("Groups.dbf"));
    Names none;
    TdlgGroup empty(nullptr, none, client);
    EXPECT_EQ(empty.lbAllGroups->count(), 0);
    EXPECT_EQ(empty.lbSelGroups->currentRow(), -1);
}

TEST(GroupDialog, FetchShowsTheListGrowingAndRewritesTheCache)
{
    TempProgramDir dir;
    dir.write("Groups.dbf", "old.group\n");
    ConnectedClient cc;
    cc.server.Script("List", {"215 groups\r\nalt.one 5 1 y\r\n", "alt.two 2 1 n\r\n", "alt.three 3 1 y\r\n.\r\n"});
    ASSERT_TRUE(cc.Connect());
    Names names;
    TdlgGroup dlg(nullptr, names, cc.client);

    // Connected after the dialog, so this sees the list as the dialog left it.
    QList<int> counts;
    bool buttonsOffWhileFetching = true;
    QObject::connect(&cc.client, &TZqNNTP::GroupListGrew, [&] {
        counts << dlg.lbAllGroups->count();
        if (dlg.lbAllGroups->count() > 0) {
            EXPECT_EQ(dlg.lbAllGroups->currentRow(), dlg.lbAllGroups->count() - 1);
        }
        buttonsOffWhileFetching &= !dlg.btOk->isEnabled() && dlg.btCancel->isEnabled()
                                   && !dlg.btGetGroupList->isEnabled() && dlg.btCopy->isEnabled();
    });
    dlg.btGetGroupListClick();

    EXPECT_EQ(Items(dlg.lbAllGroups), (Names{"alt.one", "alt.two", "alt.three"}));
    EXPECT_TRUE(counts.contains(1)) << "the names should appear as they arrive";
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
    EXPECT_TRUE(buttonsOffWhileFetching);
    EXPECT_EQ(dlg.lbAllGroups->currentRow(), 0);
    EXPECT_TRUE(dlg.btOk->isEnabled() && dlg.btCancel->isEnabled() && dlg.btGetGroupList->isEnabled());
    EXPECT_EQ(dir.read("Groups.dbf"), QByteArray("alt.one\r\nalt.two\r\nalt.three\r\n"));
}

TEST(GroupDialog, RefusedFetchEmptiesTheListAndTruncatesTheCache)
{
    TempProgramDir dir;
    dir.write("Groups.dbf", "alt.a\r\nalt.b\r\n");
    ConnectedClient cc;
    cc.server.Script("List", {"502 no permission\r\n"});
    ASSERT_TRUE(cc.Connect());
    Names names;
    TdlgGroup dlg(nullptr, names, cc.client);
    ASSERT_EQ(dlg.lbAllGroups->count(), 2);
    dlg.btGetGroupListClick();
    EXPECT_EQ(dlg.lbAllGroups->count(), 0);
    EXPECT_TRUE(QFile::exists(dir.path("Groups.dbf")));
    EXPECT_EQ(dir.read("Groups.dbf"), QByteArray());
    EXPECT_TRUE(dlg.btOk->isEnabled());
}

TEST(GroupDialog, CopyingTwiceAddsOnceAndOkHandsItOn)
{
    TempProgramDir dir;
    dir.write("Groups.dbf", "alt.a\r\nalt.b\r\n");
    Names names{"alt.x"};
    TZqNNTP client;
    TdlgGroup dlg(nullptr, names, client);
    dlg.lbAllGroups->setCurrentRow(1);
    dlg.btCopyClick();
    dlg.btCopyClick(); // already chosen: shown, not added again
    EXPECT_EQ(dlg.lbAllGroups->currentRow(), 1);
    EXPECT_EQ(dlg.lbSelGroups->currentRow(), 1);
    EXPECT_EQ(names, Names{"alt.x"}) << "nothing changes before Ok";
    // A double-click adds as ">>>" does.
    emit dlg.lbAllGroups->doubleClicked(dlg.lbAllGroups->Model->index(0, 0));
    dlg.btOkClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(names, (Names{"alt.x", "alt.b", "alt.a"}));
}

// Several groups go over at once, in the list's order; Enter in the filter
// adds what it found and leaves the dialog open.
TEST(GroupDialog, SeveralChosenGroupsAndEnterInTheFilterAdd)
{
    TempProgramDir dir;
    dir.write("Groups.dbf", "alt.a\r\nalt.b\r\nalt.c\r\nalt.d\r\n");
    Names names;
    TZqNNTP client;
    TdlgGroup dlg(nullptr, names, client);
    dlg.show();
    auto *selection = dlg.lbAllGroups->selectionModel();
    selection->select(dlg.lbAllGroups->Model->index(2, 0), QItemSelectionModel::ClearAndSelect);
    selection->select(dlg.lbAllGroups->Model->index(0, 0), QItemSelectionModel::Select);
    dlg.btCopyClick();
    EXPECT_EQ(Items(dlg.lbSelGroups), (Names{"alt.a", "alt.c"}));

    dlg.edFilter->setFocus();
    dlg.edFilter->setText("d");
    QTest::keyClick(dlg.edFilter, Qt::Key_Return);
    EXPECT_EQ(Items(dlg.lbSelGroups), (Names{"alt.a", "alt.c", "alt.d"}));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
}

// A resized dialog opens at that size again; the cached list is offered
// only for the server it came from.
TEST(GroupDialog, KeepsItsSizeAndTheCacheBelongsToItsHost)
{
    TempProgramDir dir;
    IniWriteString("CONFIG", "HOST", "news.example");
    Names names;
    TZqNNTP client;
    {
        TdlgGroup dlg(nullptr, names, client);
        EXPECT_LT(dlg.minimumWidth(), dlg.maximumWidth());
        dlg.resize(760, 430);
        dlg.btCancelClick();
    }
    ASSERT_TRUE(WriteGroupCache({"alt.here"}, "news.example"));
    EXPECT_EQ(dir.read("Groups.dbf"), "alt.here\r\n"); // as it always was
    {
        TdlgGroup dlg(nullptr, names, client);
        EXPECT_EQ(dlg.size(), QSize(760, 430));
        EXPECT_EQ(Items(dlg.lbAllGroups), Names{"alt.here"});
        EXPECT_EQ(dlg.lbAllGroups->textElideMode(), Qt::ElideMiddle);
    }
    IniWriteString("CONFIG", "HOST", "other.example");
    TdlgGroup other(nullptr, names, client);
    EXPECT_EQ(other.lbAllGroups->count(), 0);
}

TEST(GroupDialog, CancelAndEmptyOkReplaceAsExpected)
{
    TempProgramDir dir;
    Names names{"alt.a", "alt.b"};
    TZqNNTP client;
    {
        TdlgGroup dlg(nullptr, names, client);
        dlg.btDeleteGroupClick();
        dlg.btCancelClick();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        EXPECT_EQ(names, (Names{"alt.a", "alt.b"}));
    }
    TdlgGroup dlg(nullptr, names, client);
    dlg.btDeleteGroupClick();
    dlg.btDeleteGroupClick();
    dlg.btOkClick();
    EXPECT_TRUE(names.isEmpty());
}

TEST(GroupDialog, DeletingSelectsTheSamePositionOrTheNewLast)
{
    TempProgramDir dir;
    Names names{"a", "b", "c"};
    TZqNNTP client;
    TdlgGroup dlg(nullptr, names, client);
    dlg.lbSelGroups->setCurrentRow(2);
    QTest::keyClick(dlg.lbSelGroups, Qt::Key_Delete);
    EXPECT_EQ(Items(dlg.lbSelGroups), (Names{"a", "b"}));
    EXPECT_EQ(dlg.lbSelGroups->currentRow(), 1);

    dlg.lbSelGroups->setCurrentRow(0);
    QTest::keyClick(dlg.lbSelGroups, Qt::Key_Delete, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(Items(dlg.lbSelGroups), Names{"b"});
    EXPECT_EQ(dlg.lbSelGroups->currentRow(), 0);

    dlg.btDeleteGroupClick();
    EXPECT_EQ(dlg.lbSelGroups->count(), 0);
    EXPECT_TRUE(dlg.lbSelGroups->selectedItems().isEmpty());
    dlg.btDeleteGroupClick(); // nothing left: nothing happens
    EXPECT_EQ(dlg.lbSelGroups->count(), 0);
}

TEST(GroupDialog, AltArrowsMoveTheEntryAndStopAtTheEnds)
{
    TempProgramDir dir;
    Names names{"a", "b", "c"};
    TZqNNTP client;
    TdlgGroup dlg(nullptr, names, client);
    QListWidget *list = dlg.lbSelGroups;

    struct Step {
        int row;
        Qt::Key key;
        Names expected;
        int selected;
    };
    const Step steps[] = {
        {0, Qt::Key_Up, {"a", "b", "c"}, 0},   // first entry: no change, cursor stays
        {2, Qt::Key_Down, {"a", "b", "c"}, 2}, // last entry: no change
        {0, Qt::Key_Down, {"b", "a", "c"}, 1}, // the selection moves with the entry
        {1, Qt::Key_Down, {"b", "c", "a"}, 2},
        {2, Qt::Key_Up, {"b", "a", "c"}, 1},
        {1, Qt::Key_Up, {"a", "b", "c"}, 0},
    };
    // The keys, and the buttons that do the same.
    for (bool buttons : {false, true}) {
        for (const Step &s : steps) {
            list->setCurrentRow(s.row);
            if (buttons)
                (s.key == Qt::Key_Up ? dlg.btMoveUp : dlg.btMoveDown)->click();
            else
                QTest::keyClick(list, s.key, Qt::AltModifier);
            EXPECT_EQ(Items(list), s.expected) << s.row << " " << s.key << " " << buttons;
            EXPECT_EQ(list->currentRow(), s.selected) << s.row << " " << s.key;
            EXPECT_TRUE(list->currentItem()->isSelected());
        }
    }
    // Plain arrows stay ordinary cursor keys.
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Items(list), (Names{"a", "b", "c"}));
    EXPECT_EQ(list->currentRow(), 1);
}

TEST(GroupDialog, FilterShowsMatchingNamesAndCopiesTheOneShown)
{
    TempProgramDir dir;
    dir.write("Groups.dbf", "alt.binaries.pictures.Nature\r\nalt.chat\r\nde.alt.binaries.bilder.natur\r\n");
    Names names;
    TZqNNTP client;
    TdlgGroup dlg(nullptr, names, client);
    dlg.edFilter->setText("NATUR");
    EXPECT_EQ(Items(dlg.lbAllGroups), (Names{"alt.binaries.pictures.Nature", "de.alt.binaries.bilder.natur"}));
    dlg.lbAllGroups->setCurrentRow(1);
    dlg.btCopyClick();
    dlg.edFilter->setText("nothing like it");
    EXPECT_EQ(dlg.lbAllGroups->count(), 0);
    dlg.btCopyClick(); // nothing shown, nothing copied
    dlg.edFilter->clear();
    EXPECT_EQ(dlg.lbAllGroups->count(), 3);
    EXPECT_EQ(Items(dlg.lbSelGroups), Names{"de.alt.binaries.bilder.natur"});
    EXPECT_EQ(dlg.lbAllGroups->Model->index(0).data(Qt::ToolTipRole).toString(), "alt.binaries.pictures.Nature");
}

// Cancel while the list arrives ends the wait at once, keeps the cache and
// the names shown before, and closes the dialog.
TEST(GroupDialog, CancelWhileListingStopsAndKeepsTheCache)
{
    TempProgramDir dir;
    dir.write("Groups.dbf", "alt.cached\r\n");
    ConnectedClient cc;
    cc.server.Script("List", {"215 groups\r\nalt.one 5 1 y\r\n"}); // the rest never comes
    ASSERT_TRUE(cc.Connect());
    Names names;
    TdlgGroup dlg(nullptr, names, cc.client);
    bool cancelled = false;
    QObject::connect(&cc.client, &TZqNNTP::GroupListGrew, &dlg, [&] {
        if (!cancelled && dlg.IsFetching() && dlg.lbAllGroups->count() > 0) {
            cancelled = true;
            QTimer::singleShot(0, dlg.btCancel, &QPushButton::click);
        }
    });
    dlg.btGetGroupListClick();
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(cc.watchdogFired) << "the watchdog, not Cancel, ended the wait";
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(Items(dlg.lbAllGroups), Names{"alt.cached"});
    EXPECT_EQ(dir.read("Groups.dbf"), QByteArray("alt.cached\r\n"));
    EXPECT_TRUE(names.isEmpty());
}
