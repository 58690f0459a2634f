// yEnc against a real INN2 server (tests/inn/start_inn.sh): a 5-part picture
// posted out of order with other articles between its parts, a 2-part one
// split across two groups, a damaged one, and a 3-part uuencoded picture
// whose grab is closed and started again (a new window: the next run)
// between its parts. Every whole picture is saved once and byte-exact.
#include "TFrmMain.h"

#include "InnServer.h"
#include "MessageRecorder.h"
#include "TestBodies.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class YEncInn : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (InnServer::Port() == 0)
            GTEST_SKIP() << InnServer::SkipReason().toStdString();
        QApplication::setQuitOnLastWindowClosed(false);
        oldCwd_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work.path()));
        for (int g = 0; g < 2; ++g) {
            groups[g] = InnServer::UniqueGroupName(g == 0 ? "pixtrawl.yenc.one" : "pixtrawl.yenc.two");
            QString error;
            ASSERT_TRUE(InnServer::CreateGroup(groups[g], &error)) << error.toStdString();
        }
        IniWriteString("CONFIG", "HOST", "127.0.0.1");
        IniWriteInteger("CONFIG", "PORT", InnServer::Port());
        QDir().mkpath(out());
        IniWriteString("CONFIG", "OUTPUT_DIR", out().toLocal8Bit());
        IniWriteBool("CONFIG", "LOG", true);
        IniWriteBool("CONFIG", "EXIT_PROMPT", false);
        IniWriteString("GROUPS", "LIST", groups[0] + ',' + groups[1] + ',');
    }
    void TearDown() override
    {
        if (!oldCwd_.isEmpty())
            QDir::setCurrent(oldCwd_);
    }

    QString out() const { return work.path() + QStringLiteral("/out/"); }
    void post(int g, const QByteArray &subject, const Lines &body)
    {
        InnServer::Article a;
        a.group = groups[g];
        a.subject = subject;
        a.body = body;
        QString error;
        ASSERT_TRUE(InnServer::PostArticle(a, &error)) << error.toStdString();
    }
    void grab()
    {
        TFrmMain w;
        ASSERT_TRUE(w.miConnectClick());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 15000));
        w.miSearchAllGroups->trigger();
        EXPECT_EQ(w.State(), TFrmMain::StateOnline);
        EXPECT_TRUE(w.close());
    }

    QByteArray groups[2];
    QTemporaryDir work;
    TempProgramDir dir;
    MessageRecorder boxes;

private:
    QString oldCwd_;
};

TEST_F(YEncInn, PartsFromAnywhereAndAcrossARestartMakeWholePicturesOnce)
{
    const QByteArray five = Noise(60000, 21), split = Noise(20000, 22), uu = Noise(9000, 23);
    const QByteArray bad = Noise(5000, 24);
    const auto p5 = [&](int p) { return YEncPart("five.jpg", five, p, 5, 1 + (p - 1) * 12000, 12000); };
    Lines damaged = YEncFile("bad.jpg", bad);
    for (qsizetype k = 1; k < damaged[3].size(); ++k) { // one plain byte changed: same size, wrong CRC
        if (damaged[3][k - 1] != '=' && damaged[3][k] != '=') {
            damaged[3][k] = char(damaged[3][k] == 'a' ? 'b' : 'a');
            break;
        }
    }
    const Lines uuLines = UuencodeFile("uu.jpg", uu);
    const qsizetype third = uuLines.size() / 3;

    post(0, "hello", {"just words"});
    post(0, "five.jpg (3/5)", p5(3));
    post(0, "uu.jpg (1/3)", uuLines.mid(0, third));
    post(0, "chat", {"more words"});
    post(0, "five.jpg (1/5)", p5(1));
    post(0, "split.jpg (1/2)", YEncPart("split.jpg", split, 1, 2, 1, 10000));
    post(0, "bad.jpg", damaged);
    post(0, "five.jpg (5/5)", p5(5));
    post(0, "five.jpg (2/5)", p5(2));
    post(1, "split.jpg (2/2)", YEncPart("split.jpg", split, 2, 2, 10001, 10000));
    post(1, "chat", {"words"});
    grab();
    EXPECT_EQ(QDir(out()).entryList(QDir::Files), QStringList{"split.jpg"});

    // The grab was closed between the uuencoded picture's parts.
    post(0, "uu.jpg (2/3)", uuLines.mid(third, third));
    post(0, "five.jpg (4/5)", p5(4));
    post(0, "uu.jpg (3/3)", uuLines.mid(2 * third));
    grab();
    EXPECT_TRUE(boxes.shown().isEmpty());

    EXPECT_EQ(QDir(out()).entryList(QDir::Files, QDir::Name), (QStringList{"five.jpg", "split.jpg", "uu.jpg"}));
    EXPECT_EQ(readFile(out() + "five.jpg"), five);
    EXPECT_EQ(readFile(out() + "split.jpg"), split);
    EXPECT_EQ(readFile(out() + "uu.jpg"), uu);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 3);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", groups[1]), 1);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", ""), 11);

    const QByteArray log = readFile(work.filePath(QStringLiteral("pixtrawl.log")));
    EXPECT_TRUE(log.contains("-five.jpg (3/5)\r\nKept part 3 of 5 of 'five.jpg'\r\n"));
    EXPECT_TRUE(log.contains("-bad.jpg\r\nFile 'bad.jpg' failed its CRC-32 check: "));
    EXPECT_TRUE(log.contains("-five.jpg (4/5)\r\nArticle was saved as 'five.jpg' at 60000 bytes.\r\n"));
    EXPECT_TRUE(log.contains("-uu.jpg (3/3)\r\nArticle was saved as 'uu.jpg' at 9000 bytes.\r\n"));
    EXPECT_TRUE(QDir(dir.path(QStringLiteral("Parts"))).entryList(QDir::Files).isEmpty());
}

} // namespace
