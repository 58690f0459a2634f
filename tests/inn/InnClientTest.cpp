// The news client against a real INN2 server (tests/inn/start_inn.sh).
#include "InnServer.h"
#include "TZqNNTP.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

// Connects and waits for the session to be set up: the states reported.
QList<qint32> ConnectToInn(TZqNNTP &client)
{
    QList<qint32> states;
    client.OnStateChange = [&states](TZqNNTP *, qint32 s) { states << s; };
    if (client.Connect("127.0.0.1", InnServer::Port())) {
        QTimer guard;
        guard.setSingleShot(true);
        guard.start(15000);
        while (states.isEmpty() && guard.isActive())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    client.OnStateChange = nullptr;
    return states;
}

class InnClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (InnServer::Port() == 0)
            return;
        group_ = InnServer::UniqueGroupName("pixtrawl.test");
        InnServer::Article plain;
        plain.subject = "first article";
        plain.body = {"hello", "", "world"};
        InnServer::Article dotted;
        dotted.subject = "dots: .. and .";
        dotted.body = {".", "..", ".hidden", "...three", "a.b", "end"};
        InnServer::Article counted;
        counted.subject = "with a Lines header";
        counted.body = {"x"};
        counted.extraHeaders = {"Lines: 1"};
        articles_ = {plain, dotted, counted};
        QString error;
        if (!InnServer::CreateGroupWithArticles(group_, articles_, &error))
            setupError_ = error.toStdString();
    }

    void SetUp() override
    {
        if (InnServer::Port() == 0)
            GTEST_SKIP() << InnServer::SkipReason().toStdString();
        ASSERT_TRUE(setupError_.empty()) << setupError_;
        states = ConnectToInn(client);
        ASSERT_EQ(states, QList<qint32>{2});
        // A stuck server ends the test instead of hanging it.
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] { client.Disconnect(); });
        watchdog.start(30000);
    }

    static QByteArray group_;
    static QList<InnServer::Article> articles_;
    static std::string setupError_;
    TZqNNTP client;
    QList<qint32> states;
    QTimer watchdog;
};

QByteArray InnClientTest::group_;
QList<InnServer::Article> InnClientTest::articles_;
std::string InnClientTest::setupError_;

TEST_F(InnClientTest, SelectsGroupAndReadsHeadersAndBodies)
{
    EXPECT_TRUE(client.ReplyLines.value(0).startsWith("200"));
    ASSERT_TRUE(client.SelectGroup(group_));
    ASSERT_EQ(client.LastArticle - client.FirstArticle + 1, articles_.size());

    client.Lines = -7;
    for (int i = 0; i < articles_.size(); ++i) {
        const qint32 n = client.FirstArticle + i;
        ASSERT_TRUE(client.GetHeader(n)) << n;
        EXPECT_EQ(client.Subject, articles_[i].subject);
        EXPECT_EQ(client.MessageID, articles_[i].messageId);
        EXPECT_EQ(client.ArticleNumber, n);
        // INN adds no "Lines:" header, so only the article that brings one sets it.
        EXPECT_EQ(client.Lines, i < 2 ? -7 : 1);

        ASSERT_TRUE(client.GetBody(n)) << n;
        EXPECT_EQ(client.BodyLines, articles_[i].body);
        EXPECT_EQ(client.ArticleNumber, n);
        EXPECT_EQ(client.MessageID, articles_[i].messageId);
        EXPECT_EQ(client.ReplyLines.value(1), ".");
    }
}

TEST_F(InnClientTest, FailuresLeaveValues)
{
    ASSERT_TRUE(client.SelectGroup(group_));
    const qint32 first = client.FirstArticle, last = client.LastArticle;
    ASSERT_TRUE(client.GetHeader(first));
    const QByteArray subject = client.Subject;

    EXPECT_FALSE(client.SelectGroup("pixtrawl.no.such.group"));
    EXPECT_EQ(client.FirstArticle, first);
    EXPECT_EQ(client.LastArticle, last);
    ASSERT_TRUE(client.SelectGroup(group_));
    EXPECT_FALSE(client.GetHeader(last + 100));
    EXPECT_FALSE(client.GetBody(last + 100));
    EXPECT_TRUE(client.BodyLines.isEmpty());
    EXPECT_EQ(client.Subject, subject);
    EXPECT_EQ(client.ArticleNumber, first);
    EXPECT_TRUE(client.Connected);
}

TEST_F(InnClientTest, FetchesGroupList)
{
    Lines target;
    int grew = 0;
    QObject::connect(&client, &TZqNNTP::GroupListGrew, [&] { ++grew; });
    ASSERT_TRUE(client.GetGroupList(target));
    EXPECT_TRUE(target.contains(group_));
    EXPECT_TRUE(target.contains("local.general"));
    for (const QByteArray &name : std::as_const(target))
        EXPECT_FALSE(name.contains(' ')) << name.constData();
    EXPECT_GE(grew, 1);
    EXPECT_EQ(client.ReplyLines.value(0).left(3), "215");
}

// INN offers COMPRESS DEFLATE, and a client takes it unless told not to:
// the overview and bodies read the same, for fewer bytes on the wire.
TEST_F(InnClientTest, CompressedAndPlainSessionsReadTheSame)
{
    TZqNNTP plain;
    plain.UseCompression = false;
    ASSERT_EQ(ConnectToInn(plain), QList<qint32>{2});
    EXPECT_TRUE(client.Compressing());
    EXPECT_FALSE(plain.Compressing());

    struct Read {
        QList<Nntp::OverviewEntry> overview;
        qint64 overviewWireBytes = 0;
        QList<Lines> bodies;
    };
    auto read = [](TZqNNTP &c) {
        Read r;
        EXPECT_TRUE(c.SelectGroup(group_));
        const qint64 before = c.WireBytesIn;
        EXPECT_TRUE(c.GetOverview(c.FirstArticle, c.LastArticle, r.overview));
        r.overviewWireBytes = c.WireBytesIn - before;
        for (qint64 n = c.FirstArticle; n <= c.LastArticle; ++n) {
            EXPECT_TRUE(c.GetBody(n, {n + 1}));
            r.bodies << c.BodyLines;
        }
        return r;
    };
    const Read packed = read(client), unpacked = read(plain);
    ASSERT_EQ(packed.overview.size(), articles_.size());
    ASSERT_EQ(unpacked.overview.size(), articles_.size());
    for (int i = 0; i < articles_.size(); ++i) {
        EXPECT_EQ(packed.overview[i].subject, articles_[i].subject);
        EXPECT_EQ(packed.overview[i].messageId, unpacked.overview[i].messageId);
        EXPECT_EQ(packed.overview[i].wireBytes, unpacked.overview[i].wireBytes);
        EXPECT_EQ(packed.bodies[i], articles_[i].body);
    }
    EXPECT_EQ(packed.bodies, unpacked.bodies);
    EXPECT_LT(packed.overviewWireBytes, unpacked.overviewWireBytes);
    EXPECT_TRUE(client.Connected);
    EXPECT_TRUE(plain.Connected);
}

} // namespace
