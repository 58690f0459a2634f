// A search against a real INN2 reader daemon that is stopped and started again
// in the middle of the run. The test runs a reader daemon of its own on a
// spare port, so other users of the shared one are not disturbed.
#include "TFrmMain.h"
#include "TestBodies.h"

#include "InnServer.h"
#include "MessageRecorder.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

const QString kNnrpd = QStringLiteral("/usr/lib/news/bin/nnrpd");

bool greets(quint16 port)
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    return s.waitForConnected(2000) && s.waitForReadyRead(2000) && s.readLine().startsWith("20");
}

// The reader daemon this test starts, as start_inn.sh starts the shared one.
class ReaderDaemon {
public:
    bool Start()
    {
        if (port_ == 0) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                return false;
            port_ = probe.serverPort();
        }
        const QString command = kNnrpd + QStringLiteral(" -D -b 127.0.0.1 -p ") + QString::number(port_);
        QProcess::execute(QStringLiteral("su"), {QStringLiteral("news"), QStringLiteral("-s"),
                                                 QStringLiteral("/bin/sh"), QStringLiteral("-c"), command});
        return true;
    }
    bool WaitUntilGreeting()
    {
        return QTest::qWaitFor([this] { return greets(port_); }, 15000);
    }
    // Ends the listening daemon and every reader process it forked.
    void Stop()
    {
        QFile pidFile(QStringLiteral("/run/news/nnrpd-%1.pid").arg(port_));
        if (!pidFile.open(QIODevice::ReadOnly))
            return;
        const pid_t listener = pid_t(pidFile.readAll().trimmed().toInt());
        if (listener <= 1)
            return;
        QProcess::execute(QStringLiteral("pkill"), {QStringLiteral("-TERM"), QStringLiteral("-P"),
                                                    QString::number(listener)});
        ::kill(listener, SIGTERM);
        // The port must be free before the daemon can start again.
        for (int i = 0; i < 200 && ::kill(listener, 0) == 0; ++i)
            ::usleep(10000);
    }
    quint16 Port() const { return port_; }

private:
    quint16 port_ = 0;
};

TEST(InnSearchResilience, ReaderRestartedMidRunIsRejoinedAndTheRunFinishes)
{
    if (InnServer::Port() == 0)
        GTEST_SKIP() << InnServer::SkipReason().toStdString();
    if (geteuid() != 0 || !QFile::exists(kNnrpd))
        GTEST_SKIP() << "needs root and " << kNnrpd.toStdString() << " to restart a reader daemon";

    const QByteArray group = InnServer::UniqueGroupName("pixtrawl.resilience");
    QList<InnServer::Article> articles;
    QList<QByteArray> pictures;
    for (int i = 0; i < 6; ++i) {
        pictures << Noise(60000 + i * 1000, quint32(i + 1));
        InnServer::Article a;
        a.subject = "picture " + QByteArray::number(i);
        a.body = UuencodeFile("pic" + QByteArray::number(i) + ".bin", pictures.last());
        articles << a;
    }
    QString error;
    ASSERT_TRUE(InnServer::CreateGroupWithArticles(group, articles, &error)) << error.toStdString();

    ReaderDaemon reader;
    ASSERT_TRUE(reader.Start());
    ASSERT_TRUE(reader.WaitUntilGreeting());
    struct StopAtEnd {
        ReaderDaemon &r;
        ~StopAtEnd()
        {
            r.Stop();
            QFile::remove(QStringLiteral("/run/news/nnrpd-%1.pid").arg(r.Port()));
        }
    } stopAtEnd{reader};

    QApplication::setQuitOnLastWindowClosed(false);
    TempProgramDir dir;
    MessageRecorder boxes;
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", reader.Port());
    // The walk's own connection is cut, with its first body on it.
    IniWriteInteger("CONFIG", "CONNECTIONS", 1);
    QDir().mkpath(dir.path("out"));
    IniWriteString("CONFIG", "OUTPUT_DIR", dir.path("out/").toLocal8Bit());
    IniWriteString("GROUPS", "LIST", group + ',');

    TFrmMain w;
    w.ReconnectDelaysMs = {300, 1000, 2000, 4000, 4000};
    QStringList captions;
    const TStateChangeEvent windowStateHandler = w.NewsClient->OnStateChange;
    w.NewsClient->OnStateChange = [&, windowStateHandler](TZqNNTP *c, qint32 st) {
        windowStateHandler(c, st);
        if (w.Searching())
            captions << w.laArticleName->text();
    };
    ASSERT_TRUE(w.miConnectClick());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 15000));

    // The daemon goes away while the first body arrives (the next ones asked
    // for ahead) and comes back a moment later, after the first
    // reconnection attempt.
    bool stopped = false;
    const TDocOutputEvent windowOutputHandler = w.NewsClient->OnDocOutput;
    w.NewsClient->OnDocOutput = [&, windowOutputHandler](TZqNNTP *c, const QByteArray &chunk) {
        windowOutputHandler(c, chunk);
        if (stopped || w.ProgressPhase != 2 || c->ArticleNumber != c->FirstArticle)
            return;
        stopped = true;
        reader.Stop();
        QTimer::singleShot(800, [&] { reader.Start(); });
    };
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { w.miDisconnectClick(); });
    watchdog.start(90000);
    w.miSearchAllGroupsClick();

    EXPECT_TRUE(stopped);
    std::printf("reconnection outcomes seen: %s\n", qPrintable(captions.join(QStringLiteral("; "))));
    EXPECT_FALSE(captions.isEmpty());
    for (const QString &caption : captions)
        EXPECT_TRUE(caption.startsWith("Connection lost, reconnecting (attempt ")) << caption.toStdString();
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(w.State(), TFrmMain::StateOnline);
    for (int i = 0; i < pictures.size(); ++i)
        EXPECT_EQ(dir.read(QStringLiteral("out/pic%1.bin").arg(i)), pictures[i]) << i;
    EXPECT_EQ(QDir(dir.path("out")).entryList(QDir::Files).size(), pictures.size());
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", group), pictures.size());
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", group), 0);
    EXPECT_EQ(IniReadString("GROUPS", group, ""),
              QByteArray::number(w.NewsClient->LastArticle) + ',' + articles.last().messageId + '+');
}

} // namespace
