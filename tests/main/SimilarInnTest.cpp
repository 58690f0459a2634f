// Reposts of a photograph that are not byte-identical (re-encoded, resized,
// converted to PNG), posted to INN2 among distinct photographs and grabbed
// by the window with the look-alike screening on: the reposts are set aside
// into "Similar", every distinct photograph stays in the output folder.
#include "TFrmMain.h"

#include "InnServer.h"
#include "MessageRecorder.h"
#include "TPictureFingerprint.h"
#include "TPictureReader.h"
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

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray photo(const char *name) { return readFile(QStringLiteral(PIXTRAWL_TEST_DATA "/similar/") + name); }

TEST(SimilarInn, RepostsAreSetAsideAndDistinctPhotographsKept)
{
    if (InnServer::Port() == 0)
        GTEST_SKIP() << InnServer::SkipReason().toStdString();
    TPictureFingerprint::SetReader(TPictureReader::ReadReducedRgb); // as the program's start does
    const QByteArray group = InnServer::UniqueGroupName("pixtrawl.similar");

    // The photograph first, then the distinct ones with the reposts among them.
    const QList<const char *> distinct{"coffee.jpg",           "chelsea.jpg",      "ladybird.jpg",
                                       "motorcycle-left.jpg",  "motorcycle-right.jpg", "licorice-l.jpg",
                                       "licorice-d.jpg",       "coffee-left.jpg",  "coffee-right.jpg"};
    const QList<const char *> reposts{"coffee-q40.jpg", "coffee-r70.jpg", "coffee-r30.jpg", "coffee.png"};
    QList<InnServer::Article> articles;
    for (qsizetype i = 0; i < distinct.size(); ++i) {
        articles << InnServer::Article{{}, QByteArray(distinct[i]) + " (1/1)", YEncFile(distinct[i], photo(distinct[i])), {}, {}};
        if (i > 0 && i <= reposts.size()) {
            // Posted again under the photograph's own name.
            const QByteArray name = QByteArray(reposts[i - 1]).endsWith(".png") ? "coffee.png" : "coffee.jpg";
            articles << InnServer::Article{{}, "Repost: " + name, UuencodeFile(name, photo(reposts[i - 1])), {}, {}};
        }
    }
    QString error;
    ASSERT_TRUE(InnServer::CreateGroupWithArticles(group, articles, &error)) << error.toStdString();

    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir work;
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    TempProgramDir dir;
    MessageRecorder boxes;
    const QString out = dir.path(QStringLiteral("out/"));
    QDir().mkpath(out);
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", InnServer::Port());
    IniWriteString("CONFIG", "OUTPUT_DIR", out.toLocal8Bit());
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    IniWriteBool("CONFIG", "FILE_SCREENING", true);
    IniWriteBool("CONFIG", "RENAME_DUPLICATES", true);
    IniWriteBool("CONFIG", "SIMILAR_SCREENING", true);
    IniWriteBool("CONFIG", "LOG", true);
    IniWriteString("GROUPS", "LIST", group + ',');
    {
        TFrmMain w;
        ASSERT_TRUE(w.miConnectClick());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 15000));
        w.miSearchAllGroups->trigger();
        EXPECT_EQ(w.State(), TFrmMain::StateOnline);
        EXPECT_TRUE(w.close());
    }
    const QByteArray log = readFile(work.filePath(QStringLiteral("pixtrawl.log")));
    QDir::setCurrent(oldCwd);
    EXPECT_TRUE(boxes.shown().isEmpty());

    QStringList kept;
    for (const char *name : distinct) {
        kept << QString::fromLatin1(name);
        EXPECT_EQ(readFile(out + QLatin1String(name)), photo(name)) << name;
    }
    kept.sort();
    EXPECT_EQ(QDir(out).entryList(QDir::Files, QDir::Name), kept);
    EXPECT_EQ(QDir(out + "Similar").entryList(QDir::Files, QDir::Name),
              (QStringList{"coffee-1.jpg", "coffee-2.jpg", "coffee.jpg", "coffee.png"}));
    EXPECT_EQ(readFile(out + "Similar/coffee-2.jpg"), photo("coffee-r30.jpg"));
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", group), distinct.size());
    EXPECT_EQ(ReadStatistic("DUPLICATE_COUNT", group), reposts.size());
    EXPECT_EQ(log.count("Looks like 'coffee.jpg' (distance "), reposts.size()) << log.constData();
    EXPECT_EQ(readFile(dir.path(QStringLiteral("Similar.dat"))).count('\n'), distinct.size());
}

} // namespace
