// The built program grabbing unattended is killed with SIGKILL at random
// moments and started again: in the end every picture is saved exactly once,
// byte for byte, and every key is in "CRC-32.dat".
#include "FakeNntpServer.h"
#include "TArticleDisposition.h"
#include "TestBodies.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

constexpr int Pictures = 240;
constexpr int Kills = 20;

struct Corpus {
    FakeNntpServer::Group group;
    QMap<QByteArray, QByteArray> pictures; // name -> bytes
};

// Mostly single-part uuencoded and yEnc pictures; every eighth in three
// uuencoded parts and every eighth in three yEnc parts.
Corpus makeCorpus()
{
    Corpus c;
    c.group.name = "alt.binaries.pictures.kill";
    qint32 number = 0;
    auto post = [&](const QByteArray &subject, const QList<QByteArray> &body) {
        c.group.articles << FakeNntpServer::MakeArticle(++number, subject, body);
    };
    for (int i = 0; i < Pictures; ++i) {
        const QByteArray data = Noise(3000 + (i * 977) % 9000, quint32(i + 1));
        const QByteArray name = "pic" + QByteArray::number(i) + (i % 8 == 3 ? ".bin" : ".jpg");
        c.pictures.insert(name, data);
        if (i % 8 == 3) {
            const QList<QByteArray> lines = UuencodeFile(name, data);
            const qsizetype third = lines.size() / 3;
            post(name + " (1/3)", lines.mid(0, third));
            post(name + " (2/3)", lines.mid(third, third));
            post(name + " (3/3)", lines.mid(2 * third));
        } else if (i % 8 == 6) {
            const qsizetype third = data.size() / 3;
            for (int part = 1; part <= 3; ++part) {
                const qsizetype begin = (part - 1) * third + 1; // yEnc counts from 1
                const qsizetype size = part == 3 ? data.size() - begin + 1 : third;
                post(name + " yEnc (" + QByteArray::number(part) + "/3)", YEncPart(name, data, part, 3, begin, size));
            }
        } else if (i % 2) {
            post(name + " yEnc (1/1)", YEncFile(name, data));
        } else {
            post(name, UuencodeFile(name, data));
        }
    }
    return c;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(KillRestart, EveryPictureSavedOnceWithItsKey)
{
    const Corpus corpus = makeCorpus();
    FakeNntpServer server;
    ASSERT_TRUE(server.Listen());
    server.pieceDelayMs = 0;
    server.groups = {corpus.group};

    // A portable copy: the settings, checksums and parts live beside it.
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    if (qEnvironmentVariableIsSet("PIXTRAWL_KEEP_KILL_TEST")) {
        work.setAutoRemove(false);
        std::printf("kept: %s\n", qPrintable(work.path()));
    }
    const QString program = work.filePath(QStringLiteral("pixtrawl"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(PIXTRAWL_PROGRAM), program));
    const QString out = work.filePath(QStringLiteral("out/"));
    ASSERT_TRUE(QDir().mkpath(out));
    const QByteArray last = QByteArray::number(corpus.group.articles.last().number);
    {
        QFile ini(work.filePath(QStringLiteral("pixtrawl.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        // Screening off and numbering on: a picture saved twice shows as a "-1" copy.
        // Several connections, so bodies that came ahead are lost with the kill.
        ini.write("[CONFIG]\nHOST=127.0.0.1\nPORT=" + QByteArray::number(server.Port()) + "\nOUTPUT_DIR="
                  + QFile::encodeName(out)
                  + "\nAUTO_START=Y\nEXIT_PROMPT=Y\nPREVIEW=N\nFILE_SCREENING=N\nRENAME_DUPLICATES=Y\nLOG=Y\n"
                    "CONNECTIONS=4\n"
                    "[GROUPS]\nLIST="
                  + corpus.group.name + ",\n");
    }
    const QByteArray donePointer = corpus.group.name + '=' + last + ',';
    auto finished = [&] {
        for (QByteArray line : readAll(work.filePath(QStringLiteral("pixtrawl.ini"))).split('\n')) {
            line = line.trimmed();
            if (line.startsWith(donePointer))
                return line.endsWith('+');
        }
        return false;
    };

    QProcess app;
    app.setWorkingDirectory(work.path());
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    auto start = [&] {
        app.start(program, {});
        return app.waitForStarted(10000);
    };

    // Each kill comes at a random moment soon after the new run has saved a
    // few more pictures: tied to progress, not to a clock, so a quicker grab
    // is still killed mid-way often enough.
    QRandomGenerator random(20261208);
    auto filesSaved = [&] { return int(QDir(out).entryList(QDir::Files).size()); };
    int kills = 0;
    QElapsedTimer budget;
    budget.start();
    // The budget only cuts the kills past the ten the test needs, so a slow
    // machine makes the test longer, never failed.
    while (kills < Kills && !finished() && (kills < 10 || budget.elapsed() < 150000)) {
        const int before = server.connections;
        const int target = filesSaved() + int(random.bounded(1, 6));
        ASSERT_TRUE(start());
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.connections > before; }, 20000));
        // Polled finely: QTest's own wait looks every 10 ms, long enough
        // for a dozen pictures. The fake server runs in this thread.
        for (QElapsedTimer w; !w.isValid() || w.elapsed() < 20000; QThread::usleep(300)) {
            if (!w.isValid())
                w.start();
            QCoreApplication::processEvents();
            if (filesSaved() >= target || finished())
                break;
        }
        QTest::qWait(int(random.bounded(0, 6)));
        app.kill();
        ASSERT_TRUE(app.waitForFinished(10000));
        ++kills;
    }
    EXPECT_GE(kills, 10) << "the grab finished before it was killed often enough";

    // The last run grabs to the end and is closed as a session's end does:
    // SIGTERM, which must not wait at the exit prompt.
    ASSERT_TRUE(start());
    EXPECT_TRUE(QTest::qWaitFor(finished, 120000));
    QTest::qWait(200);
    app.terminate();
    ASSERT_TRUE(app.waitForFinished(20000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);

    // Names, not bytes, in the messages: a list of 240 buffers is unreadable.
    QStringList missing, extra, differing;
    const QStringList saved = QDir(out).entryList(QDir::Files, QDir::Name);
    for (auto it = corpus.pictures.cbegin(); it != corpus.pictures.cend(); ++it) {
        const QString name = QString::fromLatin1(it.key());
        if (!saved.contains(name))
            missing << name;
        else if (readAll(out + name) != it.value())
            differing << name;
    }
    for (const QString &name : saved)
        if (!corpus.pictures.contains(name.toLatin1()))
            extra << name;
    EXPECT_TRUE(missing.isEmpty()) << missing.join(' ').toStdString();
    EXPECT_TRUE(extra.isEmpty()) << extra.join(' ').toStdString();
    EXPECT_TRUE(differing.isEmpty()) << differing.join(' ').toStdString();

    QSet<QByteArray> keys;
    for (const QByteArray &line : readAll(work.filePath(QStringLiteral("CRC-32.dat"))).split('\n'))
        if (!line.trimmed().isEmpty())
            keys.insert(line.trimmed().toUpper());
    QStringList unknown;
    for (auto it = corpus.pictures.cbegin(); it != corpus.pictures.cend(); ++it)
        if (!keys.contains(TArticleDisposition::ChecksumKey(it.value())))
            unknown << QString::fromLatin1(it.key());
    EXPECT_TRUE(unknown.isEmpty()) << unknown.join(' ').toStdString();
    EXPECT_EQ(keys.size(), corpus.pictures.size());

    // Every save counted once, whenever the kills came.
    qint64 savedCount = -1;
    for (const QByteArray &line : readAll(work.filePath(QStringLiteral("pixtrawl.ini"))).split('\n'))
        if (line.startsWith("SAVED_COUNT="))
            savedCount = line.mid(12).trimmed().toLongLong();
    EXPECT_EQ(savedCount, corpus.pictures.size());
    // The temporaries of killed writers are gone, none of the last run's is left.
    EXPECT_EQ(QDir(out).entryList({QStringLiteral(".pixtrawl-*")}, QDir::Files | QDir::Hidden), QStringList());
}

} // namespace
