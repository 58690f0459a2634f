#include "TFrmMain.h"
#include "WaitUntil.h"
#include "TestBodies.h"

#include "FakeDialogs.h"
#include "FakeNntpServer.h"
#include "ManualClock.h"
#include "MessageRecorder.h"
#include "SearchSetup.h"
#include "TRunReport.h"
#include "TStatusField.h"
#include "TThumbnailStrip.h"
#include "TTrayIcon.h"
#include "TZqImage.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"
#include "ZqStatistics.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <QUrl>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QByteArray readJpeg()
{
    QFile f(QStringLiteral(PIXTRAWL_TEST_DATA "/jpeg/baseline.jpg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The test picture uuencoded and padded past the 200-line preview mark.
QList<QByteArray> paddedPictureBody()
{
    QList<QByteArray> body = UuencodeFile("big.jpg", readJpeg());
    while (body.size() < 320)
        body << "filler";
    return body;
}

// The BODY 1 reply in reads of 40 lines, without the closing line.
QList<QByteArray> bodyPieces(const QList<QByteArray> &body)
{
    QList<QByteArray> pieces{"222 1 <art1@fake.invalid> body\r\n"};
    for (qsizetype at = 0; at < body.size(); at += 40) {
        QByteArray wire = FakeNntpServer::Stuffed(body.mid(at, 40));
        wire.chop(3);
        pieces << wire;
    }
    return pieces;
}

class MainSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QApplication::setQuitOnLastWindowClosed(false);
        ASSERT_TRUE(server.Listen());
        SetUpSearchOfAltA(server, dir.path("out/"), readJpeg());
    }

    // Connects and waits for the server's greeting to be reported.
    void connectWindow(TFrmMain &w)
    {
        ASSERT_TRUE(w.miConnectClick());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 10000));
    }

    // Runs f once, when the server receives a command starting with prefix.
    void onCommand(const QByteArray &prefix, std::function<void()> f)
    {
        server.OnCommandOnce(prefix, std::move(f));
    }

    int countCommands(const QByteArray &prefix) const
    {
        int n = 0;
        for (const QByteArray &c : server.commands)
            n += c.startsWith(prefix);
        return n;
    }

    TempProgramDir dir;
    MessageRecorder boxes;
    FakeNntpServer server;
};

TEST_F(MainSearchTest, ConnectSucceedsOrReportsFailure)
{
    TFrmMain w;
    connectWindow(w);
    EXPECT_TRUE(w.NewsClient->Connected);
    EXPECT_TRUE(w.mnGroups->menuAction()->isEnabled());
    EXPECT_TRUE(boxes.shown().isEmpty());

    w.miDisconnectClick();
    EXPECT_EQ(w.State(), 0);
    EXPECT_FALSE(w.NewsClient->Connected);

    const quint16 closed = FakeNntpServer::ClosedPort();
    IniWriteInteger("CONFIG", "PORT", closed);
    ASSERT_TRUE(w.miConnectClick());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.shown().isEmpty(); }, 15000));
    // The fixed line, then where and why in the system's words.
    EXPECT_EQ(boxes.shown()[0].text,
              QStringLiteral("Connection was not successful!\n127.0.0.1:%1: Connection refused").arg(closed));
    EXPECT_EQ(boxes.shown()[0].caption, "Error");
    EXPECT_EQ(boxes.shown()[0].owner, nullptr);
    EXPECT_EQ(w.State(), 0);

    // A host that cannot be resolved is reported at once.
    IniWriteString("CONFIG", "HOST", "");
    EXPECT_FALSE(w.miConnectClick());
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_TRUE(boxes.shown()[1].text.startsWith("Connection was not successful!\n"));
    EXPECT_EQ(w.State(), 0);
}

TEST_F(MainSearchTest, SearchSavesMarksAndResumes)
{
    IniWriteBool("CONFIG", "PREVIEW", true);
    TFrmMain w;
    connectWindow(w);
    w.miSearchAllGroupsClick();

    EXPECT_EQ(w.State(), TFrmMain::StateOnline);
    EXPECT_FALSE(w.Searching());
    EXPECT_EQ(dir.read("out/pic.jpg"), readJpeg());
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(w.GroupMarks.value(0), (TGroupMark{"<art2@fake.invalid>+", 2}));
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", "alt.a"), 1);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", ""), 1);
    EXPECT_GT(ReadStatistic("SAVED_BYTES", "alt.a"), readJpeg().size());
    EXPECT_NE(IniReadString("STATISTICS", "alt.aTIME", "absent"), "absent");
    EXPECT_FALSE(w.Preview->Picture().isNull());
    EXPECT_TRUE(w.laSubject->text().isEmpty());
    EXPECT_EQ(w.laGroup->text(), "Groups Completed");
    // Subjects, ids and line counts came from the overview: no HEAD.
    EXPECT_EQ(server.commands, (QList<QByteArray>{"GROUP alt.a\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 1-2\r\n",
                                                  "BODY 1\r\n", "BODY 2\r\n"}));

    // The next run starts after the completed article: nothing left to
    // fetch; the overview from there went out with GROUP.
    w.miSearchAllGroupsClick();
    EXPECT_EQ(server.commands.mid(5), (QList<QByteArray>{"GROUP alt.a\r\n", "OVER 3-2002\r\n"}));
    EXPECT_EQ(w.State(), TFrmMain::StateOnline);
}

TEST_F(MainSearchTest, WhileARunGoesOnItsSpeedAndConnectionsShow)
{
    server.pieceDelayMs = 50;
    TFrmMain w;
    connectWindow(w);
    QString during;
    onCommand("BODY 1", [&] { during = w.laSpeed->text(); });
    w.miSearchAllGroupsClick();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d MB/s, 1 connection$")).match(during).hasMatch())
        << during.toStdString();
    EXPECT_TRUE(w.laSpeed->text().isEmpty());
}

TEST(RunSummary, SaysWhatARunDidInWholeWords)
{
    EXPECT_EQ((TRunSummary{12, 3, 40, 2, {}}).Text(), "Saved 12 pictures, 3 duplicates, 40 filtered in 2 groups");
    EXPECT_EQ((TRunSummary{1, 1, 1, 1, {}}).Text(), "Saved 1 picture, 1 duplicate, 1 filtered in 1 group");
    EXPECT_EQ(TRunSummary{}.Text(), "Saved 0 pictures, 0 duplicates, 0 filtered in 0 groups");
    TRunSummary skipped{1, 0, 0, 1, {{"alt.x", "no such group"}, {"alt.y", "no such group"}}};
    EXPECT_EQ(skipped.Text(), "Saved 1 picture, 0 duplicates, 0 filtered in 1 group; "
                              "2 groups skipped: alt.x (no such group), alt.y (no such group)");
}

// The status bar says what the connection is doing, and why it went down.
TEST_F(MainSearchTest, StateFieldFollowsTheConnection)
{
    TFrmMain w;
    const QString where = QStringLiteral("127.0.0.1:%1").arg(server.Port());
    EXPECT_EQ(w.laState->FullText(), "Offline");
    ASSERT_TRUE(w.miConnectClick());
    EXPECT_EQ(w.laState->FullText(), "Connecting to " + where + "...");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 10000));
    EXPECT_EQ(w.laState->FullText(), "Connected to 127.0.0.1");

    QString during, header, line;
    onCommand("BODY 1", [&] {
        during = w.laState->FullText();
        header = w.laArticle->text();
        line = w.laArticleName->text();
    });
    w.miSearchAllGroupsClick();
    EXPECT_EQ(during, "Searching group 1 of 1");
    // The header and the line below it name the same article.
    EXPECT_EQ(header, "Article 1 (1 of 2)");
    EXPECT_TRUE(line.startsWith("Decoding Article 1 from alt.a")) << line.toStdString();

    w.miDisconnectClick();
    EXPECT_EQ(w.laState->FullText(), "Offline");
    const quint16 closed = FakeNntpServer::ClosedPort();
    IniWriteInteger("CONFIG", "PORT", closed);
    ASSERT_TRUE(w.miConnectClick());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.shown().isEmpty(); }, 15000));
    EXPECT_EQ(w.laState->FullText(), QStringLiteral("Offline: 127.0.0.1:%1: Connection refused").arg(closed));
}

// The end of a run says whether it finished, was stopped or failed, and
// names the groups the server would not give.
TEST_F(MainSearchTest, RunEndingSaysHowItEndedAndWhatWasSkipped)
{
    IniWriteString("GROUPS", "LIST", "alt.gone,alt.a,");
    TFrmMain w;
    QStringList titles;
    w.Report->Notify = [&](const QString &title, const QString &) { titles << title; };
    connectWindow(w);
    onCommand("BODY 1", [&] { w.btStop->click(); });
    w.miSearchAllGroupsClick();
    EXPECT_EQ(titles, QStringList{"Pixtrawl: search stopped by the user"});
    EXPECT_EQ(w.Report->Strip->laSummary->FullText(),
              "Search stopped by the user. Saved 0 pictures, 0 duplicates, 0 filtered in 1 group; "
              "1 group skipped: alt.gone (no such news group)");
}

// The summary and thumbnails follow the run, its end is notified, the
// thumbnail and the File menu open what was saved, and a run that finds
// nothing new leaves no busy bar behind.
TEST_F(MainSearchTest, RunShowsWhatItGrabbedAndSaysSoAtTheEnd)
{
    server.groups[0].articles << FakeNntpServer::MakeArticle(3, "SPAM offer", {"x"});
    TFrmMain w;
    w.FilterStrings = {"spam"};
    QStringList notes;
    QList<QUrl> opened;
    w.Report->Notify = [&](const QString &title, const QString &body) { notes << title + ": " + body; };
    w.Report->OpenUrl = [&](const QUrl &u) { opened << u; return true; };
    connectWindow(w);
    w.miSearchAllGroupsClick();

    const QString summary = "Saved 1 picture, 0 duplicates, 1 filtered in 1 group";
    EXPECT_EQ(w.Report->Strip->laSummary->FullText(), "Search finished. " + summary);
    EXPECT_EQ(notes, QStringList{"Pixtrawl: search finished: " + summary});
    EXPECT_EQ(w.Report->Strip->Pictures(), QStringList{dir.path("out/pic.jpg")});
    ASSERT_NE(w.Report->Strip->Thumb(0), nullptr);
    // The workers' thumbnail of the 96 x 64 picture replaces the file icon,
    // whether painted or not.
    EXPECT_TRUE(WaitUntil([&] { return w.Report->Strip->Thumb(0)->icon().availableSizes() == QList{QSize(48, 32)}; },
                          30000));
    EXPECT_FALSE(w.Report->Strip->Thumb(0)->icon().isNull());
    w.Report->Strip->Thumb(0)->click();
    w.Report->miOpenOutputFolder->trigger();
    EXPECT_EQ(opened, (QList<QUrl>{QUrl::fromLocalFile(dir.path("out/pic.jpg")), QUrl::fromLocalFile(dir.path("out/"))}));
    EXPECT_TRUE(w.mnFile->actions().contains(w.Report->miOpenOutputFolder));

    w.miSearchAllGroupsClick(); // nothing new
    EXPECT_EQ(notes.size(), 2);
    EXPECT_EQ(w.Report->Strip->laSummary->FullText(), "Search finished. Saved 0 pictures, 0 duplicates, 0 filtered in 1 group");
    EXPECT_EQ(w.Report->Strip->Pictures().size(), 1); // the latest pictures stay
    EXPECT_GT(w.pbArticle->maximum(), 0);
    EXPECT_GT(w.pbGroup->maximum(), 0);
}

TEST_F(MainSearchTest, TrayTipShowsTheProgressAndTrayStopEndsTheRun)
{
    server.stallOn = "BODY";
    TFrmMain w;
    w.TrayAvailable = [] { return true; };
    w.show();
    w.showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.TrayIcon && !w.isVisible(); }, 5000));
    connectWindow(w);
    QString tip;
    bool stopOffered = false;
    onCommand("BODY", [&] {
        w.TrayIcon->Refresh();
        tip = w.TrayIcon->toolTip();
        stopOffered = w.TrayIcon->miStopSearching->isEnabled();
        w.TrayIcon->miStopSearching->trigger();
    });
    w.miSearchAllGroupsClick();
    EXPECT_EQ(tip, "Wow, Dude\nSearching Group 1 of 1\nArticle 1 (1 of 2)");
    EXPECT_TRUE(stopOffered);
    EXPECT_FALSE(w.Searching());
    w.TrayIcon->Refresh();
    EXPECT_EQ(w.TrayIcon->toolTip(), "Wow, Dude");
}

TEST_F(MainSearchTest, ClosingWhileWaitingForBodyEndsSearchAndWindow)
{
    server.stallOn = "BODY";
    TFrmMain w;
    w.show();
    connectWindow(w);
    onCommand("BODY", [&] {
        w.miSearchAllGroupsClick(); // a second search is refused while one runs
        w.close();
    });
    w.miSearchAllGroupsClick(); // returns once the close has unwound the wait

    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.Searching());
    EXPECT_EQ(w.State(), TFrmMain::StateOffline);
    EXPECT_EQ(countCommands("GROUP"), 1);
    EXPECT_EQ(boxes.shown().size(), 1); // the exit prompt
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "1,<art1@fake.invalid>"); // fetched again next time
    EXPECT_NE(IniReadString("STATISTICS", "alt.aTIME", "absent"), "absent");
    EXPECT_EQ(IniReadInteger("WINDOW", "STATE", -1), 0);
    EXPECT_TRUE(QFile::exists(dir.path("CRC-32.dat")));
}

TEST_F(MainSearchTest, ClosingRightAfterDisconnectSavesNothing)
{
    server.stallOn = "BODY";
    TFrmMain w;
    w.show();
    connectWindow(w);
    bool closed = false;
    onCommand("BODY", [&] {
        w.miDisconnect->trigger();
        closed = w.close();
    });
    w.miSearchAllGroupsClick();

    EXPECT_TRUE(closed);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(IniReadString("WINDOW", "LEFT", "absent"), "absent");
    EXPECT_FALSE(QFile::exists(dir.path("CRC-32.dat")));
    EXPECT_EQ(w.State(), TFrmMain::StateOffline);
    EXPECT_EQ(w.StopReason, 0);
}

TEST_F(MainSearchTest, FailedReconnectionEndsTheRunOffline)
{
    server.stallOn = "BODY";
    TFrmMain w;
    connectWindow(w);
    onCommand("BODY", [&] {
        server.StopListening();
        w.btSkipGroup->click();
    });
    w.miSearchAllGroupsClick();

    EXPECT_EQ(w.State(), TFrmMain::StateOffline);
    ASSERT_EQ(boxes.texts().size(), 1);
    EXPECT_TRUE(boxes.texts()[0].startsWith("Connection was not successful!\n127.0.0.1:"));
    EXPECT_TRUE(w.Report->Ending.startsWith("Search failed: Connection was not successful! 127.0.0.1:"));
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "1,<art1@fake.invalid>");
    EXPECT_TRUE(w.mnFile->menuAction()->isEnabled());
    EXPECT_EQ(w.StopReason, 0);
}

TEST_F(MainSearchTest, AutoStartConnectsFirstAndActsOncePerRun)
{
    IniWriteBool("CONFIG", "AUTO_START", true);
    TFrmMain w;
    w.FormActivate();
    EXPECT_EQ(server.connections, 1);
    ASSERT_FALSE(server.commands.isEmpty());
    EXPECT_EQ(server.commands.first(), "GROUP alt.a\r\n");
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(w.State(), TFrmMain::StateOnline);

    // A dialog closing activates the window again: no second start.
    w.FormActivate();
    EXPECT_EQ(server.connections, 1);
    EXPECT_EQ(countCommands("GROUP"), 1);
}

// Nobody may be there: a first connection that fails is retried, quickly and
// then at the slow pace, instead of waiting at a message box.
TEST_F(MainSearchTest, AutoStartRetriesAFailedFirstConnectionWithoutABox)
{
    IniWriteBool("CONFIG", "AUTO_START", true);
    const quint16 port = server.Port();
    server.StopListening();
    TFrmMain w;
    w.ReconnectDelaysMs = {10, 10};
    w.SlowReconnectDelayMs = 10;
    int failures = 0;
    const TStateChangeEvent inner = w.NewsClient->OnStateChange;
    w.NewsClient->OnStateChange = [&, inner](TZqNNTP *c, qint32 st) {
        inner(c, st);
        if (st == 4 && ++failures == 4)
            server.Listen(port);
    };
    w.FormActivate();
    EXPECT_EQ(failures, 4);
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join('|').toStdString();
    EXPECT_EQ(server.connections, 1);
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(w.State(), TFrmMain::StateOnline);
}

TEST_F(MainSearchTest, AutoStartStillStopsAtARefusedLogin)
{
    IniWriteBool("CONFIG", "AUTO_START", true);
    server.user = "joe";
    server.password = "right";
    IniWriteString("CONFIG", "USER", "joe");
    IniWriteString("CONFIG", "PASSWORD", "wrong");
    TFrmMain w;
    w.ReconnectDelaysMs = {10, 10};
    w.SlowReconnectDelayMs = 10;
    w.FormActivate();
    ASSERT_EQ(boxes.texts().size(), 1);
    EXPECT_TRUE(boxes.texts()[0].startsWith("Login failed:\n127.0.0.1:"));
    EXPECT_EQ(server.connections, 1);
    EXPECT_EQ(w.State(), TFrmMain::StateOffline);
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", "absent"), "absent");
}

TEST_F(MainSearchTest, BodyInProgressShowsPercentageAndPreview)
{
    IniWriteBool("CONFIG", "PREVIEW", true);
    const QList<QByteArray> body = paddedPictureBody();
    server.groups[0].articles[0] = FakeNntpServer::MakeArticle(1, "big", body);
    // The body arrives in reads of 40 lines, and the closing line never does.
    // A read is reported before its lines are stored, so a last partial line
    // makes the window see the whole body.
    QList<QByteArray> pieces = bodyPieces(body);
    pieces << "partial";
    // Slow enough that the 200th line comes well after the preview interval.
    server.pieceDelayMs = 80;
    server.Script("BODY 1", pieces);
    dir.write("current.jpg", QByteArray(100000, 'x')); // a longer one from before is cut to size

    const QString expected = QStringLiteral(" (%1%)").arg(body.size() * 100 / (body.size() - 1)); // 100 and more
    // Each piece a read of its own however late the window gets to run.
    qint64 read = 0;
    TFrmMain w;
    const TDocOutputEvent windowOutput = w.NewsClient->OnDocOutput;
    w.NewsClient->OnDocOutput = [&, windowOutput](TZqNNTP *c, const QByteArray &chunk) {
        read += chunk.size();
        windowOutput(c, chunk);
    };
    server.clientBytesRead = [&] { return read; };
    connectWindow(w);
    w.Preview->resize(20, 10); // decoded at 1/4, the least that covers the pane
    bool previewed = false;
    QString caption;
    qsizetype lines = 0;
    onCommand("BODY 1", [&] {
        previewed = QTest::qWaitFor([&] { return !w.Preview->Picture().isNull(); }, 10000);
        // The last partial line is the read that reports the whole body.
        QTest::qWaitFor([&] { return w.laArticleName->text().endsWith(expected); }, 10000);
        lines = w.NewsClient->BodyLines.size();
        caption = w.laArticleName->text();
        w.miDisconnect->trigger();
    });
    w.miSearchAllGroupsClick();
    server.clientBytesRead = nullptr;

    EXPECT_TRUE(previewed);
    EXPECT_EQ(w.Preview->Picture().size(), QSize(24, 16));
    EXPECT_EQ(w.Preview->PictureSize(), QSize(96, 64));
    EXPECT_EQ(lines, body.size()); // the preview decoded a copy, not the body itself
    EXPECT_EQ(caption.toStdString(), ("Decoding Article 1 from alt.a" + expected).toStdString());
    EXPECT_EQ(dir.read("current.jpg"), readJpeg());
    EXPECT_FALSE(QFile::exists(dir.path("out/big.jpg"))); // never disposed of: disconnected
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "1,<art1@fake.invalid>");
}

TEST_F(MainSearchTest, BodyWithinThePreviewIntervalIsPreviewedOnlyOnceSaved)
{
    IniWriteBool("CONFIG", "PREVIEW", true);
    const QList<QByteArray> body = paddedPictureBody();
    server.groups[0].articles[0] = FakeNntpServer::MakeArticle(1, "big", body);
    // Several reads, each past the 200-line mark reported with its lines.
    QList<QByteArray> pieces = bodyPieces(body);
    pieces << ".\r\n";
    server.pieceDelayMs = 5;
    server.Script("BODY 1", pieces);

    TFrmMain w;
    connectWindow(w);
    w.PreviewIntervalMs = 3600 * 1000; // stands for any body that arrives within the interval
    bool shownBefore = true, writtenBefore = true;
    const auto finalPreview = w.Disposition.OnPreview;
    w.Disposition.OnPreview = [&](const QByteArray &data) {
        shownBefore = !w.Preview->Picture().isNull();
        writtenBefore = QFile::exists(dir.path("current.jpg"));
        finalPreview(data);
    };
    w.miSearchAllGroupsClick();

    EXPECT_EQ(dir.read("out/big.jpg"), readJpeg());
    EXPECT_FALSE(shownBefore);
    EXPECT_FALSE(writtenBefore);
    EXPECT_EQ(w.Preview->PictureSize(), QSize(96, 64));
    EXPECT_EQ(dir.read("current.jpg"), readJpeg());
}

} // namespace

namespace {

// What the engine must ask a person is a box; what it says of the run is
// the status label. (The runs themselves are the engine's tests.)
TEST_F(MainSearchTest, FailuresThatNeedThePersonAreBoxes)
{
    server.loginRequired = true;
    {
        TFrmMain w;
        w.ReconnectDelaysMs = {10, 10};
        connectWindow(w);
        w.miSearchAllGroupsClick();
        EXPECT_EQ(w.State(), TFrmMain::StateOffline);
        ASSERT_EQ(boxes.shown().size(), 1);
        EXPECT_TRUE(boxes.texts()[0].startsWith("The server asks for a login: "));
        EXPECT_EQ(boxes.shown()[0].owner, nullptr);
        EXPECT_TRUE(w.laArticleName->text().contains("480 authentication required"));
    }

    server.loginRequired = false;
    const QString missing = dir.path("gone/");
    IniWriteString("CONFIG", "OUTPUT_DIR", missing.toLocal8Bit());
    TFrmMain w;
    connectWindow(w);
    w.miSearchAllGroupsClick();
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[1].caption, "Error");
    EXPECT_EQ(boxes.shown()[1].icon, MsgIcon::Error);
    EXPECT_EQ(boxes.shown()[1].owner, static_cast<void *>(static_cast<QWidget *>(&w)));
    EXPECT_TRUE(boxes.shown()[1].text.contains(QDir::toNativeSeparators(missing)));
    EXPECT_EQ(w.laArticleName->text(), "Search stopped: pictures cannot be saved");
    EXPECT_TRUE(w.Preview->Picture().isNull());
}

} // namespace

// Articles that go by faster than anyone reads move the summary line in
// steps: never more than UpdateGapMs behind, not once per article.
TEST_F(MainSearchTest, TheSummaryFollowsTheCountsInSteps)
{
    ManualClock clock;
    TFrmMain w;
    w.Report->UpdateGapMs = 50;
    w.Report->Update();
    const QString before = w.Report->Strip->laSummary->FullText();
    const auto shown = [&] { return w.Report->Strip->laSummary->FullText(); };
    w.Engine.Summary.Saved = 3;
    w.Report->Changed();
    w.Report->Changed();
    EXPECT_EQ(shown(), before);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown().startsWith("Saved 3 pictures"); }, 10000));
    // A change a whole gap after the last update is shown at once.
    clock.AdvanceMs(50);
    w.Engine.Summary.Saved = 4;
    w.Report->Changed();
    EXPECT_TRUE(shown().startsWith("Saved 4 pictures")) << shown().toStdString();
}
