#include "ClearDlg.h"
#include "DialogTestSupport.h"
#include "MessageRecorder.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {
class ClearDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        cc.server.groups << ConnectedClient::Group("alt.one", 100, 200) << ConnectedClient::Group("alt.zero", 0, 5)
                         << ConnectedClient::Group("alt.two", 7, 9);
        ASSERT_TRUE(cc.Connect());
    }
    TempProgramDir dir;
    ConnectedClient cc;
    QList<QByteArray> names{"alt.one", "alt.zero", "alt.two", "alt.gone"};
    QList<TGroupMark> marks{{"<a@b>+", 150}, {"<c@d>", 3}, {"<e@f>+", 8}, {"", 0}};
};
}

TEST_F(ClearDialog, OpensOnTheFirstGroupAndClearMovesItToTheLastArticle)
{
    TfrmClearDlg dlg(nullptr, names, marks, cc.client);
    EXPECT_EQ(dlg.windowTitle(), "Clear Articles");
    EXPECT_EQ(dlg.lbGroups->count(), 4);
    EXPECT_EQ(dlg.lbGroups->currentRow(), 0);
    EXPECT_EQ(dlg.laRange->text(), "First Article: 100, Last Article: 200");
    EXPECT_EQ(dlg.edClearArticle->text(), "200");
    EXPECT_TRUE(dlg.btClear->isEnabled());
    EXPECT_TRUE(dlg.btOk->isEnabled());

    MessageRecorder rec;
    dlg.btClearClick();
    EXPECT_TRUE(rec.shown().isEmpty());
    EXPECT_EQ(IniReadString("GROUPS", "alt.one", ""), "200");
    EXPECT_EQ(marks[0], (TGroupMark{"", 200}));
    EXPECT_EQ(marks[1], (TGroupMark{"<c@d>", 3}));
}

TEST_F(ClearDialog, BoundsAreInclusiveAndTextThatIsNotANumberIsZero)
{
    const struct {
        int row;
        QString typed;
        bool accepted;
        qint32 number;
    } cases[] = {
        {0, "100", true, 100}, {0, "200", true, 200}, {0, "99", false, 0}, {0, "201", false, 0},
        {0, "", false, 0},     {0, "abc", false, 0},  {1, "", true, 0},    {1, "abc", true, 0},
        {1, "5", true, 5},     {1, "6", false, 0},    {1, "-1", false, 0},
    };
    for (const auto &c : cases) {
        QFile::remove(dir.iniPath());
        QList<TGroupMark> fresh = marks;
        TfrmClearDlg dlg(nullptr, names, fresh, cc.client);
        dlg.lbGroups->setCurrentRow(c.row);
        dlg.edClearArticle->setText(c.typed);
        MessageRecorder rec;
        dlg.btClearClick();
        const std::string what = std::to_string(c.row) + " '" + c.typed.toStdString() + "'";
        if (c.accepted) {
            EXPECT_TRUE(rec.shown().isEmpty()) << what;
            EXPECT_EQ(IniReadString("GROUPS", names[c.row], "<absent>"), QByteArray::number(c.number)) << what;
            EXPECT_EQ(fresh[c.row], (TGroupMark{"", c.number})) << what;
        } else {
            ASSERT_EQ(rec.shown().size(), 1) << what;
            EXPECT_EQ(rec.shown()[0].text, "Article Out of Range!");
            EXPECT_EQ(rec.shown()[0].caption, "Article Error");
            EXPECT_EQ(rec.shown()[0].icon, MsgIcon::Error);
            EXPECT_EQ(IniReadString("GROUPS", names[c.row], "<absent>"), "<absent>") << what;
            EXPECT_EQ(fresh, marks) << what;
        }
    }
}

TEST_F(ClearDialog, ASecondGroupChangesOnlyItsOwnPointer)
{
    TfrmClearDlg dlg(nullptr, names, marks, cc.client);
    dlg.lbGroups->setCurrentRow(2);
    EXPECT_EQ(dlg.laRange->text(), "First Article: 7, Last Article: 9");
    EXPECT_EQ(dlg.edClearArticle->text(), "9");
    dlg.edClearArticle->setText("7");
    dlg.btClearClick();
    EXPECT_EQ(IniReadString("GROUPS", "alt.two", ""), "7");
    EXPECT_EQ(IniReadString("GROUPS", "alt.one", "<absent>"), "<absent>");
    EXPECT_EQ(marks[2], (TGroupMark{"", 7}));
    EXPECT_EQ(marks[0], (TGroupMark{"<a@b>+", 150}));
}

TEST_F(ClearDialog, AGroupTheServerRefusesOffersNoRange)
{
    TfrmClearDlg dlg(nullptr, names, marks, cc.client);
    dlg.lbGroups->setCurrentRow(3);
    EXPECT_EQ(dlg.laRange->text(), "Group alt.gone is not available");
    EXPECT_EQ(dlg.edClearArticle->text(), "");
    EXPECT_FALSE(dlg.btClear->isEnabled());
    EXPECT_TRUE(dlg.btOk->isEnabled());
    // The client still holds the first group's range; nothing may use it.
    dlg.edClearArticle->setText("150");
    MessageRecorder rec;
    dlg.btClearClick();
    EXPECT_EQ(IniReadString("GROUPS", "alt.gone", "<absent>"), "<absent>");
    EXPECT_EQ(IniReadString("GROUPS", "alt.one", "<absent>"), "<absent>");
    EXPECT_EQ(marks[3], (TGroupMark{"", 0}));

    // Back on an available group everything works again.
    dlg.lbGroups->setCurrentRow(0);
    EXPECT_TRUE(dlg.btClear->isEnabled());
    EXPECT_EQ(dlg.edClearArticle->text(), "200");
}

TEST_F(ClearDialog, AChoiceMadeDuringTheWaitIsTakenUpAfterIt)
{
    TfrmClearDlg dlg(nullptr, names, marks, cc.client);
    bool switched = false;
    QObject::connect(&cc.server, &FakeNntpServer::CommandReceived, &dlg, [&](const QByteArray &command) {
        if (command == "GROUP alt.two" && !switched) {
            switched = true;
            dlg.lbGroups->setCurrentRow(1); // the user picks another group meanwhile
        }
    });
    cc.server.commands.clear();
    dlg.lbGroups->setCurrentRow(2);
    EXPECT_EQ(cc.server.commands, (QList<QByteArray>{"GROUP alt.two\r\n", "GROUP alt.zero\r\n"}));
    EXPECT_EQ(dlg.laRange->text(), "First Article: 0, Last Article: 5");
    dlg.edClearArticle->setText("4");
    dlg.btClearClick();
    EXPECT_EQ(IniReadString("GROUPS", "alt.zero", ""), "4");
    EXPECT_EQ(marks[1], (TGroupMark{"", 4}));
}
