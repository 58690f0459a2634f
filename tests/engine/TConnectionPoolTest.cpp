// Runs over several connections: work shared, bodies disposed of in article
// order whatever order they arrive in, refusals and losses of the extra
// connections, and the pointer under Stop.
#include "EngineFixture.h"
#include "TestBodies.h"

#include "TConnectionPool.h"
#include "TDepthGauge.h"
#include "TMeasureClock.h"
#include "TZqNNTP.h"
#include "WaitUntil.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"
#include "ZqStatistics.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <utility>

namespace {

constexpr int Articles = 40;

QByteArray pictureOf(int n) { return Noise(20000 + n * 97, quint32(n)); }
bool isPicture(int n) { return n % 3 == 1; }
QByteArray id(int n) { return "<art" + QByteArray::number(n) + "@fake.invalid>"; }

class PoolTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        IniWriteInteger("CONFIG", "CONNECTIONS", 4);
        IniWriteBool("CONFIG", "LOG", true);
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(dir.dir()); // home of the log
        FakeNntpServer::Group &g = server.groups[0];
        g.articles.clear();
        for (int n = 1; n <= Articles; ++n)
            g.articles << FakeNntpServer::MakeArticle(
                n, "post " + QByteArray::number(n),
                isPicture(n) ? UuencodeFile("p" + QByteArray::number(n) + ".jpg", pictureOf(n))
                             : QList<QByteArray>{"words " + QByteArray::number(n)});
    }
    void TearDown() override { QDir::setCurrent(oldCwd_); }
    QString oldCwd_;

    // Every picture from..Articles saved once, byte for byte.
    void expectPictures(int from = 1)
    {
        for (int n = from; n <= Articles; ++n)
            if (isPicture(n))
                EXPECT_EQ(dir.read("out/p" + QString::number(n) + ".jpg"), pictureOf(n)) << n;
        EXPECT_FALSE(QFile::exists(dir.path("out/p1-1.jpg")));
    }
    // The articles the log names, in the order it names them.
    QList<int> loggedOrder()
    {
        QList<int> order;
        QFile log(ZqPaths::LogFile());
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray &line : log.readAll().split('\n'))
                if (line.contains("post "))
                    order << line.mid(line.indexOf("post ") + 5).trimmed().toInt();
        return order;
    }
    // Holds the walk at its group's selection until every connection is up,
    // so the extras take their share however slowly they come up.
    void allUpBeforeTheWalk(TGrabEngine &e)
    {
        onCommand("GROUP ", [&e] { WaitUntil([&e] { return e.ConnectionsInUse() == 4; }, 30000); });
    }
    int bodiesAsked(int n) const
    {
        return int(server.commands.count("BODY " + QByteArray::number(n) + "\r\n")
                   + server.commands.count("BODY " + id(n) + "\r\n"));
    }
    QList<int> allArticles() const
    {
        QList<int> all;
        for (int n = 1; n <= Articles; ++n)
            all << n;
        return all;
    }
};

TEST_F(PoolTest, BodiesArrivingOutOfOrderAreDisposedOfInArticleOrder)
{
    // Article 5 trickles in on whichever connection asks for it, so the
    // others' later articles arrive before it.
    server.pieceDelayMs = 60;
    const QByteArray body = FakeNntpServer::Stuffed({"words 5"});
    server.Script("BODY 5", {"222 5 " + id(5) + " body\r\n", body.left(3), body.mid(3)});
    server.Script("BODY " + id(5), {"222 0 " + id(5) + " body\r\n", body.left(3), body.mid(3)});
    TGrabEngine e;
    connect(e);
    EXPECT_EQ(e.ConnectionsInUse(), 1); // the extras are the run's
    allUpBeforeTheWalk(e);
    e.SearchAllGroups();

    EXPECT_TRUE(e.WalkedAll());
    EXPECT_GT(server.connections, 1);
    const auto byId = std::count_if(server.commands.cbegin(), server.commands.cend(),
                                    [](const QByteArray &c) { return c.startsWith("BODY <"); });
    EXPECT_GT(byId, Articles / 4); // the extras did their share
    EXPECT_EQ(loggedOrder(), allArticles());
    expectPictures();
    for (int n = 1; n <= Articles; ++n)
        EXPECT_EQ(bodiesAsked(n), 1) << n;
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), QByteArray::number(Articles) + ',' + id(Articles) + '+');
    EXPECT_EQ(e.ConnectionsInUse(), 1);
}

TEST_F(PoolTest, AConnectionTheServerRefusesLeavesTheWorkToTheOthers)
{
    server.maxClients = 2;
    TGrabEngine e;
    connect(e);
    e.SearchAllGroups();

    EXPECT_TRUE(e.WalkedAll());
    expectPictures();
    EXPECT_EQ(server.connections, 4); // the refused ones are not tried again
    EXPECT_EQ(events.statuses.count(QStringLiteral("The server allows 2 connections")), 1);
    EXPECT_TRUE(events.failures.isEmpty());
    QFile log(ZqPaths::LogFile());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count("The server allows 2 connections"), 1);
}

TEST_F(PoolTest, ALostConnectionsRequestsGoToTheOthers)
{
    bool closed = false;
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        if (closed || command != "BODY " + id(7))
            return false;
        closed = true;
        s.Send({"222 0 " + id(7) + " body\r\nbegin 644 p7", QByteArray()}); // cut off mid-body
        return true;
    };
    TGrabEngine e;
    e.ReconnectDelaysMs = {50};
    connect(e);
    allUpBeforeTheWalk(e);
    e.SearchAllGroups();

    EXPECT_TRUE(closed);
    EXPECT_TRUE(e.WalkedAll());
    EXPECT_EQ(loggedOrder(), allArticles());
    expectPictures();
    // Asked again on another connection; a third time when it landed behind
    // later articles there, whose taking drops what went out before them.
    EXPECT_GE(bodiesAsked(7), 2);
    EXPECT_LE(bodiesAsked(7), 3);
    // The run did not wait on a reconnection: the others carried on.
    EXPECT_FALSE(events.statuses.join('\n').contains(QStringLiteral("reconnecting")));
}

// The engine's own connection lost mid-walk: the walk goes on over the
// others; it comes back between articles when the back-off allows.
struct PrimaryLoss {
    int reconnectDelayMs;
    qsizetype groupCommands; // GROUP sent in all
    int endState;
};
class PrimaryLossTest : public PoolTest, public ::testing::WithParamInterface<PrimaryLoss> {};

TEST_P(PrimaryLossTest, TheWalkGoesOnOverTheOthers)
{
    // Bodies asked for by number come over the engine's own connection only:
    // the first such past article 4 is cut off mid-body.
    int cut = 0;
    int connectionsAtCut = 0;
    // Article 30 trickles in. When the connection comes back at once, its
    // end waits until the engine's connection is up again, so the walk is
    // still going then however slowly the reconnection goes.
    const bool holdForTheReturn = GetParam().reconnectDelayMs == 0;
    std::function<void(const QList<QByteArray> &)> restOf30;
    bool held = false;
    const QByteArray body = FakeNntpServer::Stuffed({"words 30"});
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        if (holdForTheReturn && (command == "BODY 30" || command == "BODY " + id(30))) {
            s.Send({"222 " + QByteArray(command == "BODY 30" ? "30 " : "0 ") + id(30) + " body\r\n", body.left(3)});
            restOf30 = s.SenderToThisClient();
            held = true;
            return true;
        }
        if (cut || !command.startsWith("BODY ") || command.startsWith("BODY <") || command.mid(5).toInt() < 5)
            return false;
        cut = command.mid(5).toInt();
        connectionsAtCut = s.connections;
        s.Send({"222 " + QByteArray::number(cut) + ' ' + id(cut) + " body\r\nbegin 644 p", QByteArray()});
        return true;
    };
    server.pieceDelayMs = 100;
    // A reply held back must not be overtaken by the next one asked on its
    // connection: one request at a time on each.
    if (holdForTheReturn)
        IniWriteInteger("CONFIG", "PIPELINE", 1);
    if (!holdForTheReturn) {
        server.Script("BODY 30", {"222 30 " + id(30) + " body\r\n", body.left(3), body.mid(3)});
        server.Script("BODY " + id(30), {"222 0 " + id(30) + " body\r\n", body.left(3), body.mid(3)});
    }
    TGrabEngine e;
    QTimer release;
    QObject::connect(&release, &QTimer::timeout, [&] {
        if (restOf30 && cut && server.connections > connectionsAtCut && e.NewsClient->Connected)
            std::exchange(restOf30, nullptr)({body.mid(3)});
    });
    release.start(5);
    // Only a bound on a hang: a connection that never comes back fails below.
    QTimer::singleShot(30000, &release, [&] {
        if (restOf30)
            std::exchange(restOf30, nullptr)({body.mid(3)});
    });
    e.ReconnectDelaysMs = {GetParam().reconnectDelayMs};
    connect(e);
    e.SearchAllGroups();

    ASSERT_GT(cut, 0);
    EXPECT_EQ(held, holdForTheReturn);
    EXPECT_TRUE(e.WalkedAll());
    EXPECT_EQ(loggedOrder(), allArticles());
    expectPictures();
    EXPECT_EQ(bodiesAsked(cut), 2);
    EXPECT_EQ(server.commands.count("GROUP alt.a\r\n"), GetParam().groupCommands);
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), QByteArray::number(Articles) + ',' + id(Articles) + '+');
    EXPECT_EQ(e.State(), GetParam().endState);
}

INSTANTIATE_TEST_SUITE_P(Pool, PrimaryLossTest,
                         ::testing::Values(
                             // Back long after the walk: not waited for, and the run ends offline.
                             PrimaryLoss{60000, 1, TGrabEngine::StateOffline},
                             // Back at once: its group selected again while the walk went on.
                             PrimaryLoss{0, 2, TGrabEngine::StateOnline}));

TEST_F(PoolTest, StopLeavesThePointerAtTheOldestArticleNotDisposedOf)
{
    server.latencyMs = 5;
    TGrabEngine e;
    connect(e);
    // Asked by id on an extra connection or by number on the engine's own;
    // once, in the first run only.
    bool stopped = false;
    const auto stop = [&] {
        if (!std::exchange(stopped, true))
            e.Stop();
    };
    onCommand("BODY " + id(30), stop);
    onCommand("BODY 30", stop);
    e.SearchAllGroups();

    // Where the walk was depends on how deep it asked ahead; on a slow
    // machine 30 may only be asked for once the walk is at it.
    const QByteArray pointer = IniReadString("GROUPS", "alt.a", "");
    const int at = pointer.left(pointer.indexOf(',')).toInt();
    ASSERT_GE(at, 1);
    ASSERT_LE(at, 30);
    EXPECT_FALSE(pointer.endsWith('+'));
    // What came ahead of the walk is not taken: the next run asks from there.
    for (int n = at; n <= Articles; ++n)
        if (isPicture(n))
            EXPECT_FALSE(QFile::exists(dir.path("out/p" + QString::number(n) + ".jpg"))) << n;
    const qint64 savedBefore = ReadStatistic("SAVED_COUNT", "alt.a");
    server.commands.clear();
    connect(e);
    e.SearchAllGroups();
    EXPECT_TRUE(e.WalkedAll());
    expectPictures();
    EXPECT_EQ(bodiesAsked(at - 1), 0);
    EXPECT_EQ(bodiesAsked(at), 1);
    int pictures = 0;
    for (int n = 1; n <= Articles; ++n)
        pictures += isPicture(n) ? 1 : 0;
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", "alt.a"), pictures);
    EXPECT_GT(ReadStatistic("SAVED_COUNT", "alt.a"), savedBefore);
}

// The depth each connection keeps, on a clock of the test's own: twice what
// its line carries in one round trip, in bodies of the average size.
TEST(DepthGauge, CoversTwiceTheRoundTripAtTheMeasuredRate)
{
    qint64 now = 0;
    TMeasureClock::SetSource([&] { return now; });
    const auto steadyAgain = qScopeGuard([] { TMeasureClock::SetSource({}); });
    constexpr qint64 Ms = 1000000; // ns
    struct Case {
        const char *name;
        int bodies;
        qint64 bytes;      // each
        qint64 everyNs;    // from one body's end to the next one's
        qint64 transferNs; // first read to last
        qint64 roundTripUs;
        int connections;
        int depth;
    };
    const Case cases[] = {
        {"nothing measured, no round trip", 0, 0, 0, 0, 0, 1, TDepthGauge::MinDepth},
        {"nothing measured: a usual line", 0, 0, 0, 0, 40000, 1, 16},
        {"100 MB/s, 10 ms", 20, 100000, Ms, Ms, 10000, 1, 20},
        {"the walk's rate shared by four lines", 20, 100000, Ms, 0, 10000, 4, 5},
        {"each line's own rate when higher", 20, 100000, Ms, Ms, 10000, 4, 20},
        {"short bodies tell no line rate", 20, 10000, Ms, Ms / 100, 10000, 1, 20},
        {"a round trip too long to cover", 20, 100000, Ms, Ms, 1000000, 1, TDepthGauge::MaxDepth},
        {"a fast near line", 20, 100000, 10 * Ms, 10 * Ms, 100, 1, TDepthGauge::MinDepth},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TDepthGauge g;
        for (int i = 0; i < c.bodies; ++i) {
            now += c.everyNs;
            g.BodyTaken(c.bytes, c.transferNs);
        }
        EXPECT_EQ(g.Depth(c.roundTripUs, c.connections), c.depth);
    }
}

// A connection found idle on its next body: a first byte that keeps it
// waiting longer than a local server would doubles the floor; Pause keeps a
// gap between bodies out of the rate.
TEST(DepthGauge, LongIdleWaitsRaiseTheFloorAndPausesAreNotReceiveTime)
{
    qint64 now = 0;
    TMeasureClock::SetSource([&] { return now; });
    const auto steadyAgain = qScopeGuard([] { TMeasureClock::SetSource({}); });
    constexpr qint64 Ms = 1000000;
    TDepthGauge g;
    const auto idle = [&](qint64 waitNs, int depth) {
        g.IdleWaitBegan();
        now += waitNs;
        g.FirstByte(depth);
        return g.Depth(0, 1);
    };
    EXPECT_EQ(idle(Ms, 4), TDepthGauge::MinDepth); // as quick as a local server
    EXPECT_EQ(idle(3 * Ms, 4), 8);
    EXPECT_EQ(idle(3 * Ms, 4), 16); // from the floor, not the depth in use
    g.IdleWaitBegan();
    g.NoIdleWait();
    now += 100 * Ms;
    g.FirstByte(16);
    EXPECT_EQ(g.Depth(0, 1), 16);
    EXPECT_EQ(idle(3 * Ms, 200), TDepthGauge::MaxDepth);

    TDepthGauge r;
    for (int i = 0; i < 5; ++i) {
        now += Ms;
        r.BodyTaken(10000, 0);
    }
    const int steady = r.Depth(10000, 1);
    r.Pause();
    now += 1000 * Ms;
    r.BodyTaken(10000, 0);
    EXPECT_EQ(r.Depth(10000, 1), steady);
    now += 1000 * Ms;
    r.BodyTaken(10000, 0);
    EXPECT_LT(r.Depth(10000, 1), steady);
}

// The engine's own connection lost while the others are still on their way:
// nothing may say that they carry on.
TEST_F(PoolTest, ALossBeforeTheOthersAreUpDoesNotSayTheyCarryOn)
{
    bool cut = false;
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        if (cut || !command.startsWith("BODY "))
            return false;
        cut = true;
        s.Send({"222 1 " + id(1) + " body\r\nbegin 644 p", QByteArray()});
        return true;
    };
    TGrabEngine e;
    connect(e);
    server.greeting = QByteArray(); // the extras are taken in but never greeted
    QTimer watch; // the first word of the loss ends the run
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!events.statuses.filter(QStringLiteral("Connection lost")).isEmpty())
            e.Stop();
    });
    watch.start(5);
    e.SearchAllGroups();

    ASSERT_TRUE(cut);
    const QString said = events.statuses.join('\n');
    EXPECT_TRUE(said.contains(QStringLiteral("Connection lost; reconnecting while the other connections are still opening")))
        << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("carry on"))) << said.toStdString();
}

} // namespace
