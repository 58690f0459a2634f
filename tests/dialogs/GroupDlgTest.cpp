#include "DialogTestSupport.h"
#include "GroupDlg.h"
#include "TempProgramDir.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

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
        buttonsOffWhileFetching &= !dlg.btOk->isEnabled() && !dlg.btCancel->isEnabled()
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

TEST(GroupDialog, CopyingTwiceKeepsBothAndOkHandsThemOn)
{
    TempProgramDir dir;
    dir.write("Groups.dbf", "alt.a\r\nalt.b\r\n");
    Names names{"alt.x"};
    TZqNNTP client;
    TdlgGroup dlg(nullptr, names, client);
    dlg.lbAllGroups->setCurrentRow(1);
    dlg.btCopyClick();
    dlg.btCopyClick();
    EXPECT_EQ(dlg.lbAllGroups->currentRow(), 1);
    EXPECT_EQ(dlg.lbSelGroups->currentRow(), 0);
    EXPECT_EQ(names, Names{"alt.x"}) << "nothing changes before Ok";
    dlg.btOkClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(names, (Names{"alt.x", "alt.b", "alt.b"}));
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
    for (const Step &s : steps) {
        list->setCurrentRow(s.row);
        QTest::keyClick(list, s.key, Qt::AltModifier);
        EXPECT_EQ(Items(list), s.expected) << s.row << " " << s.key;
        EXPECT_EQ(list->currentRow(), s.selected) << s.row << " " << s.key;
        EXPECT_TRUE(list->currentItem()->isSelected());
    }
    // Plain arrows stay ordinary cursor keys.
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Items(list), (Names{"a", "b", "c"}));
    EXPECT_EQ(list->currentRow(), 1);
}
