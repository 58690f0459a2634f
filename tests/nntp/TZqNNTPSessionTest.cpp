// The session set-up against the fake server: the greeting and the reply to
// MODE READER judged, the login, a 480 later on, compression, 64-bit article
// numbers and IPv6.
#include "FakeNntpServer.h"
#include "TDeflateMemory.h"
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
    void TearDown() override { TDeflateMemory::Forget(); }

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
        const Lines setup = c.modeReply.isEmpty() ? Lines{}
                            : c.state == 2    ? Lines{"MODE READER\r\n", "CAPABILITIES\r\n"}
                                              : Lines{"MODE READER\r\n"};
        EXPECT_EQ(server.sessionCommands, setup) << what;
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
    EXPECT_EQ(server.sessionCommands, (Lines{"MODE READER\r\n", "AUTHINFO USER joe\r\n", "AUTHINFO PASS pw\r\n",
                                             "CAPABILITIES\r\n"}));
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

// A GROUP sent with its first overview batch and answered 480: the list of
// fields refused with it says nothing about them, so it is asked for again
// with the batch after the login.
TEST_F(SessionTest, A480OnAGroupWithItsOverviewAsksForTheFieldsAgain)
{
    server.user = "joe";
    server.password = "pw";
    server.loginRequired = true;
    client.UserName = "joe";
    client.Password = "pw";
    ASSERT_EQ(Attempt(), 2);
    server.commands.clear();
    server.askLoginOnce = "GROUP"; // the login lapses: what follows GROUP is refused too
    ASSERT_TRUE(client.SelectGroup("alt.test", 1, 2000));
    QList<Nntp::OverviewEntry> entries;
    ASSERT_TRUE(client.GetOverview(1, 1, entries));
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].messageId, server.groups.first().articles.first().messageId);
    const Lines once{"GROUP alt.test\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 1-2000\r\n"};
    EXPECT_EQ(server.commands, once + once); // refused, then answered; nothing asked a third time
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

// What the server offers and what the client wants decide; the same group,
// overview and pipelined bodies come through either way.
TEST_F(SessionTest, CompressionWhenOfferedAndWanted)
{
    using C = FakeNntpServer::Compression;
    QList<QByteArray> big; // swells a compressed read past one inflated piece
    for (int n = 0; n < 40000; ++n)
        big << "line " + QByteArray::number(n % 100) + " of a long text body";
    FakeNntpServer::Group &g = server.groups.first();
    g.articles << FakeNntpServer::MakeArticle(2, "two", big) << FakeNntpServer::MakeArticle(3, "three", {".dot"});
    const struct {
        C server;
        bool wanted;
        bool compressed;
        Lines setup;
    } cases[] = {
        {C::Deflate, true, true, {"MODE READER\r\n", "CAPABILITIES\r\n", "COMPRESS DEFLATE\r\n"}},
        {C::Refuse, true, false, {"MODE READER\r\n", "CAPABILITIES\r\n", "COMPRESS DEFLATE\r\n"}},
        {C::Off, true, false, {"MODE READER\r\n", "CAPABILITIES\r\n"}},
        {C::Deflate, false, false, {"MODE READER\r\n"}},
    };
    for (const auto &c : cases) {
        const std::string what = std::to_string(int(c.server)) + (c.wanted ? " wanted" : " off");
        server.compression = c.server;
        client.UseCompression = c.wanted;
        client.Pipeline = 3;
        server.sessionCommands.clear();
        server.commands.clear();
        ASSERT_EQ(Attempt(), 2) << what;
        EXPECT_EQ(client.Compressing(), c.compressed) << what;
        EXPECT_EQ(server.sessionCommands, c.setup) << what;
        ASSERT_TRUE(client.SelectGroup("alt.test")) << what;
        QList<Nntp::OverviewEntry> entries;
        ASSERT_TRUE(client.GetOverview(1, 3, entries)) << what;
        ASSERT_EQ(entries.size(), 3) << what;
        EXPECT_EQ(entries[1].subject, "two") << what;
        ASSERT_TRUE(client.GetBody(1, {2, 3})) << what;
        EXPECT_EQ(client.BodyLines, Lines{"body line"}) << what;
        ASSERT_TRUE(client.GetBody(2, {3})) << what;
        EXPECT_EQ(client.BodyLines, big) << what;
        // What an article is, compressed or not: its reply as the server wrote it.
        EXPECT_EQ(client.BodyBytes, qint64(QByteArray("222 2 <art2@fake.invalid> body\r\n").size()
                                           + FakeNntpServer::Stuffed(big).size())) << what;
        ASSERT_TRUE(client.GetBody(3)) << what;
        EXPECT_EQ(client.BodyLines, Lines{".dot"}) << what;
        EXPECT_EQ(server.commands, (Lines{"GROUP alt.test\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 1-3\r\n", "BODY 1\r\n",
                                          "BODY 2\r\n", "BODY 3\r\n"})) << what;
        // The wire carries the server's bytes as they were written.
        EXPECT_EQ(client.WireBytesIn, server.wireBytesOut) << what;
        if (c.compressed) {
            EXPECT_LT(client.WireBytesIn, FakeNntpServer::Stuffed(big).size() / 10) << what;
        } else {
            EXPECT_GT(client.WireBytesIn, FakeNntpServer::Stuffed(big).size()) << what;
        }
        client.Disconnect();
        client.WireBytesIn = 0;
        server.wireBytesOut = 0;
    }
    EXPECT_EQ(losses, 0);
}

// A server whose compressed stream cannot be inflated: the connection ends
// with zlib's reason, and the next one to that server goes uncompressed.
TEST_F(SessionTest, ABrokenCompressedStreamEndsTheConnectionAndTheNextGoesPlain)
{
    server.compression = FakeNntpServer::Compression::Broken;
    ASSERT_EQ(Attempt(), 2);
    ASSERT_TRUE(WaitUntil([this] { return losses == 1; }, 12000));
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(client.LastFailure, TZqNNTP::FailNetwork);
    EXPECT_EQ(client.FailureText, QStringLiteral("127.0.0.1:%1: the server's compressed stream is broken: "
                                                 "invalid block type").arg(server.Port()));

    server.sessionCommands.clear();
    ASSERT_EQ(Attempt(), 2);
    EXPECT_FALSE(client.Compressing());
    EXPECT_EQ(server.sessionCommands, Lines{"MODE READER\r\n"});
    EXPECT_TRUE(client.SelectGroup("alt.test"));
    ASSERT_TRUE(client.GetBody(1));
    EXPECT_EQ(client.BodyLines, Lines{"body line"});
    EXPECT_EQ(losses, 1);
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
