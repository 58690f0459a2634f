// The rules against a real INN2 server (tests/inn/start_inn.sh): only what
// they allow is taken, each picture byte for byte; skipped without a server.
#include "InnServer.h"
#include "MessageRecorder.h"
#include "TGrabEngine.h"
#include "TempProgramDir.h"
#include "TestBodies.h"
#include "WaitUntil.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"
#include "ZqStatistics.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray picture()
{
    QFile f(QStringLiteral(PIXTRAWL_TEST_DATA "/jpeg/baseline.jpg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(RulesInn, TakesOnlyWhatTheRulesAllow)
{
    if (InnServer::Port() == 0)
        GTEST_SKIP() << InnServer::SkipReason().toStdString();
    TempProgramDir dir;
    MessageRecorder boxes;
    const QByteArray cat = JpegVariant(picture(), 100, 11);
    const QByteArray big = JpegVariant(picture(), 60000, 12);
    const QByteArray bird = JpegVariant(picture(), 300, 13);
    const QByteArray group = InnServer::UniqueGroupName("pixtrawl.rules");
    auto post = [](const QByteArray &subject, const QByteArray &name, const QByteArray &data,
                   const QByteArray &from = {}) {
        InnServer::Article a;
        a.subject = subject;
        a.body = UuencodeFile(name, data);
        a.from = from;
        return a;
    };
    QList<InnServer::Article> articles{post("cat.jpg (1/1)", "cat.jpg", cat),
                                       post("\"big.jpg\" (1/1)", "big.jpg", big),
                                       post("dog.jpg", "dog.jpg", cat, "Spam <x@spam.example>"),
                                       post("movie.avi", "movie.avi", bird),
                                       post("bird.jpg", "bird.jpg", bird)};
    QString error;
    ASSERT_TRUE(InnServer::CreateGroupWithArticles(group, articles, &error)) << error.toStdString();

    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", InnServer::Port());
    IniWriteString("CONFIG", "OUTPUT_DIR", dir.path("out/").toLocal8Bit());
    QDir().mkpath(dir.path("out"));
    IniWriteString("GROUPS", "LIST", group + ',');
    QFile rules(ZqPaths::DataDir() + QStringLiteral("Rules.dat"));
    ASSERT_TRUE(rules.open(QIODevice::WriteOnly));
    rules.write("skip bytes > 40K\nskip from contains @spam.example\nonly ext is jpg\n");
    rules.close();

    TGrabEngine e;
    e.LoadGroups();
    e.LoadFilters();
    ASSERT_TRUE(e.Connect());
    ASSERT_TRUE(WaitUntil([&] { return e.State() == TGrabEngine::StateOnline; }, 10000));
    e.SearchAllGroups();

    EXPECT_EQ(QDir(dir.path("out")).entryList(QDir::Files), (QStringList{"bird.jpg", "cat.jpg"}));
    EXPECT_EQ(dir.read("out/cat.jpg"), cat);
    EXPECT_EQ(dir.read("out/bird.jpg"), bird);
    EXPECT_EQ(e.Summary.Filtered, 3);
    EXPECT_EQ(ReadStatistic("FILTERED_COUNT", group), 3);
    e.Disconnect();
}

} // namespace
