// The session set-up against the fake server: the greeting and the reply to
// MODE READER judged, the login, a 480 later on, 64-bit article numbers and
// IPv6.
#include "FakeNntpServer.h"
#include "TZqNNTP.h"
#include "WaitUntil.h"

#include <QHostAddress>
#include <QTcpServer>

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Listen());
        server.pieceDelayMs = 0;
        FakeNntpServer::Group g;
        g.name = "alt.test";
        g.articles << FakeNntpServer::MakeArticle(1, "one", {"body line"});
        server.groups << g;
        client.OnStateChange = [this](TZqNNTP *, qint32 s) { states << s; };
        client.OnConnectionLost = [this](TZqNNTP *) { ++losses; };
    }

    qint32 Attempt(const QByteArray &host = "127.0.0.1")
    {
        states.clear();
        if (!client.Connect(host, server.Port()))
            return 0;
        WaitUntil([this] { return !states.isEmpty(); }, 12000);
        return states.value(0);
    }

    FakeNntpServer server;
    TZqNNTP client;
    QList<qint32> states;
    int losses = 0;
};

TEST_F(SessionTest, GreetingAndReaderModeAreJudged)
{
    const struct {
        QByteArray greeting;
        QByteArray modeReply; // empty: the command is not reached
        qint32 state;
        TZqNNTP::Failure failure;
    } cases[] = {
        {"200 ready", "200 reader", 2, TZqNNTP::FailNone},
        {"201 ready, no posting", "201 reader", 2, TZqNNTP::FailNone},
        {"200 ready", "500 what?", 2, TZqNNTP::FailNone}, // a reader anyway
        {"200 ready", "501 syntax", 2, TZqNNTP::FailNone},
        {"200 ready", "502 no reading here", 4, TZqNNTP::FailServer},
        {"200 ready", "480 log in first", 4, TZqNNTP::FailLoginRequired},
        {"400 service temporarily unavailable", "", 4, TZqNNTP::FailServer},
        {"502 Access denied", "", 4, TZqNNTP::FailServer},
        {"hello", "", 4, TZqNNTP::FailServer},
    };
    for (const auto &c : cases) {
        server.greeting = c.greeting;
        server.modeReaderReply = c.modeReply;
        server.sessionCommands.clear();
        const char *what = c.greeting.constData();
        EXPECT_EQ(Attempt(), c.state) << what;
        EXPECT_EQ(client.LastFailure, c.failure) << what;
        EXPECT_EQ(client.Connected, c.state == 2) << what;
        EXPECT_EQ(server.sessionCommands, c.modeReply.isEmpty() ? Lines{} : Lines{"MODE READER\r\n"}) << what;
        if (c.state == 4) {
            // Where and why, in the server's own words.
            const QByteArray words = c.failure == TZqNNTP::FailServer && c.modeReply.isEmpty() ? c.greeting : c.modeReply;
            EXPECT_EQ(client.FailureText, QStringLiteral("127.0.0.1:%1: ").arg(server.Port()) + words) << what;
        } else {
            EXPECT_EQ(client.ReplyLines, Lines{c.greeting}) << what;
        }
    }
    EXPECT_EQ(losses, 0);
}

TEST_F(SessionTest, LoginAfterReaderMode)
{
    server.user = "joe";
    server.password = "pw";
    server.loginRequired = true;
    client.UserName = "joe";
    client.Password = "pw";
    ASSERT_EQ(Attempt(), 2);
    EXPECT_EQ(server.sessionCommands, (Lines{"MODE READER\r\n", "AUTHINFO USER joe\r\n", "AUTHINFO PASS pw\r\n"}));
    EXPECT_TRUE(client.SelectGroup("alt.test"));

    client.Password = "wrong";
    ASSERT_EQ(Attempt(), 4);
    EXPECT_EQ(client.LastFailure, TZqNNTP::FailLogin);
    EXPECT_EQ(client.FailureText, QStringLiteral("127.0.0.1:%1: 481 authentication failed").arg(server.Port()));
}

TEST_F(SessionTest, A480LogsInAndSendsTheCommandOnceMore)
{
    server.user = "joe";
    server.password = "pw";
    client.UserName = "joe";
    client.Password = "pw";
    for (const QByteArray &asked : {QByteArray("GROUP"), QByteArray("BODY")}) {
        ASSERT_EQ(Attempt(), 2);
        server.commands.clear();
        server.sessionCommands.clear();
        server.askLoginOnce = asked;
        EXPECT_TRUE(client.SelectGroup("alt.test")) << asked.constData();
        EXPECT_TRUE(client.GetBody(1)) << asked.constData();
        EXPECT_EQ(client.BodyLines, Lines{"body line"});
        const Lines twice = asked == "GROUP" ? Lines{"GROUP alt.test\r\n", "GROUP alt.test\r\n", "BODY 1\r\n"}
                                             : Lines{"GROUP alt.test\r\n", "BODY 1\r\n", "BODY 1\r\n"};
        EXPECT_EQ(server.commands, twice);
        EXPECT_EQ(server.sessionCommands, (Lines{"AUTHINFO USER joe\r\n", "AUTHINFO PASS pw\r\n"}));
    }
    EXPECT_EQ(losses, 0);
}

TEST_F(SessionTest, A480WithoutAUserNameEndsTheConnection)
{
    server.loginRequired = true;
    ASSERT_EQ(Attempt(), 2);
    EXPECT_FALSE(client.SelectGroup("alt.test"));
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(losses, 1);
    EXPECT_EQ(client.LastFailure, TZqNNTP::FailLoginRequired);
    EXPECT_EQ(server.commands, Lines{"GROUP alt.test\r\n"}); // asked once, not again and again
}

TEST_F(SessionTest, ArticleNumbersBeyond32Bits)
{
    server.Script("GROUP big", {"211 3 9223372036854775805 9223372036854775807 big\r\n"});
    server.Script("GROUP mid", {"211 1000 3000000000 3000000999 mid\r\n"});
    server.Script("BODY 3000000999", {"222 3000000999 <m@x> body\r\nx\r\n.\r\n"});
    ASSERT_EQ(Attempt(), 2);
    ASSERT_TRUE(client.SelectGroup("big"));
    EXPECT_EQ(client.FirstArticle, INT64_MAX - 2);
    EXPECT_EQ(client.LastArticle, INT64_MAX);
    ASSERT_TRUE(client.SelectGroup("mid"));
    EXPECT_EQ(client.FirstArticle, 3000000000LL);
    ASSERT_TRUE(client.GetBody(3000000999LL));
    EXPECT_EQ(client.ArticleNumber, 3000000999LL);
    EXPECT_EQ(server.commands.last(), "BODY 3000000999\r\n");
}

TEST(SessionIPv6, ConnectsOverTheIPv6Loopback)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6, 0))
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    probe.close();
    FakeNntpServer server;
    ASSERT_TRUE(server.Listen(0, QHostAddress(QHostAddress::LocalHostIPv6)));
    TZqNNTP client;
    QList<qint32> states;
    client.OnStateChange = [&](TZqNNTP *, qint32 s) { states << s; };
    ASSERT_TRUE(client.Connect("::1", server.Port()));
    WaitUntil([&] { return !states.isEmpty(); }, 12000);
    EXPECT_EQ(states, QList<qint32>{2});
    EXPECT_EQ(client.Where(), QStringLiteral("[::1]:%1").arg(server.Port()));
}

} // namespace
