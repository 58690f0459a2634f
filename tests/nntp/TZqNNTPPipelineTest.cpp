// BODY requests sent ahead of their replies, and the limits on what a
// server may send: long lines, large replies, drips.
#include "FakeNntpServer.h"
#include "TZqNNTP.h"
#include "WaitUntil.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

Lines bodyOf(int n) { return {"body of " + QByteArray::number(n), ".dotted " + QByteArray::number(n)}; }

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Listen());
        server.pieceDelayMs = 0;
        FakeNntpServer::Group g;
        g.name = "alt.test";
        for (int n = 1; n <= 6; ++n)
            g.articles << FakeNntpServer::MakeArticle(n, "subject " + QByteArray::number(n), bodyOf(n));
        server.groups << g;
        client.Pipeline = 4;
        client.OnConnectionLost = [this](TZqNNTP *) { ++lost; };
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] { client.Disconnect(); });
        watchdog.start(15000);
    }
    void ConnectAndSelect()
    {
        ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
        ASSERT_TRUE(WaitUntil([this] { return client.Connected || client.ConnectionState == TZqNNTP::StateClosed; }, 11000));
        ASSERT_TRUE(client.Connected) << client.FailureText.toStdString();
        ASSERT_TRUE(client.SelectGroup("alt.test"));
        server.commands.clear();
    }
    int count(const QByteArray &command) const { return int(server.commands.count(command + "\r\n")); }
    QList<qint64> after(qint64 a) const
    {
        QList<qint64> ahead;
        for (qint64 n = a + 1; n <= 6; ++n)
            ahead << n;
        return ahead;
    }

    FakeNntpServer server;
    TZqNNTP client;
    int lost = 0;
    QTimer watchdog;
};

TEST_F(PipelineTest, BodiesAskedForAheadAreTakenInTurnEachAskedForOnce)
{
    ConnectAndSelect();
    ASSERT_TRUE(client.GetBody(1, after(1)));
    EXPECT_EQ(server.commands, (Lines{"BODY 1\r\n", "BODY 2\r\n", "BODY 3\r\n", "BODY 4\r\n"}));
    EXPECT_EQ(client.BodyLines, bodyOf(1));
    for (int a = 2; a <= 6; ++a) {
        ASSERT_TRUE(client.GetBody(a, after(a))) << a;
        EXPECT_EQ(client.BodyLines, bodyOf(a)) << a;
        EXPECT_EQ(client.ArticleNumber, a);
        EXPECT_EQ(client.BodyBytes, client.LastStatus.size() + 2 + FakeNntpServer::Stuffed(bodyOf(a)).size()) << a;
    }
    for (int a = 1; a <= 6; ++a)
        EXPECT_EQ(count("BODY " + QByteArray::number(a)), 1) << a;
    EXPECT_EQ(client.InFlight(), 0);
}

TEST_F(PipelineTest, RequestsNotTakenAreReadAndDropped)
{
    ConnectAndSelect();
    ASSERT_TRUE(client.GetBody(1, {2, 3, 4}));
    // Skipped to 3: 2 is dropped, 3 is not asked for again.
    ASSERT_TRUE(client.GetBody(3));
    EXPECT_EQ(client.BodyLines, bodyOf(3));
    EXPECT_EQ(count("BODY 3"), 1);
    // A header or overview of the same group first reads what is still
    // due and keeps it; a GROUP drops it.
    ASSERT_TRUE(client.GetHeader(6));
    EXPECT_EQ(client.Subject, "subject 6");
    EXPECT_EQ(client.InFlight(), 1);
    ASSERT_TRUE(client.GetBody(4));
    EXPECT_EQ(client.BodyLines, bodyOf(4));
    EXPECT_EQ(count("BODY 4"), 1);
    ASSERT_TRUE(client.GetBody(5, {6}));
    ASSERT_TRUE(client.SelectGroup("alt.test"));
    EXPECT_EQ(client.InFlight(), 0);
}

TEST_F(PipelineTest, ALostConnectionTakesWhatWasInFlightWithIt)
{
    bool closed = false;
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        if (command != "BODY 3" || closed)
            return false;
        closed = true;
        s.Send(Lines{"222 3 <3@x> body\r\nhalf", QByteArray()});
        s.Stall();
        return true;
    };
    ConnectAndSelect();
    ASSERT_TRUE(client.GetBody(1, after(1)));
    ASSERT_TRUE(client.GetBody(2, after(2)));
    EXPECT_FALSE(client.GetBody(3, after(3)));
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(client.InFlight(), 0);
    ConnectAndSelect();
    ASSERT_TRUE(client.GetBody(3, after(3)));
    EXPECT_EQ(client.BodyLines, bodyOf(3));
    EXPECT_EQ(server.commands.first(), "BODY 3\r\n");
}

// A write the kernel takes only in part: the rest, and what is asked
// after it, follow in order.
TEST_F(PipelineTest, AWriteLargerThanTheSocketTakesArrivesWholeAndInOrder)
{
    server.responder = [](FakeNntpServer &, const QByteArray &command) { return command.startsWith("XJUNK"); };
    ConnectAndSelect();
    const QByteArray huge = "XJUNK " + QByteArray(4 << 20, 'a') + "\r\n";
    client.SendCommand(huge);
    ASSERT_TRUE(client.GetBody(1, after(1)));
    EXPECT_EQ(client.BodyLines, bodyOf(1));
    ASSERT_GE(server.commands.size(), 2);
    EXPECT_TRUE(server.commands[0] == huge);
    EXPECT_EQ(server.commands.mid(1, 4), (Lines{"BODY 1\r\n", "BODY 2\r\n", "BODY 3\r\n", "BODY 4\r\n"}));
}

TEST_F(PipelineTest, LargeRepliesAndLongLinesEndTheConnection)
{
    // A greeting that never ends.
    server.greeting = QByteArray(3 * TZqNNTP::MaxLineBytes, 'x');
    QList<qint32> states;
    client.OnStateChange = [&](TZqNNTP *, qint32 s) { states << s; };
    ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
    ASSERT_TRUE(WaitUntil([&] { return !states.isEmpty(); }, 11000));
    EXPECT_EQ(states, QList<qint32>{4});
    EXPECT_TRUE(client.FailureText.endsWith("a line longer than 1 MB")) << client.FailureText.toStdString();

    // A body past the limit: dropped, and the connection with it.
    server.greeting = "200 ok";
    client.MaxReplyBytes = 64 << 10;
    Lines big;
    for (int i = 0; i < 2000; ++i)
        big << QByteArray(60, 'b');
    server.groups[0].articles[0].body = big;
    server.groups[0].articles[2].body = big;
    ConnectAndSelect();
    EXPECT_FALSE(client.GetBody(1, {2, 3}));
    EXPECT_TRUE(client.OversizeArticle);
    EXPECT_TRUE(client.BodyLines.isEmpty());
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(lost, 1);

    // One asked for ahead that has ended by the time it is taken: no need to drop the connection.
    QByteArray seen;
    client.OnDocOutput = [&](TZqNNTP *, const QByteArray &chunk) { seen += chunk; };
    ConnectAndSelect();
    ASSERT_TRUE(client.GetBody(2, {3, 4}));
    // 3 has come in full once the reply after it begins.
    ASSERT_TRUE(WaitUntil([&] { return seen.contains("\r\n222 4 "); }, 10000));
    client.OnDocOutput = nullptr;
    EXPECT_FALSE(client.GetBody(3, {4}));
    EXPECT_TRUE(client.OversizeArticle);
    EXPECT_TRUE(client.Connected);
    ASSERT_TRUE(client.GetBody(4));
    EXPECT_EQ(client.BodyLines, bodyOf(4));
}

TEST_F(PipelineTest, ADripIsALostConnection)
{
    client.ReplyTimeoutMs = 300;
    ConnectAndSelect();
    Lines drip{"222 1 <1@x> body\r\n"};
    for (int i = 0; i < 60; ++i)
        drip << "x";
    server.pieceDelayMs = 20; // a byte every 20 ms: never silent for 300 ms
    server.Script("BODY 1", drip);
    EXPECT_FALSE(client.GetBody(1));
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(client.FailureText.contains("fewer than 1000 bytes")) << client.FailureText.toStdString();
}

// A dialog opened inside the wait holds it past the time-out; a reply that
// came in full meanwhile must not count as lost.
TEST_F(PipelineTest, ACompleteReplyDoesNotTimeOutWhileANestedLoopHoldsTheWait)
{
    client.ReplyTimeoutMs = 300;
    ConnectAndSelect();
    QTimer::singleShot(0, [] {
        QEventLoop dialog;
        QTimer::singleShot(1000, &dialog, &QEventLoop::quit);
        dialog.exec();
    });
    ASSERT_TRUE(client.GetHeader(2));
    EXPECT_EQ(client.Subject, "subject 2");
    QTimer::singleShot(0, [] {
        QEventLoop dialog;
        QTimer::singleShot(1000, &dialog, &QEventLoop::quit);
        dialog.exec();
    });
    ASSERT_TRUE(client.GetBody(1, {2}));
    EXPECT_EQ(client.BodyLines, bodyOf(1));
    EXPECT_TRUE(client.Connected);
    EXPECT_EQ(lost, 0);
}

} // namespace
