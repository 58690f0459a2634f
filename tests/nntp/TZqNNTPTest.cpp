#include "FakeNntpServer.h"
#include "WaitUntil.h"
#include "TZqNNTP.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <utility>

namespace {

using Lines = QList<QByteArray>;

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Calls fn from the event loop after ms, as a button or a timer would.
void Later(int ms, QObject *context, std::function<void()> fn)
{
    QTimer::singleShot(ms, context, std::move(fn));
}

// Ends a command that a fault would leave waiting forever.
struct Watchdog {
    QTimer timer;
    bool fired = false;
    Watchdog(TZqNNTP &client, int ms)
    {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this, &client] {
            fired = true;
            client.Disconnect();
        });
        timer.start(ms);
    }
};

struct Recorder {
    Lines docs;
    qint64 bytes = 0; // all the chunks' bytes, kept over Clear()
    QList<qint32> states;
    Lines trace;
    void Attach(TZqNNTP &c)
    {
        c.OnDocOutput = [this](TZqNNTP *, const QByteArray &chunk) {
            docs << chunk;
            bytes += chunk.size();
            trace << "doc";
        };
        c.OnStateChange = [this](TZqNNTP *, qint32 s) {
            states << s;
            trace << "state" + QByteArray::number(s);
        };
    }
    void Clear()
    {
        docs.clear();
        states.clear();
        trace.clear();
    }
};

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Listen());
        rec.Attach(client);
    }
    // Each scripted piece a read of its own, at any speed: the server sends
    // the next once the client has read the last, and waits no longer.
    void PaceByReads()
    {
        server.clientBytesRead = [this] { return rec.bytes; };
        server.pieceDelayMs = 0;
    }
    void ConnectAndGreet()
    {
        ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
        ASSERT_TRUE(WaitUntil([this] { return !rec.states.isEmpty(); }, 5000));
        ASSERT_EQ(rec.states, QList<qint32>{2});
        rec.Clear();
    }
    FakeNntpServer::Group TestGroup()
    {
        FakeNntpServer::Group g;
        g.name = "alt.test";
        g.articles << FakeNntpServer::MakeArticle(1, "first", {"one", "two"})
                   << FakeNntpServer::MakeArticle(2, "second", {".", "..", ".a", "plain", "", "end"});
        return g;
    }

    FakeNntpServer server;
    TZqNNTP client;
    Recorder rec;
};

TEST_F(ClientTest, GreetingPassesDocOutputBeforeConnectedState)
{
    for (const QByteArray &host : {QByteArray("127.0.0.1"), QByteArray("localhost")}) {
        rec.Clear();
        ASSERT_TRUE(client.Connect(host, server.Port())) << host.constData();
        EXPECT_EQ(client.ConnectionState, TZqNNTP::StateConnecting);
        EXPECT_FALSE(client.Connected);
        ASSERT_TRUE(WaitUntil([this] { return !rec.states.isEmpty(); }, 5000));
        // Greeting, then the replies to MODE READER and CAPABILITIES, then the state.
        EXPECT_EQ(rec.trace, (Lines{"doc", "doc", "doc", "state2"}));
        EXPECT_EQ(rec.docs, (Lines{"200 fake news server ready\r\n", "200 reader mode, posting allowed\r\n",
                                   "101 capability list\r\nVERSION 2\r\nREADER\r\nOVER\r\n.\r\n"}));
        EXPECT_TRUE(client.Connected);
        EXPECT_EQ(client.ConnectionState, TZqNNTP::StateConnected);
        EXPECT_EQ(client.ReplyLines, Lines{"200 fake news server ready"});
        client.Disconnect();
    }
    EXPECT_EQ(server.connections, 2);
}

TEST_F(ClientTest, UnresolvableHostFailsWithoutEvent)
{
    for (const QByteArray &host : {QByteArray("no-such-host.invalid"), QByteArray("127.0.0.1\0x", 11), QByteArray()}) {
        EXPECT_FALSE(client.Connect(host, server.Port()));
        EXPECT_FALSE(client.Connected);
        EXPECT_EQ(client.ConnectionState, TZqNNTP::StateClosed);
    }
    WaitUntil([] { return false; }, 300);
    EXPECT_TRUE(rec.states.isEmpty());
    EXPECT_EQ(server.connections, 0);
}

// Takes about 11 seconds: the connect guard is 10 seconds.
TEST(ConnectFailure, RefusedOnceAndSilentAfterTenSeconds)
{
    FakeNntpServer silent, closing;
    ASSERT_TRUE(silent.Listen());
    ASSERT_TRUE(closing.Listen());
    silent.silent = true;
    closing.closeOnAccept = true;

    TZqNNTP refusedClient, silentClient, closingClient;
    Recorder refusedRec, silentRec, closingRec;
    refusedRec.Attach(refusedClient);
    silentRec.Attach(silentClient);
    closingRec.Attach(closingClient);

    ASSERT_TRUE(refusedClient.Connect("127.0.0.1", FakeNntpServer::ClosedPort()));
    ASSERT_TRUE(silentClient.Connect("127.0.0.1", silent.Port()));
    ASSERT_TRUE(closingClient.Connect("127.0.0.1", closing.Port()));

    WaitUntil([] { return false; }, 5000);
    EXPECT_EQ(refusedRec.states, QList<qint32>{4});
    EXPECT_EQ(refusedClient.ConnectionState, TZqNNTP::StateClosed);
    // The guard runs from Connect; halfway there is no verdict yet for the
    // silent server, while one that hung up has already said enough.
    EXPECT_TRUE(silentRec.states.isEmpty());
    EXPECT_EQ(closingRec.states, QList<qint32>{4});
    EXPECT_TRUE(refusedClient.FailureText.endsWith(": Connection refused")) << refusedClient.FailureText.toStdString();
    EXPECT_TRUE(closingClient.FailureText.startsWith("127.0.0.1:")) << closingClient.FailureText.toStdString();
    EXPECT_EQ(silent.connections, 1);

    // The guard's verdict must come; how late only a hang would tell.
    EXPECT_TRUE(WaitUntil([&] { return !silentRec.states.isEmpty(); }, 60000));
    EXPECT_EQ(refusedRec.states, QList<qint32>{4});
    EXPECT_EQ(silentRec.states, QList<qint32>{4});
    EXPECT_EQ(closingRec.states, QList<qint32>{4});
    for (TZqNNTP *c : {&refusedClient, &silentClient, &closingClient}) {
        EXPECT_FALSE(c->Connected);
        EXPECT_EQ(c->ConnectionState, TZqNNTP::StateClosed);
    }
    EXPECT_TRUE(silentRec.docs.isEmpty());
}

TEST_F(ClientTest, RepliesSplitAcrossReads)
{
    struct Case {
        QByteArray command;
        Lines pieces;
        QByteArray subject;
    };
    const QList<Case> cases = {
        {"HEAD 1", {"221 1 <s@x> head\r\nSubj", "ect: joined\r\n.\r\n"}, "joined"},
        {"HEAD 2", {"221 2 <s@x> head\r", "\nSubject: crlf\r", "\n.\r", "\n"}, "crlf"},
        {"HEAD 3", {"2", "21 3 <s@x> head\r\nSubject: cr\r\r\n", ".", "\r\n"}, "cr\r"},
    };
    for (const Case &c : cases)
        server.Script(c.command, c.pieces);
    PaceByReads();
    ConnectAndGreet();
    for (int i = 0; i < cases.size(); ++i) {
        rec.Clear();
        Watchdog dog(client, 5000);
        ASSERT_TRUE(client.GetHeader(i + 1)) << i;
        EXPECT_EQ(rec.docs, cases[i].pieces) << i;
        EXPECT_EQ(client.Subject, cases[i].subject) << i;
        EXPECT_EQ(client.ArticleNumber, i + 1);
        EXPECT_EQ(client.MessageID, "<s@x>");
        EXPECT_TRUE(client.ReplyLines.isEmpty());
    }
}

TEST_F(ClientTest, SelectGroupNarrowsOrFailsWithoutChange)
{
    struct Case {
        QByteArray reply;
        bool ok;
        qint32 first, last;
    };
    const QList<Case> cases = {
        {"211 5 10 20 g0\r\n", true, 16, 20},
        {"211 11 10 20 g1\r\n", true, 10, 20},
        {"211 0 0 0 g2\r\n", true, 1, 0},
        {"411 no such group\r\n", false, 1, 0},
        {"\r\n", false, 1, 0},
        {"211 3 7 9 g5\r\n", true, 7, 9},
        {"500 what\r\n211 1 1 1 g\r\n", false, 7, 9},
    };
    for (int i = 0; i < cases.size(); ++i)
        server.Script("GROUP g" + QByteArray::number(i), {cases[i].reply});
    ConnectAndGreet();
    for (int i = 0; i < cases.size(); ++i) {
        Watchdog dog(client, 5000);
        EXPECT_EQ(client.SelectGroup("g" + QByteArray::number(i)), cases[i].ok) << i;
        EXPECT_EQ(client.FirstArticle, cases[i].first) << i;
        EXPECT_EQ(client.LastArticle, cases[i].last) << i;
        EXPECT_FALSE(dog.fired);
    }
    // The status line stays until the next command.
    EXPECT_EQ(client.ReplyLines.value(0), "500 what");
}

TEST_F(ClientTest, HeaderValuesAndFailures)
{
    FakeNntpServer::Group g = TestGroup();
    FakeNntpServer::Article oddCase = FakeNntpServer::MakeArticle(3, "unused", {});
    oddCase.header = {"subject: lower case", "Subject:no blank", "From: x"};
    FakeNntpServer::Article badLines = FakeNntpServer::MakeArticle(4, "unused", {});
    badLines.header = {"Lines: 12a", "Subject: fourth"};
    g.articles << oddCase << badLines;
    server.groups << g;
    ConnectAndGreet();
    Watchdog dog(client, 8000);
    ASSERT_TRUE(client.SelectGroup("alt.test"));
    EXPECT_EQ(client.FirstArticle, 1);
    EXPECT_EQ(client.LastArticle, 4);

    ASSERT_TRUE(client.GetHeader(2));
    EXPECT_EQ(client.Subject, "second");
    EXPECT_EQ(client.Lines, 6);
    EXPECT_EQ(client.ArticleNumber, 2);
    EXPECT_EQ(client.MessageID, "<art2@fake.invalid>");

    ASSERT_TRUE(client.GetHeader(3)); // no usable Subject or Lines: both stay
    EXPECT_EQ(client.Subject, "second");
    EXPECT_EQ(client.Lines, 6);
    EXPECT_EQ(client.ArticleNumber, 3);

    ASSERT_TRUE(client.GetHeader(4));
    EXPECT_EQ(client.Subject, "fourth");
    EXPECT_EQ(client.Lines, 0);

    // 423 ends the command at once, without a closing line.
    EXPECT_FALSE(client.GetHeader(99));
    EXPECT_FALSE(dog.fired);
    EXPECT_EQ(client.Subject, "fourth");
    EXPECT_EQ(client.ArticleNumber, 4);
    EXPECT_EQ(client.MessageID, "<art4@fake.invalid>");
    EXPECT_TRUE(client.ReplyLines.isEmpty());
    EXPECT_TRUE(client.Connected);
}

TEST_F(ClientTest, BodyIsUnstuffedAndKeepsEveryByte)
{
    server.groups << TestGroup();
    QByteArray raw("222 5 <z@x> body\r\nab\r\r\nc");
    raw += '\0';
    raw += "d\r\n";
    server.Script("BODY 5", {raw, "...\r\nmore\r\n.\r\n"});
    PaceByReads();
    ConnectAndGreet();
    Watchdog dog(client, 8000);
    ASSERT_TRUE(client.SelectGroup("alt.test"));

    ASSERT_TRUE(client.GetBody(2));
    EXPECT_EQ(client.BodyLines, (Lines{".", "..", ".a", "plain", "", "end"}));
    EXPECT_EQ(client.ReplyLines, (Lines{"222 2 <art2@fake.invalid> body", "."}));
    EXPECT_EQ(client.ArticleNumber, 2);
    EXPECT_EQ(client.MessageID, "<art2@fake.invalid>");
    EXPECT_EQ(client.ReceiveMode, TZqNNTP::ModeNormal);

    rec.Clear();
    ASSERT_TRUE(client.GetBody(5));
    QByteArray cd("c");
    cd += '\0';
    cd += 'd';
    EXPECT_EQ(client.BodyLines, (Lines{"ab\r", cd, "..", "more"}));
    ASSERT_EQ(rec.docs.size(), 2);
    EXPECT_EQ(rec.docs[0], raw); // the zero byte does not cut the chunk
    EXPECT_EQ(client.ArticleNumber, 5);
    EXPECT_FALSE(dog.fired);
}

TEST_F(ClientTest, BodyFailureLeavesValuesAndEmptyBody)
{
    server.groups << TestGroup();
    server.Script("BODY 7", {"430 no such article\r\nstray line\r\n"});
    ConnectAndGreet();
    Watchdog dog(client, 8000);
    ASSERT_TRUE(client.SelectGroup("alt.test"));
    ASSERT_TRUE(client.GetBody(1));
    ASSERT_EQ(client.BodyLines.size(), 2);

    EXPECT_FALSE(client.GetBody(42)); // 423 from the table
    EXPECT_TRUE(client.BodyLines.isEmpty());
    EXPECT_FALSE(client.GetBody(7));
    EXPECT_TRUE(client.BodyLines.isEmpty());
    EXPECT_EQ(client.ArticleNumber, 1);
    EXPECT_EQ(client.MessageID, "<art1@fake.invalid>");
    EXPECT_EQ(client.ReceiveMode, TZqNNTP::ModeNormal);
    EXPECT_FALSE(dog.fired);
}

TEST_F(ClientTest, LargeBodyArrivesInReadsOfAtMost32KiB)
{
    FakeNntpServer::Group g;
    g.name = "alt.big";
    Lines body;
    for (int i = 0; i < 4000; ++i)
        body << "M" + QByteArray::number(i).rightJustified(60, 'x');
    g.articles << FakeNntpServer::MakeArticle(77, "big", body);
    server.groups << g;
    ConnectAndGreet();
    Watchdog dog(client, 10000);
    ASSERT_TRUE(client.SelectGroup("alt.big"));

    // What the owner sees from inside OnDocOutput while the body arrives.
    QList<qsizetype> linesSeen;
    QList<qint32> numbersSeen;
    client.OnDocOutput = [&](TZqNNTP *c, const QByteArray &chunk) {
        rec.docs << chunk;
        linesSeen << c->BodyLines.size();
        numbersSeen << c->ArticleNumber;
    };
    rec.Clear();
    ASSERT_TRUE(client.GetBody(77));
    EXPECT_EQ(client.BodyLines, body);
    QByteArray all;
    for (const QByteArray &d : rec.docs) {
        EXPECT_LE(d.size(), 32768);
        all += d;
    }
    EXPECT_EQ(all, "222 77 <art77@fake.invalid> body\r\n" + FakeNntpServer::Stuffed(body));
    ASSERT_GE(rec.docs.size(), 8);
    EXPECT_GT(linesSeen.last(), 0);
    EXPECT_LT(linesSeen.last(), body.size());
    EXPECT_EQ(numbersSeen.last(), 77);
}

TEST_F(ClientTest, GroupListTakesFirstFieldsAndGrows)
{
    server.groups << TestGroup();
    FakeNntpServer::Group second;
    second.name = "alt.empty";
    second.count = second.first = second.last = 0;
    server.groups << second;
    ConnectAndGreet();
    Watchdog dog(client, 8000);

    Lines target{"stale"};
    int grew = 0;
    QObject::connect(&client, &TZqNNTP::GroupListGrew, [&] { ++grew; });
    ASSERT_TRUE(client.GetGroupList(target));
    EXPECT_EQ(target, (Lines{"alt.test", "alt.empty"}));
    EXPECT_EQ(client.ReplyLines, (Lines{"215 list of newsgroups follows", "."}));
    EXPECT_GE(grew, 1);
    EXPECT_EQ(client.ReceiveMode, TZqNNTP::ModeNormal);
    EXPECT_EQ(client.GroupListTarget, nullptr);
}

TEST_F(ClientTest, GroupListGrowsWhileNamesArrive)
{
    server.Script("List", {"215 groups\r\none 1 1 y\r\n", "two 2 1 n\r\nthr", "ee 3 1 m\r\n", ".\r\n"});
    ConnectAndGreet();
    Watchdog dog(client, 8000);
    Lines target;
    QList<qsizetype> sizes;
    QObject::connect(&client, &TZqNNTP::GroupListGrew, [&] { sizes << target.size(); });
    ASSERT_TRUE(client.GetGroupList(target));
    EXPECT_EQ(target, (Lines{"one", "two", "three"}));
    EXPECT_TRUE(sizes.contains(1));
    EXPECT_TRUE(sizes.contains(2));
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
}

TEST_F(ClientTest, EveryCommandSendsExactlyItsLine)
{
    server.groups << TestGroup();
    ConnectAndGreet();
    Watchdog dog(client, 8000);
    Lines target;
    EXPECT_TRUE(client.SelectGroup("alt.test"));
    EXPECT_TRUE(client.GetHeader(1));
    EXPECT_TRUE(client.GetBody(2));
    EXPECT_TRUE(client.GetGroupList(target));
    EXPECT_FALSE(client.GetHeader(-5));
    EXPECT_FALSE(client.SelectGroup("no.such"));
    EXPECT_EQ(server.received, "MODE READER\r\nCAPABILITIES\r\nGROUP alt.test\r\nHEAD 1\r\nBODY 2\r\nList\r\nHEAD -5\r\nGROUP no.such\r\n");
    EXPECT_EQ(server.commands.size(), 6);
}

TEST_F(ClientTest, DisconnectDuringBodyReturnsFalseWithEmptyBody)
{
    server.Script("BODY 1", {"222 1 <d@x> body\r\nline1\r\nline2\r\n", "line3\r\n"}); // never closed
    ConnectAndGreet();
    Watchdog dog(client, 8000);
    // Stopped once all three lines are in, the body still open.
    bool stopped = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &client, [&] {
        if (client.BodyLines.size() == 3 && !std::exchange(stopped, true))
            client.Disconnect();
    });
    poll.start(10);
    EXPECT_FALSE(client.GetBody(1));
    poll.stop();
    EXPECT_FALSE(dog.fired);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(client.BodyLines.isEmpty());
    EXPECT_TRUE(client.ReplyLines.isEmpty());
    EXPECT_FALSE(client.Connected);

    // Whatever the server still sends is not seen any more.
    const qsizetype docs = rec.docs.size();
    server.Send("line4\r\n.\r\n");
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(rec.docs.size(), docs);
    EXPECT_TRUE(client.BodyLines.isEmpty());
}

TEST_F(ClientTest, DisconnectFromDocOutputDropsThatChunk)
{
    server.Script("BODY 1", {"222 1 <d@x> body\r\nline1\r\n", "line2\r\n.\r\n"});
    PaceByReads();
    ConnectAndGreet();
    Watchdog dog(client, 8000);
    client.OnDocOutput = [&](TZqNNTP *c, const QByteArray &chunk) {
        rec.docs << chunk;
        rec.bytes += chunk.size();
        if (rec.docs.size() == 2)
            c->Disconnect();
    };
    EXPECT_FALSE(client.GetBody(1));
    EXPECT_FALSE(dog.fired);
    EXPECT_EQ(rec.docs.size(), 2);
    EXPECT_TRUE(client.BodyLines.isEmpty());
    EXPECT_TRUE(client.ReplyLines.isEmpty());
}

TEST_F(ClientTest, ReconnectInsideAWaitEndsTheOldCommand)
{
    server.groups << TestGroup();
    server.stallOn = "HEAD 1";
    ConnectAndGreet();
    Watchdog dog(client, 8000);
    Later(200, &client, [&] {
        client.Disconnect();
        client.Connect("127.0.0.1", server.Port());
    });
    EXPECT_FALSE(client.GetHeader(1));
    ASSERT_TRUE(WaitUntil([&] { return client.Connected; }, 5000));
    EXPECT_EQ(rec.states, QList<qint32>{2});
    EXPECT_EQ(server.connections, 2);
    ASSERT_TRUE(client.SelectGroup("alt.test"));
    ASSERT_TRUE(client.GetHeader(2));
    EXPECT_EQ(client.Subject, "second");
    EXPECT_FALSE(dog.fired);
}

TEST_F(ClientTest, ClientDeletedInsideItsOwnWait)
{
    server.stallOn = "BODY";
    auto *owned = new TZqNNTP;
    ASSERT_TRUE(owned->Connect("127.0.0.1", server.Port()));
    ASSERT_TRUE(WaitUntil([&] { return owned->Connected; }, 5000));
    Later(100, &server, [&] { delete owned; });
    EXPECT_FALSE(owned->GetBody(1));
}

TEST(ClientOffline, CommandsWithoutConnectionReturnFalse)
{
    TZqNNTP client;
    Lines target{"x"};
    EXPECT_FALSE(client.SelectGroup("alt.test"));
    EXPECT_FALSE(client.GetHeader(1));
    EXPECT_FALSE(client.GetBody(1));
    EXPECT_FALSE(client.GetGroupList(target));
    EXPECT_TRUE(target.isEmpty());
    EXPECT_TRUE(client.Disconnect());
}

TEST_F(ClientTest, IdleWaitOnSilentServerUsesNoCpu)
{
    server.stallOn = "HEAD";
    ConnectAndGreet();
    Later(5000, &client, [&] { client.Disconnect(); });
    const double before = ProcessCpuSeconds();
    EXPECT_FALSE(client.GetHeader(1));
    const double used = ProcessCpuSeconds() - before;
    std::printf("process CPU while GetHeader waited 5 s: %.4f s\n", used);
    EXPECT_LT(used, 0.1);
}

TEST_F(ClientTest, ServerClosingEndsTheWaitingCommandAndCostsNoCpu)
{
    server.closeOn = "HEAD";
    ConnectAndGreet();
    int lost = 0;
    client.OnConnectionLost = [&](TZqNNTP *) { ++lost; };
    bool stoppedByHand = false;
    Later(5000, &client, [&] {
        stoppedByHand = true;
        client.Disconnect();
    });
    const double before = ProcessCpuSeconds();
    EXPECT_FALSE(client.GetHeader(1));
    EXPECT_LT(ProcessCpuSeconds() - before, 0.1);
    EXPECT_FALSE(stoppedByHand); // the close ended the wait, not the Disconnect
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(client.ConnectionState, TZqNNTP::StateClosed);
    EXPECT_TRUE(rec.states.isEmpty()); // OnStateChange keeps to 2 and 4 of an attempt
}

} // namespace
