// The search driven without a window: commands in, events out, against the
// fake server. What the window shows of these events is the window's tests'.
#include "EngineFixture.h"
#include "TConnectionHint.h"
#include "TDepthGauge.h"
#include "TMeasureClock.h"
#include "TestBodies.h"

#include "TZqNNTP.h"
#include "WaitUntil.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"
#include "ZqStatistics.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>

namespace {

TEST_F(EngineTest, RunsWithoutADisplay)
{
    // The test program links no QtGui and makes a plain QCoreApplication.
    EXPECT_FALSE(QCoreApplication::instance()->inherits("QGuiApplication"));
    TGrabEngine e;
    connect(e);
    e.SearchAllGroups();
    EXPECT_EQ(dir.read("out/pic.jpg"), picture());
}

TEST_F(EngineTest, SearchSavesMarksAndResumes)
{
    TGrabEngine e;
    connect(e);
    e.SearchAllGroups();

    EXPECT_EQ(e.State(), TGrabEngine::StateOnline);
    EXPECT_FALSE(e.Searching());
    EXPECT_TRUE(e.WalkedAll());
    EXPECT_EQ(dir.read("out/pic.jpg"), picture());
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(e.GroupMarks.value(0), (TGroupMark{"<art2@fake.invalid>+", 2}));
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", "alt.a"), 1);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", ""), 1);
    EXPECT_GT(ReadStatistic("SAVED_BYTES", "alt.a"), picture().size());
    EXPECT_NE(IniReadString("STATISTICS", "alt.aTIME", "absent"), "absent");
    EXPECT_EQ(events.previews.value(0), picture());
    // Subjects, ids and line counts came from the overview: no HEAD.
    EXPECT_EQ(server.commands, (QList<QByteArray>{"GROUP alt.a\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 1-2\r\n",
                                                  "BODY 1\r\n", "BODY 2\r\n"}));
    EXPECT_EQ(events.log.mid(events.log.indexOf("run")),
              (QStringList{"run", "group 1/1 alt.a", "article 1", "subject a picture", "preview file",
                           "done saved pic.jpg", "article 2", "subject just words", "done empty ", "state 1",
                           "cleared", "end Saved 1 picture, 0 duplicates, 0 filtered in 1 group"}));

    // The next run starts after the completed article: nothing left to
    // fetch. Its overview batch from there went out with GROUP: one round trip.
    server.latencyMs = 20;
    const qint64 before = server.DelayClockNs();
    e.SearchAllGroups();
    EXPECT_EQ(server.commands.mid(5), (QList<QByteArray>{"GROUP alt.a\r\n", "OVER 3-2002\r\n"}));
    EXPECT_EQ(server.DelayClockNs() - before, 20 * 1000000);
    EXPECT_EQ(e.State(), TGrabEngine::StateOnline);
    EXPECT_TRUE(boxes.shown().isEmpty());
}

// NEW_GROUP_ARTICLES limits only a group without a mark; gaps in the
// overview are neither asked for nor counted; a server without an
// overview is asked per article (XOVER where only OVER is refused).
TEST_F(EngineTest, NewGroupStartGapsAndOverviewFallbacks)
{
    for (int n = 3; n <= 6; ++n)
        server.groups[0].articles << FakeNntpServer::MakeArticle(n, "words " + QByteArray::number(n), {"x"});
    server.overviewGaps = {4};
    IniWriteInteger("CONFIG", "NEW_GROUP_ARTICLES", 3);
    {
        TGrabEngine e;
        connect(e);
        e.SearchAllGroups();
        EXPECT_EQ(server.commands, (QList<QByteArray>{"GROUP alt.a\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 4-6\r\n",
                                                      "BODY 5\r\n", "BODY 6\r\n"}));
        EXPECT_EQ(ReadStatistic("EMPTY_COUNT", "alt.a"), 2);
        EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "6,<art6@fake.invalid>+");
        EXPECT_EQ(e.State(), TGrabEngine::StateOnline);
    }

    // With a mark the limit does not apply; XOVER stands in for OVER.
    server.groups[0].articles << FakeNntpServer::MakeArticle(7, "seven", {"x"}) << FakeNntpServer::MakeArticle(8, "eight", {"x"})
                              << FakeNntpServer::MakeArticle(9, "nine", {"x"}) << FakeNntpServer::MakeArticle(10, "ten", {"x"});
    server.xoverOnly = true;
    server.commands.clear();
    {
        TGrabEngine e;
        connect(e);
        e.SearchAllGroups();
        EXPECT_EQ(server.commands.mid(0, 5), (QList<QByteArray>{"GROUP alt.a\r\n", "LIST OVERVIEW.FMT\r\n",
                                                                "OVER 7-2006\r\n", "XOVER 7-10\r\n", "BODY 7\r\n"}));
        EXPECT_EQ(countCommands("BODY"), 4);
        EXPECT_EQ(countCommands("HEAD"), 0);
    }

    // No overview at all: one probe each, then HEAD per article.
    server.overview = false;
    server.groups[0].articles << FakeNntpServer::MakeArticle(11, "eleven", {"x"});
    server.commands.clear();
    {
        TGrabEngine e;
        connect(e);
        e.SearchAllGroups();
        EXPECT_EQ(server.commands, (QList<QByteArray>{"GROUP alt.a\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 11-2010\r\n",
                                                      "XOVER 11-11\r\n", "HEAD 11\r\n", "BODY 11\r\n"}));
        EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "11,<art11@fake.invalid>+");
    }
}

// Bodies are asked for ahead only for what the overview lists and the
// filter lets through; one past MAX_ARTICLE_MB is skipped as empty, the
// connection made again, and the run goes on.
TEST_F(EngineTest, BodiesAheadFollowTheFilterAndAnOversizeArticleIsSkipped)
{
    IniWriteInteger("CONFIG", "MAX_ARTICLE_MB", 1);
    IniWriteString("CONFIG", "LOG", "yes");
    IniWriteString("FILTER", "EXCLUDE", "spam,");
    QList<QByteArray> huge;
    for (int i = 0; i < 25000; ++i)
        huge << QByteArray(60, 'h');
    auto &articles = server.groups[0].articles;
    articles[1] = FakeNntpServer::MakeArticle(2, "huge", huge);
    articles << FakeNntpServer::MakeArticle(3, "spam offer", {"x"})
             << FakeNntpServer::MakeArticle(5, "more words", {"fine"});
    server.groups[0].count = 5; // 4 is a gap
    InFolder here(dir.dir());
    TGrabEngine e;
    e.ReconnectDelaysMs = {20, 20, 20, 20, 20};
    connect(e);
    e.SearchAllGroups();

    EXPECT_EQ(countCommands("BODY 3"), 0); // filtered
    EXPECT_EQ(countCommands("BODY 4"), 0); // a gap
    EXPECT_EQ(countCommands("BODY 1"), 1);
    EXPECT_EQ(countCommands("BODY 2"), 1);
    EXPECT_EQ(server.connections, 2);
    EXPECT_EQ(dir.read("out/pic.jpg"), picture());
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", "alt.a"), 3); // the huge one, the filtered one and the words
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "5,<art5@fake.invalid>+");
    EXPECT_TRUE(LogText().contains("Article was larger than 1 MB and was skipped")) << LogText().constData();
    EXPECT_TRUE(events.log.contains("filtered spam offer"));
    EXPECT_EQ(e.Summary.Filtered, 1);
    EXPECT_TRUE(events.failures.isEmpty());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

// One settings write ends an article and marks the next as in flight when
// that one's body is fetched next; before a filtered article, a gap, the
// group's end, or while a picture's joined lines wait for the commit, the
// article is marked done on its own.
TEST_F(EngineTest, AnArticlesLastWriteMarksTheNextBodyInFlight)
{
    IniWriteString("FILTER", "EXCLUDE", "spam,");
    auto &articles = server.groups[0].articles;
    articles << FakeNntpServer::MakeArticle(3, "words again", {"w"})
             << FakeNntpServer::MakeArticle(4, "spam offer", {"x"})
             << FakeNntpServer::MakeArticle(6, "more words", {"fine"});
    server.groups[0].count = 6; // 5 is a gap
    struct PointerAtEachStart : RecordedEvents {
        QList<QByteArray> seen;
        void ArticleStarted(qint64 number, qint64 position, qint64 count, const QByteArray &group) override
        {
            seen << QByteArray::number(number) + ": " + IniReadString("GROUPS", "alt.a", "");
            RecordedEvents::ArticleStarted(number, position, count, group);
        }
    } pointers;
    TGrabEngine e;
    connect(e);
    e.SetEvents(&pointers);
    e.SearchAllGroups();

    EXPECT_EQ(pointers.seen, (QList<QByteArray>{"1: ", "2: 1,<art1@fake.invalid>+", "3: 3,<art3@fake.invalid>",
                                                "4: 3,<art3@fake.invalid>+", "5: 4,<art4@fake.invalid>+",
                                                "6: 4,<art4@fake.invalid>+"}));
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "6,<art6@fake.invalid>+");
    EXPECT_EQ(dir.read("out/pic.jpg"), picture());
}

TEST_F(EngineTest, SkipArticleReconnectsBeforeSendingAndGoesOn)
{
    server.stallOn = "BODY 1";
    TGrabEngine e;
    connect(e);
    onCommand("BODY 1", [&] { e.SkipArticle(); });
    e.SearchAllGroups();

    EXPECT_EQ(server.connections, 2);
    // The overview batch in hand still serves after reconnecting; the body
    // that was asked for ahead is asked for again.
    EXPECT_EQ(server.commands, (QList<QByteArray>{"GROUP alt.a\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 1-2\r\n",
                                                  "BODY 1\r\n", "BODY 2\r\n", "GROUP alt.a\r\n", "BODY 2\r\n"}));
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", "alt.a"), 2); // the skipped one and the text
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(e.State(), TGrabEngine::StateOnline);
    EXPECT_TRUE(events.log.contains("held"));
}

TEST_F(EngineTest, FailedReconnectionEndsTheRunOffline)
{
    server.stallOn = "BODY";
    TGrabEngine e;
    connect(e);
    onCommand("BODY", [&] {
        server.StopListening();
        e.SkipGroup();
    });
    e.SearchAllGroups();

    EXPECT_EQ(e.State(), TGrabEngine::StateOffline);
    ASSERT_EQ(events.failures.size(), 1);
    EXPECT_TRUE(events.failures[0].startsWith("ask: Connection was not successful!\n127.0.0.1:"));
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "1,<art1@fake.invalid>");
    // The connection commands held for the reconnection are given back.
    EXPECT_GT(events.log.lastIndexOf("state 0"), events.log.indexOf("held"));
    EXPECT_EQ(e.StopReason, 0);
    EXPECT_FALSE(e.WalkedAll());
}

TEST_F(EngineTest, StopReconnectsAndEndsTheRun)
{
    server.stallOn = "BODY";
    TGrabEngine e;
    connect(e);
    onCommand("BODY", [&] { e.Stop(); });
    e.SearchAllGroups();
    EXPECT_EQ(countCommands("OVER"), 1);
    EXPECT_EQ(countCommands("BODY"), 2); // both asked for at once; nothing after the stop
    // The reconnection completes after the run has ended.
    EXPECT_TRUE(WaitUntil([&] { return e.State() == TGrabEngine::StateOnline; }, 10000));
    EXPECT_EQ(server.connections, 2);
    EXPECT_EQ(e.StopReason, 0);
    EXPECT_FALSE(e.WalkedAll());
    EXPECT_EQ(events.runsEnded, 1);
}

TEST_F(EngineTest, DisconnectLeftWhileIdleDoesNotEndTheNextSearch)
{
    TGrabEngine e;
    connect(e);
    e.Disconnect();
    connect(e);
    e.SearchAllGroups();
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(e.State(), TGrabEngine::StateOnline);
}

// A blank or control character would end the command line early and send
// the rest as a command of its own.
TEST_F(EngineTest, GroupNamesWithBlanksOrControlCharactersAreNotSent)
{
    IniWriteString("GROUPS", "LIST", "alt.a BODY 1,alt.\x01x,alt.a,");
    TGrabEngine e;
    connect(e);
    e.SearchAllGroups();
    EXPECT_EQ(countCommands("GROUP"), 1);
    ASSERT_FALSE(server.commands.isEmpty());
    EXPECT_EQ(server.commands.first(), "GROUP alt.a\r\n");
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(e.State(), TGrabEngine::StateOnline);
}

TEST_F(EngineTest, SearchAllGroupsNeedsAnIdleConnection)
{
    TGrabEngine e;
    e.SetEvents(&events);
    e.LoadGroups();
    e.SearchAllGroups(); // offline: no search
    EXPECT_EQ(e.State(), TGrabEngine::StateOffline);
    EXPECT_EQ(IniReadString("STATISTICS", "alt.aTIME", "absent"), "absent");
    EXPECT_EQ(events.runsEnded, 0);
}

// A server that wants a login the user never gave: one failure that says
// what to do, the run ends offline, and the server is not asked again.
TEST_F(EngineTest, LoginAskedForWithoutAUserEndsTheRunWithAMessage)
{
    server.loginRequired = true;
    TGrabEngine e;
    e.ReconnectDelaysMs = {10, 10};
    connect(e);
    e.SearchAllGroups();
    EXPECT_EQ(e.State(), TGrabEngine::StateOffline);
    ASSERT_EQ(events.failures.size(), 1);
    EXPECT_TRUE(events.failures[0].startsWith(
        "ask: The server asks for a login: enter a user name and password in Options > Configuration\n127.0.0.1:"));
    EXPECT_EQ(server.connections, 1);
    EXPECT_EQ(server.commands, QList<QByteArray>{"GROUP alt.a\r\n"});
    EXPECT_TRUE(events.statuses.last().contains("480 authentication required"));
    EXPECT_FALSE(e.WalkedAll());
    EXPECT_TRUE(e.EndReason().startsWith("The server asks for a login"));
}

TEST_F(EngineTest, RefusedLoginIsReportedWithTheServersLine)
{
    server.user = "joe";
    server.password = "right";
    IniWriteString("CONFIG", "USER", "joe");
    IniWriteString("CONFIG", "PASSWORD", "wrong");
    TGrabEngine e;
    e.SetEvents(&events);
    ASSERT_TRUE(e.Connect());
    ASSERT_TRUE(WaitUntil([&] { return !events.failures.isEmpty(); }, 10000));
    EXPECT_EQ(events.failures,
              QStringList{QStringLiteral("ask: Login failed:\n127.0.0.1:%1: 481 authentication failed").arg(server.Port())});
    EXPECT_EQ(e.State(), TGrabEngine::StateOffline);
    EXPECT_EQ(server.connections, 1);
}

// A save that fails leaves the article unfinished, stops the run as Stop
// does and says where and why; the next run fetches the picture again.
TEST_F(EngineTest, FailedSaveStopsTheRunAndTheArticleComesAgain)
{
    // Typed without its "/": still the folder, never "gonepic.jpg" beside it.
    const QString missing = dir.path("gone");
    IniWriteString("CONFIG", "OUTPUT_DIR", missing.toLocal8Bit());
    TGrabEngine e;
    connect(e);
    e.SearchAllGroups();

    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "1,<art1@fake.invalid>");
    EXPECT_EQ(countCommands("BODY 1"), 1);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 0);
    ASSERT_EQ(events.failures.size(), 1);
    EXPECT_TRUE(events.failures[0].startsWith("ask: "));
    EXPECT_TRUE(events.failures[0].contains(QDir::toNativeSeparators(missing)));
    EXPECT_TRUE(events.failures[0].contains("No such file or directory"));
    EXPECT_EQ(events.statuses.last(), "Search stopped: pictures cannot be saved");
    EXPECT_TRUE(events.previews.isEmpty());
    EXPECT_FALSE(e.WalkedAll());
    EXPECT_TRUE(e.EndReason().startsWith("Pictures cannot be saved"));
    EXPECT_EQ(e.Summary.Saved, 0);
    EXPECT_FALSE(QFile::exists(dir.path("gonepic.jpg")));
    ASSERT_TRUE(WaitUntil([&] { return e.State() == TGrabEngine::StateOnline; }, 10000));

    ASSERT_TRUE(QDir().mkpath(missing));
    e.SearchAllGroups();
    EXPECT_EQ(dir.read("gone/pic.jpg"), picture());
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 1);
}

// Renaming off: two different p1.jpg are both kept, the first one's bytes
// coming again replace their own file, and the summary says what the folder
// holds.
TEST_F(EngineTest, TheSummaryCountsTheFilesInTheFolder)
{
    QByteArray other = picture();
    other[other.size() / 2] = char(other[other.size() / 2] ^ 1);
    QList<FakeNntpServer::Article> &articles = server.groups[0].articles;
    articles = {FakeNntpServer::MakeArticle(1, "one", UuencodeFile("p1.jpg", picture())),
                FakeNntpServer::MakeArticle(2, "two", UuencodeFile("p1.jpg", other)),
                FakeNntpServer::MakeArticle(3, "one again", UuencodeFile("p1.jpg", picture()))};
    TGrabEngine e;
    connect(e);
    e.SearchAllGroups();

    EXPECT_EQ(QDir(dir.path("out")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"p1-1.jpg", "p1.jpg"}));
    EXPECT_EQ(dir.read("out/p1.jpg"), picture());
    EXPECT_EQ(dir.read("out/p1-1.jpg"), other);
    EXPECT_EQ(e.Summary.Text(), "Saved 2 pictures, 0 duplicates, 0 filtered in 1 group");
}

// A group whose articles all fail keeps its own number, with no id and no
// subject borrowed from the group before it.
TEST_F(EngineTest, FailedHeadersKeepTheirOwnPointerAndNoBorrowedSubject)
{
    IniWriteString("CONFIG", "LOG", "yes");
    InFolder here(dir.dir());
    IniWriteString("GROUPS", "LIST", "alt.a,alt.gone,");
    FakeNntpServer::Group gone;
    gone.name = "alt.gone";
    gone.count = 2;
    gone.first = 5;
    gone.last = 6;
    server.groups << gone;
    server.overview = false; // headers one by one, as without an overview
    TGrabEngine e;
    connect(e);
    e.SearchAllGroups();

    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(IniReadString("GROUPS", "alt.gone", ""), "6,+");
    const QByteArray text = LogText();
    EXPECT_TRUE(text.contains("-alt.gone-6-\r\n")) << text.constData();
    EXPECT_FALSE(text.contains("-alt.gone-6-just words"));
}

// With requests in flight, order is all that links a reply to its request:
// a reply for another article ends the connection, is logged, and the
// article is asked for again; nothing is filed under the wrong article.
TEST_F(EngineTest, ABodyAnsweredWithAnotherArticleIsAskedForAgain)
{
    IniWriteString("CONFIG", "LOG", "yes");
    InFolder here(dir.dir());
    const FakeNntpServer::Article second = server.groups[0].articles[1];
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        if (s.connections != 1 || !command.startsWith("BODY 1"))
            return false;
        s.Send("222 2 " + second.messageId + " body\r\n" + FakeNntpServer::Stuffed(second.body));
        return true;
    };
    TGrabEngine e;
    e.ReconnectDelaysMs = {10, 10, 10};
    connect(e);
    e.SearchAllGroups();
    EXPECT_EQ(server.connections, 2);
    EXPECT_EQ(countCommands("BODY 1"), 2);
    EXPECT_EQ(dir.read("out/pic.jpg"), picture());
    EXPECT_EQ(QDir(dir.path("out")).entryList(QDir::Files), QStringList{"pic.jpg"});
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "2,<art2@fake.invalid>+");
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 1);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", ""), 1);
    EXPECT_TRUE(LogText().contains("Article 1: 127.0.0.1:")) << LogText().constData();
    EXPECT_TRUE(LogText().contains("BODY 1 was answered with \"222 2 <art2@fake.invalid> body\""));
}

// Overview lines that cannot be read do not make their articles gaps: those
// not listed are asked for by header; only what a readable overview leaves
// out is a gap.
TEST_F(EngineTest, UnreadableOverviewLinesFallBackToHeaders)
{
    server.groups[0].articles << FakeNntpServer::MakeArticle(3, "three", {"x"});
    const auto lines = server.groups[0].articles;
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        if (!command.startsWith("OVER "))
            return false;
        s.Send("224 overview\r\n1 no tabs at all\r\n2x\tletters\r\n123456789012345678901\tx\r\n"
               + FakeNntpServer::OverviewLine(lines[2]) + "\r\n.\r\n");
        return true;
    };
    TGrabEngine e;
    connect(e);
    e.SearchAllGroups();
    EXPECT_EQ(countCommands("HEAD"), 2);
    EXPECT_EQ(countCommands("HEAD 1"), 1);
    EXPECT_EQ(countCommands("HEAD 2"), 1);
    EXPECT_EQ(dir.read("out/pic.jpg"), picture());
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "3,<art3@fake.invalid>+");
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 1);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", ""), 2);
}

// PIPELINE 0 (the default) keeps as many bodies in flight as the measured
// round trip needs; a number fixes the depth. The client measures on the fake
// server's delay clock: near is a line where nothing takes time, far one with
// a round trip of 40 ms and nothing else, whatever else the machine is doing.
TEST_F(EngineTest, TheAutomaticDepthGrowsWithTheRoundTrip)
{
    TMeasureClock::SetSource([this] { return server.DelayClockNs(); });
    const auto steadyAgain = qScopeGuard([] { TMeasureClock::SetSource({}); });
    for (int n = 3; n <= 120; ++n)
        server.groups[0].articles << FakeNntpServer::MakeArticle(n, "words " + QByteArray::number(n),
                                                                 QList<QByteArray>(30, QByteArray(60, 'w')));
    const auto depthAfterARun = [&](int latencyMs, const QByteArray &pipeline) {
        server.latencyMs = latencyMs;
        IniWriteString("CONFIG", "PIPELINE", pipeline);
        IniWriteString("GROUPS", "alt.a", "");
        TGrabEngine e;
        connect(e);
        e.SearchAllGroups();
        EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "120,<art120@fake.invalid>+");
        return e.NewsClient->Pipeline;
    };
    const int near = depthAfterARun(0, "0");
    const int far = depthAfterARun(40, "0");
    EXPECT_EQ(near, TDepthGauge::MinDepth);
    EXPECT_GE(far, 4 * near);
    EXPECT_LE(far, TDepthGauge::MaxDepth);
    EXPECT_EQ(depthAfterARun(0, "7"), 7);
    EXPECT_EQ(depthAfterARun(0, "1000"), 256);
}

// Closing in the middle of a body: the run unwinds at once, the pointer
// names the article in hand, and nothing is told after the close.
TEST_F(EngineTest, CloseDuringABodyUnwindsWithTheExactPointer)
{
    server.stallOn = "BODY 1";
    auto e = std::make_unique<TGrabEngine>();
    connect(*e);
    onCommand("BODY 1", [&] { e->Close(true); });
    e->SearchAllGroups();
    EXPECT_FALSE(e->Searching());
    EXPECT_TRUE(e->Closing());
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "1,<art1@fake.invalid>");
    EXPECT_EQ(events.runsEnded, 0);
    EXPECT_TRUE(QFile::exists(dir.path("CRC-32.dat")));
    e.reset();
}

// The overview's list of fields and its first batch go out in one write:
// the batch is asked for while the list has not come.
TEST_F(EngineTest, TheFieldListAndTheFirstBatchGoOutTogether)
{
    server.stallOn = "LIST OVERVIEW.FMT";
    TGrabEngine e;
    connect(e);
    onCommand("OVER", [&] { e.Close(false); });
    e.SearchAllGroups();
    EXPECT_EQ(server.commands, (QList<QByteArray>{"GROUP alt.a\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 1-2\r\n"}));
}

TEST(ConnectionHint, SuggestsTheTlsSwitchWhenPortAndTlsDisagree)
{
    const auto connect = TGrabFailure::ConnectFailed;
    struct Case {
        TGrabFailure kind;
        bool tls;
        int port;
        const char *failure;
        const char *hint; // a piece of it; empty: none
    };
    const Case cases[] = {
        {connect, false, 563, "news:563: no greeting within 10 seconds", "switching on \"Encrypted connection (TLS)\""},
        {connect, false, 8563, "news:8563: no greeting within 10 seconds", "switching on"},
        {connect, true, 119, "news:119: The TLS handshake failed", "switching off \"Encrypted connection (TLS)\""},
        {connect, false, 119, "news:119: Connection refused", ""},
        {connect, true, 563, "news:563: Connection refused", ""},
        {TGrabFailure::LoginFailed, false, 563, "news:563: 481 no", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failure);
        const QString hint = TConnectionHint::For(c.kind, c.tls, c.port, QString::fromLatin1(c.failure));
        if (*c.hint)
            EXPECT_TRUE(hint.contains(QLatin1String(c.hint))) << hint.toStdString();
        else
            EXPECT_TRUE(hint.isEmpty()) << hint.toStdString();
    }
}

} // namespace
