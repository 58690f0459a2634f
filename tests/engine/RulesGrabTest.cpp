// A grab from the fake server that follows "Rules.dat": what a rule skips is
// never asked for, is logged with its rule and counted as filtered.
#include "EngineFixture.h"
#include "TestBodies.h"

#include "ZqIniFile.h"
#include "ZqPaths.h"
#include "ZqStatistics.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

FakeNntpServer::Article article(qint32 n, const QByteArray &subject, const QByteArray &from,
                                const QList<QByteArray> &body)
{
    FakeNntpServer::Article a = FakeNntpServer::MakeArticle(n, subject, body);
    a.header = {"From: " + from, "Subject: " + subject, "Date: Mon, 7 Dec 2026 10:00:00 +0000",
                "Message-ID: " + a.messageId, "Lines: " + QByteArray::number(body.size())};
    return a;
}

class RulesGrab : public EngineTest, public ::testing::WithParamInterface<bool> {};

// With the overview the rules see each article's size; without it (HEAD)
// they see the header's fields, which carry no size: the size rule then
// decides nothing.
TEST_P(RulesGrab, SkipsBySizePosterAndTypeWithoutAskingForTheBodies)
{
    const bool overview = GetParam();
    server.overview = overview;
    const InFolder logHere(dir.dir());
    IniWriteString("CONFIG", "LOG", "yes");
    const QByteArray cat = JpegVariant(picture(), 100, 1);
    const QByteArray big = JpegVariant(picture(), 60000, 2);
    const QByteArray bird = JpegVariant(picture(), 300, 3);
    auto &articles = server.groups[0].articles;
    articles = {article(1, "cat.jpg (1/1)", "Ann <ann@example.org>", UuencodeFile("cat.jpg", cat)),
                article(2, "\"big.jpg\" (1/1)", "Ann <ann@example.org>", UuencodeFile("big.jpg", big)),
                article(3, "dog.jpg", "Spam <x@SPAM.example>", UuencodeFile("dog.jpg", cat)),
                article(4, "movie.avi", "Ann <ann@example.org>", UuencodeFile("movie.avi", bird)),
                article(5, "bird.jpg", "Bob <bob@example.org>", UuencodeFile("bird.jpg", bird))};
    QFile rules(ZqPaths::DataDir() + QStringLiteral("Rules.dat"));
    ASSERT_TRUE(rules.open(QIODevice::WriteOnly));
    rules.write("# pictures only, nothing huge\r\nskip bytes > 40K\r\nskip from contains @spam.example\r\n"
                "only ext is jpg\r\nskip size > 1\r\n");
    rules.write(QByteArray("only ext is j\0pg\r\n", 18));
    for (int i = 0; i < TRuleSet::WarnRules; ++i) // a file too long to be cheap
        rules.write("skip subject contains filler" + QByteArray::number(i) + "\r\n");
    rules.close();

    TGrabEngine e;
    connect(e);
    e.SearchAllGroups();
    e.SearchAllGroups(); // nothing new: the bad line is not logged again

    QList<QByteArray> bodies;
    for (const QByteArray &c : server.commands)
        if (c.startsWith("BODY"))
            bodies << c;
    const QList<QByteArray> taken = overview ? QList<QByteArray>{"BODY 1\r\n", "BODY 5\r\n"}
                                             : QList<QByteArray>{"BODY 1\r\n", "BODY 2\r\n", "BODY 5\r\n"};
    EXPECT_EQ(bodies, taken);
    EXPECT_EQ(dir.read("out/cat.jpg"), cat);
    EXPECT_EQ(dir.read("out/bird.jpg"), bird);
    EXPECT_EQ(QFile::exists(dir.path("out/big.jpg")), !overview);
    EXPECT_FALSE(QFile::exists(dir.path("out/dog.jpg")));
    EXPECT_FALSE(QFile::exists(dir.path("out/movie.avi")));

    const int skipped = overview ? 3 : 2;
    EXPECT_EQ(ReadStatistic("FILTERED_COUNT", "alt.a"), skipped);
    EXPECT_EQ(std::count_if(events.log.cbegin(), events.log.cend(),
                            [](const QString &line) { return line.startsWith(QStringLiteral("filtered ")); }),
              skipped);
    const QByteArray log = LogText();
    EXPECT_EQ(log.count("Skipped by rule 2: skip bytes > 40K"), overview ? 1 : 0);
    EXPECT_EQ(log.count("Skipped by rule 3: skip from contains @spam.example"), 1);
    EXPECT_EQ(log.count("Skipped: no only rule matched"), 1);
    EXPECT_EQ(log.count("Rules.dat line 5: unknown field 'size'"), 1);
    EXPECT_EQ(log.count("Rules.dat line 6: holds a control character (byte 0x00)"), 1);
    EXPECT_EQ(log.count("Rules.dat: 5003 rules in "), 1);
}

INSTANTIATE_TEST_SUITE_P(OverviewOrHead, RulesGrab, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Overview" : "Head"; });

} // namespace
