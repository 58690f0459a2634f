// Pictures in parts against the fake news server, with the window closed
// while the second part of a uuencoded picture arrives and a new window (the
// next run) taking over: the parts kept on disk make both pictures whole.
#include "TFrmMain.h"

#include "FakeNntpServer.h"
#include "MessageRecorder.h"
#include "TZqNNTP.h"
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
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QByteArray Group = "alt.binaries.pictures.pixtrawl.yenc";

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(YEncEndToEnd, ACloseBetweenPartsLosesNoPicture)
{
    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir work;
    TempProgramDir dir;
    MessageRecorder boxes;
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));

    const QByteArray five = Noise(50000, 31), uu = Noise(12000, 32);
    const auto p5 = [&](int p) { return YEncPart("five.jpg", five, p, 5, 1 + (p - 1) * 10000, 10000); };
    const QList<QByteArray> uuLines = UuencodeFile("uu.jpg", uu);
    const qsizetype third = uuLines.size() / 3;
    const QList<QList<QByteArray>> bodies{uuLines.mid(0, third), p5(3), uuLines.mid(third, third), p5(1),
                                          {"just words"}, p5(2), uuLines.mid(2 * third), p5(4), p5(5)};
    FakeNntpServer server;
    server.pieceDelayMs = 0;
    FakeNntpServer::Group g;
    g.name = Group;
    for (int i = 0; i < bodies.size(); ++i) {
        FakeNntpServer::Article a;
        a.number = i + 1;
        a.messageId = "<" + QByteArray::number(i + 1) + "@yenc.pixtrawl>";
        a.subject = "article " + QByteArray::number(i + 1);
        a.body = bodies[i];
        g.articles << a;
    }
    server.groups << g;
    ASSERT_TRUE(server.Listen());
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", server.Port());
    IniWriteInteger("CONFIG", "CONNECTIONS", 1); // article 3 is cut on the one connection
    const QString out = work.path() + "/out/";
    QDir().mkpath(out);
    IniWriteString("CONFIG", "OUTPUT_DIR", out.toLocal8Bit());
    IniWriteBool("CONFIG", "LOG", true);
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    IniWriteString("GROUPS", "LIST", Group + ',');

    // Half of article 3, then nothing: the window is closed while it arrives.
    QByteArray half = FakeNntpServer::Stuffed(bodies[2].mid(0, third / 2));
    half.chop(3);
    bool cut = false;
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        if (command != "BODY 3" || cut)
            return false;
        cut = true;
        s.Send("222 3 <3@yenc.pixtrawl> body\r\n" + half);
        s.Stall(); // nor the bodies asked for ahead
        return true;
    };
    {
        TFrmMain w;
        ASSERT_TRUE(w.miConnectClick());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 10000));
        // Once the window is on article 3, checked from the event loop: a
        // wait of its own would hold the search below it.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (w.NewsClient->ArticleNumber == 3 && !w.NewsClient->BodyLines.isEmpty()) {
                closer.stop();
                w.close();
            }
        });
        closer.start(2);
        w.miSearchAllGroups->trigger();
    }
    EXPECT_EQ(IniReadString("GROUPS", Group, ""), "3,<3@yenc.pixtrawl>");
    EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
    {
        TFrmMain w;
        ASSERT_TRUE(w.miConnectClick());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 10000));
        w.miSearchAllGroups->trigger();
        EXPECT_TRUE(w.close());
    }
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(QDir(out).entryList(QDir::Files, QDir::Name), (QStringList{"five.jpg", "uu.jpg"}));
    EXPECT_EQ(readFile(out + "five.jpg"), five);
    EXPECT_EQ(readFile(out + "uu.jpg"), uu);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", Group), 2);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", Group), 9 - 2);
    EXPECT_TRUE(readFile(work.filePath("pixtrawl.log")).contains("-article 2\r\nKept part 3 of 5 of 'five.jpg'\r\n"));
    QDir::setCurrent(oldCwd);
}

} // namespace
