// The client when the connection ends under a waiting command: the server
// closes or resets it, or stops answering.
#include "FakeNntpServer.h"
#include "WaitUntil.h"
#include "TZqNNTP.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

class ResilienceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Listen());
        server.pieceDelayMs = 50;
        FakeNntpServer::Group g;
        g.name = "alt.test";
        g.articles << FakeNntpServer::MakeArticle(1, "first", {"one", "two", "three"});
        server.groups << g;
        client.OnStateChange = [this](TZqNNTP *, qint32 s) { states << s; };
        client.OnConnectionLost = [this](TZqNNTP *c) {
            ++lost;
            lostSawConnected = c->Connected;
        };
        client.OnDocOutput = [this](TZqNNTP *, const QByteArray &chunk) { docs << chunk; };
        // A fault would leave a command waiting for ever.
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            watchdogFired = true;
            client.Disconnect();
        });
        watchdog.start(15000);
    }

    void ConnectAndGreet()
    {
        states.clear();
        ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
        ASSERT_TRUE(WaitUntil([this] { return !states.isEmpty(); }, 11000));
        ASSERT_EQ(states, QList<qint32>{2});
        states.clear();
        docs.clear();
        lost = 0;
    }

    FakeNntpServer server;
    TZqNNTP client;
    QList<qint32> states;
    Lines docs;
    int lost = 0;
    bool lostSawConnected = true;
    QTimer watchdog;
    bool watchdogFired = false;
};

TEST_F(ResilienceTest, EndOfConnectionEndsEveryWaitingCommand)
{
    enum How { Close, Reset };
    struct Case {
        const char *name;
        QByteArray command;              // what the server sees
        Lines pieces;                    // sent before the connection ends
        std::function<bool(TZqNNTP &)> run;
    };
    Lines groups;
    const QList<Case> cases = {
        {"group", "GROUP alt.test", {}, [](TZqNNTP &c) { return c.SelectGroup("alt.test"); }},
        {"header", "HEAD 1", {"221 1 <a@x> head\r\nSubject: half"}, [](TZqNNTP &c) { return c.GetHeader(1); }},
        {"body", "BODY 1", {"222 1 <a@x> body\r\none\r\n", "two\r\n"}, [](TZqNNTP &c) { return c.GetBody(1); }},
        {"list", "List", {"215 groups\r\nalt.one 1 1 y\r\n"}, [&](TZqNNTP &c) { return c.GetGroupList(groups); }},
    };
    for (How how : {Close, Reset}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.name) + (how == Close ? " close" : " reset"));
            server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
                if (command != c.command)
                    return false;
                Lines pieces = c.pieces;
                if (how == Close) {
                    s.Send(pieces << QByteArray());
                } else {
                    s.Send(pieces);
                    QTimer::singleShot(50 * (pieces.size() + 1), &s, [&s] { s.ResetClient(); });
                }
                return true;
            };
            ConnectAndGreet();
            EXPECT_FALSE(c.run(client));
            EXPECT_FALSE(watchdogFired);
            EXPECT_EQ(lost, 1);
            EXPECT_FALSE(lostSawConnected);
            EXPECT_FALSE(client.Connected);
            EXPECT_EQ(client.ConnectionState, TZqNNTP::StateClosed);
            EXPECT_TRUE(client.BodyLines.isEmpty());
            EXPECT_TRUE(client.ReplyLines.isEmpty());
            EXPECT_TRUE(states.isEmpty());
            if (how == Close && !c.pieces.isEmpty()) {
                EXPECT_FALSE(docs.isEmpty()); // what arrived before the end was seen
            }
            // Nothing is reported twice, and a later command ends at once.
            EXPECT_FALSE(client.GetHeader(1));
            EXPECT_EQ(lost, 1);
        }
    }

    // The same client connects again and works as before.
    server.responder = nullptr;
    ConnectAndGreet();
    ASSERT_TRUE(client.SelectGroup("alt.test"));
    ASSERT_TRUE(client.GetBody(1));
    EXPECT_EQ(client.BodyLines, (Lines{"one", "two", "three"}));
    EXPECT_EQ(client.ReceiveMode, TZqNNTP::ModeNormal);
    EXPECT_EQ(lost, 0);
}

TEST_F(ResilienceTest, IdleConnectionClosedByServerIsReported)
{
    ConnectAndGreet();
    server.CloseClient();
    ASSERT_TRUE(WaitUntil([this] { return lost > 0; }, 5000));
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(client.ConnectionState, TZqNNTP::StateClosed);
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(client.SelectGroup("alt.test"));
    EXPECT_FALSE(watchdogFired);
}

TEST_F(ResilienceTest, DisconnectIsNotALoss)
{
    server.stallOn = "HEAD";
    ConnectAndGreet();
    QTimer::singleShot(100, &client, [this] { client.Disconnect(); });
    EXPECT_FALSE(client.GetHeader(1));
    server.CloseClient();
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(lost, 0);
    EXPECT_TRUE(states.isEmpty());
}

TEST_F(ResilienceTest, SilenceLongerThanTheReplyTimeoutIsALoss)
{
    client.ReplyTimeoutMs = 1000;
    client.ReplyMinBytes = 10;
    ConnectAndGreet();
    ASSERT_TRUE(client.SelectGroup("alt.test"));

    // A reply that keeps coming, slowly, is not cut off however long it takes
    // in all.
    Lines body;
    Lines pieces{"222 1 <slow@x> body\r\n"};
    for (int i = 0; i < 12; ++i) {
        body << "line" + QByteArray::number(i);
        pieces << body.last() + "\r\n";
    }
    pieces << ".\r\n";
    server.pieceDelayMs = 100;
    server.Script("BODY 1", pieces);
    ASSERT_TRUE(client.GetBody(1));
    EXPECT_EQ(client.BodyLines, body);

    // Idle time between commands does not count.
    WaitUntil([] { return false; }, 1500);
    EXPECT_TRUE(client.Connected);
    EXPECT_EQ(lost, 0);

    // A reply that stops half-way, or never starts, does.
    server.Script("HEAD 1", {"221 1 <slow@x> head\r\nSubject: x\r\n"});
    EXPECT_FALSE(client.GetHeader(1));
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(client.ConnectionState, TZqNNTP::StateClosed);

    ConnectAndGreet();
    server.stallOn = "GROUP";
    EXPECT_FALSE(client.SelectGroup("alt.test"));
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(watchdogFired);
    EXPECT_TRUE(states.isEmpty());
}

} // namespace
