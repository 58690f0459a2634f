#include "TFrmMain.h"
#include "TPreviewPane.h"
#include "TestBodies.h"

#include "FakeDialogs.h"
#include "ManualClock.h"
#include "MessageRecorder.h"
#include "TRunReport.h"
#include "TThumbnailStrip.h"
#include "TTrayIcon.h"
#include "TZqImage.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

QByteArray readJpeg(const char *name)
{
    QFile f(QStringLiteral(PIXTRAWL_TEST_DATA "/jpeg/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { QApplication::setQuitOnLastWindowClosed(false); }
    TempProgramDir dir;
    MessageRecorder boxes;
};

TEST_F(MainWindowTest, FirstStartWithoutSettingsFile)
{
    FakeDialogs dialogs;
    TFrmMain w;
    w.SetDialogFactory(&dialogs);

    const QRect screen = w.screen()->geometry();
    EXPECT_EQ(w.x(), (screen.width() - w.width()) / 2);
    EXPECT_EQ(w.y(), (screen.height() - w.height()) / 2);
    EXPECT_EQ(w.centralWidget()->size(), QSize(TFrmMain::DesignWidth, TFrmMain::DesignHeight));
    EXPECT_EQ(w.windowTitle(), "Pixtrawl");
    EXPECT_FALSE(w.PreviewEnabled);
    EXPECT_EQ(w.btPreview->text(), "Enable &Preview");
    EXPECT_FALSE(w.miSearchAllGroups->isEnabled());
    EXPECT_EQ(w.State(), TFrmMain::StateOffline);
    EXPECT_TRUE(w.GroupNames.isEmpty());
    EXPECT_TRUE(w.FilterStrings.isEmpty());
    EXPECT_TRUE(w.Disposition.KnownChecksums.isEmpty());
    EXPECT_EQ(w.ProgramDir, dir.dir());
    EXPECT_TRUE(w.miClearArticles->isVisible());
    EXPECT_FALSE(w.miClearArticles->isEnabled());

    // Becoming active with no server configured opens the configuration dialog.
    w.show();
    w.activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialogs.config > 0; }, 5000));
    EXPECT_EQ(dialogs.config, 1);

    // Host alone is not enough; both set, activation asks nothing.
    IniWriteString("CONFIG", "HOST", "news.example");
    w.FormActivate();
    EXPECT_EQ(dialogs.config, 2);
    IniWriteString("CONFIG", "PORT", "119");
    w.FormActivate();
    EXPECT_EQ(dialogs.config, 2);
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(MainWindowTest, UnsavableSettingsOpenTheConfigurationOnlyOnce)
{
    QDir().mkpath(dir.iniPath()); // no settings file can be written there
    FakeDialogs dialogs;
    TFrmMain w;
    w.SetDialogFactory(&dialogs);
    w.FormActivate();
    w.FormActivate(); // the dialog closed without saving anything
    EXPECT_EQ(dialogs.config, 1);
}

TEST_F(MainWindowTest, LoadsGroupListAndTheThreePointerForms)
{
    IniWriteString("GROUPS", "LIST", "alt.a,alt.b,alt.c,alt.d,,alt.e,");
    IniWriteString("GROUPS", "alt.a", "12,<id@x>+");
    IniWriteString("GROUPS", "alt.b", "7");
    IniWriteString("GROUPS", "alt.d", "abc");
    IniWriteString("GROUPS", "alt.e", "99,<e@x>+");
    TFrmMain w;

    const QList<QByteArray> names{"alt.a", "alt.b", "alt.c", "alt.d"};
    EXPECT_EQ(w.GroupNames, names);
    const QList<TGroupMark> marks{{"<id@x>+", 12}, {"", 7}, {"", 0}, {"", 0}};
    EXPECT_EQ(w.GroupMarks, marks);
    EXPECT_TRUE(w.miSearchAllGroups->isEnabled());
    EXPECT_EQ(w.pbGroup->maximum(), 4);
}

TEST_F(MainWindowTest, ExcludeTakesPrecedenceOverFilterFile)
{
    dir.write("Filters.dat", "one\r\ntwo\r\n");
    {
        TFrmMain w;
        EXPECT_EQ(w.FilterStrings, (QList<QByteArray>{"one", "two"}));
    }
    IniWriteString("FILTER", "EXCLUDE", "pic,,later,");
    FakeDialogs dialogs;
    dialogs.onFilter = [](TFrmMain &m) { m.FilterStrings.append("new"); };
    TFrmMain w;
    w.SetDialogFactory(&dialogs);
    EXPECT_EQ(w.FilterStrings, QList<QByteArray>{"pic"});

    // The filter dialog's result goes to the file; the key itself stays.
    w.miFiltersClick();
    EXPECT_EQ(dialogs.filter, 1);
    EXPECT_EQ(dir.read("Filters.dat"), "pic\r\nnew\r\n");
    EXPECT_EQ(IniReadString("FILTER", "EXCLUDE", ""), "pic,,later,");
}

TEST_F(MainWindowTest, KnownChecksumsLoadedAtStartAndWrittenAtClose)
{
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    dir.write("CRC-32.dat", "00000010AABBCCDD\r\n00000001DEADBEEF\r\n");
    TFrmMain w;
    EXPECT_EQ(w.Disposition.KnownChecksums, (QList<QByteArray>{"00000001DEADBEEF", "00000010AABBCCDD"}));
    w.Disposition.KnownChecksums.append("00000020FFFFFFFF");
    w.show();
    EXPECT_TRUE(w.close());
    EXPECT_EQ(dir.read("CRC-32.dat"), "00000001DEADBEEF\r\n00000010AABBCCDD\r\n00000020FFFFFFFF\r\n");
}

TEST_F(MainWindowTest, StateTable)
{
    IniWriteString("GROUPS", "LIST", "alt.a,");
    TFrmMain w;
    struct Row {
        int state;
        bool groups, buttons, configuration, connect, disconnect;
    };
    const Row rows[] = {
        {0, false, false, true, true, false},
        {1, true, false, true, false, true},
        {2, false, true, false, false, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.state);
        w.mnFile->menuAction()->setEnabled(false); // as the search loop leaves it
        w.SetState(r.state);
        EXPECT_EQ(w.State(), r.state);
        EXPECT_TRUE(w.mnFile->menuAction()->isEnabled());
        EXPECT_EQ(w.mnGroups->menuAction()->isEnabled(), r.groups);
        EXPECT_EQ(w.miClearArticles->isEnabled(), r.groups); // a group can be started over when idle
        EXPECT_EQ(w.btSkipArticle->isEnabled(), r.buttons);
        EXPECT_EQ(w.btSkipGroup->isEnabled(), r.buttons);
        EXPECT_EQ(w.btStop->isEnabled(), r.buttons);
        EXPECT_TRUE(w.mnOptions->menuAction()->isEnabled());
        EXPECT_EQ(w.miConfiguration->isEnabled(), r.configuration);
        EXPECT_EQ(w.miConnect->isEnabled(), r.connect);
        EXPECT_EQ(w.miDisconnect->isEnabled(), r.disconnect);
        EXPECT_TRUE(w.miExit->isEnabled());
        EXPECT_TRUE(w.miStatistics->isEnabled());
        EXPECT_TRUE(w.miFilters->isEnabled());
        EXPECT_TRUE(w.mnAbout->isEnabled());
        // The item inside the menu follows the groups, not the state.
        EXPECT_TRUE(w.miSearchAllGroups->isEnabled());
    }
    w.SetState(7);
    EXPECT_EQ(w.State(), 2);
    EXPECT_TRUE(w.btStop->isEnabled());
}

TEST_F(MainWindowTest, ControlsCaptionsAndShortcuts)
{
    TFrmMain w;
    for (const char *name : {"pnToolbar", "pnStatus", "pnArticle", "laGroup", "pbGroup", "laArticle", "pbArticle",
                             "laArticleName", "laSubject", "laGroupName", "pnData", "pnPicture", "btPreview",
                             "pnButtons", "btSkipArticle", "btSkipGroup", "btStop", "mnMain", "mnGroups",
                             "mnOptions"})
        EXPECT_NE(w.findChild<QWidget *>(QLatin1String(name)), nullptr) << name;
    struct Item {
        QAction *action;
        const char *text;
        QKeySequence key;
    };
    const Item items[] = {
        {w.miConnect, "&Connect", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {w.miDisconnect, "&Disconnect", QKeySequence(Qt::CTRL | Qt::Key_D)},
        {w.miExit, "Exit", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {w.miSearchAllGroups, "Search &All Groups", QKeySequence(Qt::CTRL | Qt::Key_A)},
        {w.miClearArticles, "&Clear Articles", QKeySequence()},
        {w.miConfigureGroups, "Configure &Groups", QKeySequence(Qt::CTRL | Qt::Key_G)},
        {w.miStatistics, "Statistics", QKeySequence()},
        {w.miFilters, "Filters", QKeySequence()},
        {w.miConfiguration, "Configuration", QKeySequence()},
        {w.mnAbout, "&About", QKeySequence()},
        {w.miHelp, "Pixtrawl &Help", QKeySequence(Qt::Key_F1)},
    };
    for (const Item &i : items) {
        EXPECT_EQ(i.action->text(), i.text);
        EXPECT_EQ(i.action->shortcut(), i.key) << i.text;
    }
    EXPECT_EQ(w.mnFile->title(), "&File");
    EXPECT_EQ(w.mnGroups->title(), "&Groups");
    EXPECT_EQ(w.mnOptions->title(), "&Options");
    EXPECT_EQ(w.mnHelp->title(), "&Help");
    EXPECT_TRUE(w.mnHelp->actions().contains(w.mnAbout));
    EXPECT_TRUE(w.miExit->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Q)));
    EXPECT_EQ(w.btSkipArticle->text(), "S&kip Article"); // Alt+A belongs to "&About"
    EXPECT_EQ(w.btSkipGroup->text(), "Skip G&roup");
    EXPECT_EQ(w.btStop->text(), "&Stop Searching");
    EXPECT_EQ(w.laGroup->text(), "Groups Completed");
    EXPECT_EQ(w.laArticle->text(), "Articles Completed");
}

TEST_F(MainWindowTest, LayoutFollowsTheClientArea)
{
    TFrmMain w;
    w.show();
    const int menu = w.height() - w.centralWidget()->height();
    for (const QSize client : {QSize(TFrmMain::DesignWidth, TFrmMain::DesignHeight), QSize(701, 480)}) {
        SCOPED_TRACE(client.width());
        w.resize(client.width(), client.height() + menu);
        QCoreApplication::processEvents();
        ASSERT_EQ(w.centralWidget()->size(), client);
        const int cw = client.width(), ch = client.height();
        const int toolbar = w.pnToolbar->height();
        EXPECT_GT(toolbar, 0); // the visible search buttons live there
        // Lines as designed (13) unless the font needs more; the rest follows.
        const int line = std::max(13, w.laArticleName->fontMetrics().height() + 1);
        EXPECT_GE(line, w.laSubject->fontMetrics().height());
        const int status = 81 + 3 * (line - 13);
        EXPECT_EQ(w.pnStatus->geometry(), QRect(4, toolbar + 4, cw - 8, status));
        EXPECT_EQ(w.pnArticle->geometry(), QRect(4, 4, cw - 16, status - 8));
        const int aw = cw - 16;
        const int gw = int(std::lround((aw - 18) * 0.5));
        const int bar = 22 + line - 13;
        EXPECT_EQ(w.laGroup->geometry(), QRect(6, 5, gw, line));
        EXPECT_EQ(w.pbGroup->geometry(), QRect(6, bar, gw, 15));
        EXPECT_EQ(w.laArticle->geometry(), QRect(6 + gw + 6, 5, aw - gw - 18, line));
        EXPECT_EQ(w.pbArticle->geometry(), QRect(6 + gw + 6, bar, aw - gw - 18, 15));
        EXPECT_EQ(w.laArticleName->geometry(), QRect(6, bar + 18, aw - 12, line));
        EXPECT_EQ(w.laSubject->geometry(), QRect(6, bar + 18 + line + 1, aw - 12, line));
        EXPECT_GE(w.laGroupName->y(), status); // below the panel's visible area
        const QRect data(4, toolbar + 4 + status + 4, cw - 8, ch - status - toolbar - 12);
        EXPECT_EQ(w.pnData->geometry(), data);
        EXPECT_EQ(w.pnPicture->geometry(), QRect(4, 4, data.width() - 8, data.height() - 8));
        EXPECT_EQ(w.btPreview->geometry(),
                  QRect(data.width() - 8 - 111 - 4, data.height() - 8 - 26 - 4, 111, 26));
        EXPECT_EQ(w.Preview->geometry(), w.pnPicture->contentsRect());
    }
    // No smaller than designed.
    w.resize(100, 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.centralWidget()->size(), QSize(TFrmMain::DesignWidth, TFrmMain::DesignHeight));
}

TEST_F(MainWindowTest, PlacementReadAtStartAndWrittenFromNormalBoundsWhenMaximized)
{
    IniWriteInteger("WINDOW", "LEFT", 30);
    IniWriteInteger("WINDOW", "TOP", 40);
    IniWriteInteger("WINDOW", "WIDTH", 600);
    IniWriteInteger("WINDOW", "HEIGHT", 450);
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    TFrmMain w;
    EXPECT_EQ(w.pos(), QPoint(30, 40));
    EXPECT_EQ(w.size(), QSize(600, 450));
    w.show();
    QCoreApplication::processEvents();
    // Shown, the platform may shift the frame by its margins; what counts is
    // the last resize while not maximized.
    const QRect normal = w.NormalBounds;
    EXPECT_EQ(normal.size(), QSize(600, 450));
    EXPECT_LE(std::abs(normal.x() - 30), 8);
    w.showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(w.isMaximized());
    ASSERT_NE(w.size(), QSize(600, 450));
    EXPECT_EQ(w.NormalBounds, normal);
    EXPECT_TRUE(w.close());
    EXPECT_EQ(IniReadInteger("WINDOW", "LEFT", 0), normal.x());
    EXPECT_EQ(IniReadInteger("WINDOW", "TOP", 0), normal.y());
    EXPECT_EQ(IniReadInteger("WINDOW", "WIDTH", 0), 600);
    EXPECT_EQ(IniReadInteger("WINDOW", "HEIGHT", 0), 450);
    EXPECT_EQ(IniReadInteger("WINDOW", "STATE", 0), 2);

    // A second start brings the window back maximized over the same bounds.
    TFrmMain again;
    EXPECT_TRUE(again.windowState() & Qt::WindowMaximized);
}

// A drag alone is remembered, and a place no screen shows any more is not
// where the window comes back.
TEST_F(MainWindowTest, PlacementKeepsADragAndComesBackOnScreen)
{
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    {
        TFrmMain w;
        w.show();
        QCoreApplication::processEvents();
        w.move(w.x() + 37, w.y() + 23);
        QCoreApplication::processEvents();
        const QPoint dragged = w.pos();
        EXPECT_TRUE(w.close());
        EXPECT_EQ(IniReadInteger("WINDOW", "LEFT", -1), dragged.x());
        EXPECT_EQ(IniReadInteger("WINDOW", "TOP", -1), dragged.y());
    }
    IniWriteInteger("WINDOW", "LEFT", 5000);
    IniWriteInteger("WINDOW", "TOP", -400);
    TFrmMain w;
    const QRect avail = w.screen()->availableGeometry();
    EXPECT_TRUE(avail.contains(QRect(w.pos(), w.size()))) << w.x() << "," << w.y();
}

TEST_F(MainWindowTest, ExitPromptCancelKeepsEverything)
{
    dir.write("CRC-32.dat", "00000001DEADBEEF\r\n");
    TFrmMain w;
    w.show();
    w.Disposition.KnownChecksums.append("00000002DEADBEEF");
    boxes.answer(MsgCancel);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(boxes.shown().size(), 1);
    const MessageRequest &r = boxes.shown().first();
    EXPECT_EQ(r.text, "Are you sure that you want to exit?");
    EXPECT_EQ(r.caption, "Exit Warning");
    EXPECT_EQ(r.icon, MsgIcon::Question);
    EXPECT_EQ(r.buttons, MsgButtons::OkCancel);
    EXPECT_EQ(r.owner, static_cast<void *>(static_cast<QWidget *>(&w)));
    EXPECT_EQ(IniReadString("WINDOW", "LEFT", "absent"), "absent");
    EXPECT_EQ(dir.read("CRC-32.dat"), "00000001DEADBEEF\r\n");

    boxes.answer(MsgOk);
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(IniReadInteger("WINDOW", "STATE", -1), 0);
    EXPECT_EQ(dir.read("CRC-32.dat"), "00000001DEADBEEF\r\n00000002DEADBEEF\r\n");
}

TEST_F(MainWindowTest, DisconnectWhileIdleDoesNotSkipTheExitPrompt)
{
    TFrmMain w;
    w.show();
    w.SetState(1);
    w.miDisconnectClick();
    EXPECT_EQ(w.State(), 0);
    EXPECT_TRUE(w.close());
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(IniReadInteger("WINDOW", "STATE", -1), 0);
}

TEST_F(MainWindowTest, CountersAddToTotalAndGroupKeys)
{
    struct Case {
        QByteArray totalBefore, groupBefore;
        qint64 amount;
        QByteArray totalAfter, groupAfter;
    };
    const Case cases[] = {
        {"12", "12", 30, "42", "42"},
        {"x", "", 30, "30", "30"},
        {QByteArray(), QByteArray(), 1, "1", "1"}, // absent keys (another counter)
        {"9999999999999", "1.6", 1, "10000000000000", "3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.totalBefore.constData());
        if (!c.totalBefore.isNull()) {
            IniWriteString("STATISTICS", "SAVED_BYTES", c.totalBefore);
            IniWriteString("STATISTICS", "alt.picturesSAVED_BYTES", c.groupBefore);
        } else {
            ASSERT_EQ(ReadStatistic("EMPTY_COUNT", ""), 0);
        }
        const QByteArray counter = c.totalBefore.isNull() ? "EMPTY_COUNT" : "SAVED_BYTES";
        AddStatistic(counter, "alt.pictures", c.amount);
        EXPECT_EQ(IniReadString("STATISTICS", counter, ""), c.totalAfter);
        EXPECT_EQ(IniReadString("STATISTICS", "alt.pictures" + counter, ""), c.groupAfter);
        EXPECT_EQ(ReadStatistic(counter, ""), c.totalAfter.toLongLong());
        EXPECT_EQ(ReadStatistic(counter, "alt.pictures"), c.groupAfter.toLongLong());
    }
}

TEST_F(MainWindowTest, HelpOpensTheManualInTheDesktopsViewer)
{
    TFrmMain w;
    QList<QUrl> opened;
    w.Report->OpenUrl = [&](const QUrl &u) { opened << u; return true; };
    w.miHelp->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].fileName(), "pixtrawl-help.html");
    EXPECT_TRUE(QFile::exists(opened[0].toLocalFile()));
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(MainWindowTest, DialogCommandsGoThroughTheFactory)
{
    FakeDialogs dialogs;
    TFrmMain w;
    // Without a factory the commands open nothing and do nothing else.
    w.miAboutClick();
    w.miStatisticsClick();
    w.miFiltersClick();
    EXPECT_FALSE(QFile::exists(dir.path("Filters.dat")));

    w.SetDialogFactory(&dialogs);
    w.mnAbout->trigger();
    w.miStatistics->trigger();
    w.miStatistics->trigger(); // modeless: every choice opens another
    w.miConfiguration->trigger();
    EXPECT_EQ(dialogs.about, 1);
    EXPECT_EQ(dialogs.stat, 2);
    EXPECT_EQ(dialogs.config, 1);

    // Clear Articles: the guard message instead of the dialog when no groups exist.
    w.SetState(1);
    w.miClearArticlesClick();
    EXPECT_EQ(dialogs.clear, 0);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].text, "You must have groups defined!");
    EXPECT_EQ(boxes.shown()[0].caption, "Group Error");
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::Error);
    EXPECT_EQ(boxes.shown()[0].owner, nullptr);
}

TEST_F(MainWindowTest, ConfigureGroupsWritesListAndReloadsMarks)
{
    IniWriteString("GROUPS", "alt.y", "5,<m@y>+"); // a pointer left from an earlier selection
    FakeDialogs dialogs;
    TFrmMain w;
    w.SetDialogFactory(&dialogs);
    w.SetState(1);
    w.laSubject->setText("left over");

    dialogs.onGroup = [](TFrmMain &m) {
        m.GroupNames = {"alt.x", "alt.y"};
        return true;
    };
    w.miConfigureGroupsClick();
    EXPECT_EQ(IniReadString("GROUPS", "LIST", ""), "alt.x,alt.y,");
    EXPECT_EQ(w.GroupMarks, (QList<TGroupMark>{{"", 0}, {"<m@y>+", 5}}));
    EXPECT_TRUE(w.miSearchAllGroups->isEnabled());
    EXPECT_TRUE(w.laSubject->text().isEmpty());

    // Cancelled: nothing written, but the item still follows the names.
    dialogs.onGroup = [](TFrmMain &m) {
        m.GroupNames.clear();
        return false;
    };
    w.miConfigureGroupsClick();
    EXPECT_EQ(IniReadString("GROUPS", "LIST", ""), "alt.x,alt.y,");
    EXPECT_FALSE(w.miSearchAllGroups->isEnabled());

    // Confirmed empty selection writes an empty list.
    dialogs.onGroup = [](TFrmMain &m) {
        m.GroupNames.clear();
        return true;
    };
    w.miConfigureGroupsClick();
    EXPECT_EQ(IniReadString("GROUPS", "LIST", "absent"), "");
    EXPECT_EQ(dialogs.group, 3);
}

TEST_F(MainWindowTest, PreviewToggleAndPreviewFile)
{
    IniWriteBool("CONFIG", "PREVIEW", true);
    TFrmMain w;
    EXPECT_TRUE(w.PreviewEnabled);
    EXPECT_EQ(w.btPreview->text(), "Disable &Preview");

    const QByteArray jpeg = readJpeg("baseline.jpg");
    ASSERT_FALSE(jpeg.isEmpty());
    w.Pane->ShowFile(jpeg);
    EXPECT_FALSE(w.Preview->Picture().isNull());
    EXPECT_EQ(dir.read("current.jpg"), jpeg);
    const QImage before = w.Preview->Picture();

    // Not a picture: the old one stays, nothing is reported.
    w.Pane->ShowFile("this is no picture");
    EXPECT_EQ(w.Preview->Picture(), before);
    EXPECT_TRUE(boxes.shown().isEmpty());

    w.btPreview->click();
    EXPECT_FALSE(w.PreviewEnabled);
    EXPECT_EQ(w.btPreview->text(), "Enable &Preview");
    EXPECT_TRUE(w.Preview->Picture().isNull());
    w.btPreview->click();
    EXPECT_TRUE(w.PreviewEnabled);
    EXPECT_EQ(w.btPreview->text(), "Disable &Preview");
}

// Status-notifier trays report single clicks only: a click or a double-click
// brings the window back; the menu offers Restore, Stop Searching and Exit.
// Pictures that come faster than a person can look: the first at once,
// then at most one per gap, and the newest is the one shown in the end.
TEST_F(MainWindowTest, PreviewsFasterThanTheEyeShowTheNewest)
{
    IniWriteBool("CONFIG", "PREVIEW", true);
    ManualClock clock; // the pictures all come at one moment
    TFrmMain w;
    w.Pane->MinGapMs = 300;
    const QByteArray jpeg = readJpeg("baseline.jpg");
    QList<QByteArray> pictures;
    for (int i = 0; i < 20; ++i)
        pictures << JpegVariant(jpeg, 10 + i, quint32(i + 1));
    for (const QByteArray &p : pictures)
        w.PreviewData(p, true);
    EXPECT_EQ(w.Pane->Shown, 1);
    EXPECT_TRUE(w.Preview->Picture().isNull()); // decoded on the workers, shown from the event loop
    EXPECT_EQ(dir.read("current.jpg"), pictures.first());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Pane->Shown == 2; }, 5000));
    EXPECT_EQ(dir.read("current.jpg"), pictures.last());
    QTest::qWait(400);
    EXPECT_EQ(w.Pane->Shown, 2);
    EXPECT_FALSE(w.Preview->Picture().isNull());
}

// Articles faster than the eye: the first shows at once, the newest after
// the gap, nothing in between; a status shows at once.
TEST_F(MainWindowTest, ArticleLinesFasterThanTheEyeShowTheNewest)
{
    ManualClock clock; // the articles all come at one moment
    TFrmMain w;
    w.GroupSelected(0, "alt.a", 20);
    int shown = 0;
    QString last;
    for (int i = 0; i < 20; ++i) {
        w.ArticleStarted(i + 1, i, 20, "alt.a");
        w.SubjectKnown("subject " + QByteArray::number(i + 1));
        if (w.laArticle->text() != last) {
            last = w.laArticle->text();
            ++shown;
        }
    }
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(w.laArticle->text(), "Article 1 (1 of 20)");
    EXPECT_EQ(w.laSubject->text(), "Retrieving Subject..."); // its subject came inside the gap
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.laArticle->text() == "Article 20 (20 of 20)"; }, 5000));
    EXPECT_EQ(w.laSubject->text(), "subject 20");
    EXPECT_EQ(w.pbArticle->value(), 19);
    w.Status("Connection lost");
    EXPECT_EQ(w.laArticleName->text(), "Connection lost");

    // Saved pictures join the strip with the counts, which were shown when
    // the group began: all after the gap, the newest that the strip keeps.
    for (int i = 0; i < 20; ++i)
        w.ArticleDone(TArticleDisposition::OutcomeSaved, "p.jpg", QString::number(i));
    EXPECT_TRUE(w.Report->Strip->Pictures().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Report->Strip->Pictures().size() == TThumbnailStrip::MaxThumbs; }, 5000));
    EXPECT_EQ(w.Report->Strip->Pictures().first(), "19");
    EXPECT_EQ(w.Report->Strip->Pictures().last(), "8");
}

// A body still arriving is decoded whole at every pass: a pass waits four
// times its own cost after it ended, and none runs past any picture's size.
TEST_F(MainWindowTest, PreviewPassesOfAGrowingBodyAreBoundedInCostAndSize)
{
    IniWriteBool("CONFIG", "PREVIEW", true);
    TFrmMain w;
    w.PreviewIntervalMs = 0;
    w.Pane->MinGapMs = 0; // every pass shown at once: the passes are what is timed here
    w.NewsClient->Connected = true; // as while a body arrives
    w.ProgressPhase = 2;
    w.NewsClient->BodyLines = UuencodeFile("big.jpg", readJpeg("baseline.jpg") + Noise(3 << 20, 1));
    auto passRuns = [&] {
        QFile::remove(dir.path("current.jpg"));
        for (int i = 0; i < 200; ++i)
            w.NewsClient->BodyLines << "filler";
        w.NewsClient->BodyBytes += 1000; // the client counts a body's bytes
        w.Engine.ClientOutput(QByteArray(1000, 'x'));
        return QFile::exists(dir.path("current.jpg"));
    };
    ManualClock clock;
    clock.stepPerReadNs = 10'000'000; // a pass costs the readings inside it
    ASSERT_TRUE(passRuns());
    EXPECT_FALSE(passRuns()); // right after a pass: less than four passes' time since
    clock.AdvanceMs(1000);
    EXPECT_TRUE(passRuns());
    clock.AdvanceMs(1000);
    w.PreviewBodyLimitBytes = w.NewsClient->BodyBytes + 500; // the next read passes it
    EXPECT_FALSE(passRuns());
    // Nor does a finished file's preview write more than that.
    const QByteArray jpeg = readJpeg("baseline.jpg");
    w.PreviewBodyLimitBytes = 1000;
    w.Pane->ShowFile(jpeg);
    EXPECT_EQ(dir.read("current.jpg"), jpeg.left(1000));
}

TEST_F(MainWindowTest, MinimizeGoesToTheTrayAndAClickBringsItBack)
{
    TFrmMain w;
    w.TrayAvailable = [] { return true; };
    w.show();
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        w.showMinimized();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
        ASSERT_NE(w.TrayIcon, nullptr);
        EXPECT_TRUE(w.TrayIcon->isVisible());
        EXPECT_EQ(w.TrayIcon->toolTip(), "Wow, Dude");
        ASSERT_NE(w.TrayIcon->contextMenu(), nullptr);
        QStringList items;
        for (QAction *a : w.TrayIcon->contextMenu()->actions())
            if (!a->isSeparator())
                items << a->text();
        EXPECT_EQ(items, (QStringList{"&Restore", "&Stop Searching", "E&xit"}));
        EXPECT_FALSE(w.TrayIcon->miStopSearching->isEnabled()); // nothing runs

        w.TrayIconActivated(QSystemTrayIcon::Context);
        QCoreApplication::processEvents();
        EXPECT_FALSE(w.isVisible());

        w.TrayIconActivated(reason);
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(w.isMinimized());
        EXPECT_FALSE(w.TrayIcon->isVisible());
    }
}

TEST_F(MainWindowTest, TrayExitClosesTheWindow)
{
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    TFrmMain w;
    w.TrayAvailable = [] { return true; };
    w.show();
    w.showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.TrayIcon && !w.isVisible(); }, 5000));
    w.TrayIcon->miExit->trigger();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(IniReadInteger("WINDOW", "STATE", -1), 0);
}

TEST_F(MainWindowTest, WithoutATrayMinimizingOnlyMinimizes)
{
    TFrmMain w;
    w.TrayAvailable = [] { return false; };
    w.show();
    w.showMinimized();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isMinimized());
    EXPECT_EQ(w.TrayIcon, nullptr);
}

// Not a check: leaves a picture of the window in the build folder to look at.
TEST_F(MainWindowTest, Screenshot)
{
    IniWriteBool("CONFIG", "PREVIEW", true);
    IniWriteString("GROUPS", "LIST", "alt.binaries.pictures,");
    TFrmMain w;
    w.show();
    w.resize(560, 420);
    QCoreApplication::processEvents();
    w.Pane->ShowFile(readJpeg("baseline.jpg"));
    w.laGroup->setText("Searching Group 1 of 1");
    w.laArticle->setText("Decoding Article 3 of 10");
    w.pbGroup->setValue(0);
    w.pbArticle->setRange(0, 10);
    w.pbArticle->setValue(3);
    w.laArticleName->setText("Decoding Article 1003 from alt.binaries.pictures (42%)");
    w.laSubject->setText("sunset.jpg (1/1)");
    w.SetState(2);
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.Preview->Picture().isNull());
    const QString out = QStringLiteral(PIXTRAWL_TEST_OUTPUT "/main-window.png");
    EXPECT_TRUE(w.grab().save(out));
}

} // namespace
