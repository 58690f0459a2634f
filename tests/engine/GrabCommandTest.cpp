// "pixtrawl --grab": the built program, with no display at all, grabbing
// from the fake server into a portable copy's folder.
#include "EngineFixture.h"

#include "TArticleDisposition.h"
#include "WaitUntil.h"
#include "ZqSettingsLock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

class GrabCommand : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_TRUE(work.isValid());
        program = work.filePath(QStringLiteral("pixtrawl"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(PIXTRAWL_BINARY), program));
        out = work.filePath(QStringLiteral("out/"));
        ASSERT_TRUE(QDir().mkpath(out));
        settings("");
    }
    void settings(const QByteArray &extra)
    {
        QFile ini(work.filePath(QStringLiteral("pixtrawl.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[CONFIG]\nHOST=127.0.0.1\nPORT=" + QByteArray::number(server.Port()) + "\nOUTPUT_DIR="
                  + QFile::encodeName(out) + "\nLOG=Y\n" + extra + "[GROUPS]\nLIST=alt.a,\n");
    }
    // Runs the program to its end, serving the fake server meanwhile.
    int run(const QStringList &args, const std::function<void(QProcess &)> &whileRunning = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(work.path());
        p.start(program, args);
        if (!p.waitForStarted(10000))
            return -1;
        if (whileRunning)
            whileRunning(p);
        WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 60000);
        stdOut = p.readAllStandardOutput();
        stdErr = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }
    QByteArray ini() const
    {
        QFile f(work.filePath(QStringLiteral("pixtrawl.ini")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir work;
    QString program, out;
    QByteArray stdOut, stdErr;
};

TEST_F(GrabCommand, GrabsEveryGroupOnceWithoutADisplay)
{
    ASSERT_EQ(run({QStringLiteral("--grab")}), 0) << stdErr.constData();
    QFile pic(out + QStringLiteral("pic.jpg"));
    ASSERT_TRUE(pic.open(QIODevice::ReadOnly));
    EXPECT_EQ(pic.readAll(), picture());
    EXPECT_TRUE(ini().contains("alt.a=2,<art2@fake.invalid>+")) << ini().constData();
    EXPECT_TRUE(ini().contains("SAVED_COUNT=1"));
    // On a pipe: a line per group, then the window's summary line.
    EXPECT_EQ(stdOut, "Group 1 of 1: alt.a\nSaved 1 picture, 0 duplicates, 0 filtered in 1 group\n");
    QFile keys(work.filePath(QStringLiteral("CRC-32.dat")));
    ASSERT_TRUE(keys.open(QIODevice::ReadOnly));
    EXPECT_EQ(keys.readAll(), TArticleDisposition::ChecksumKey(picture()) + "\r\n");
    QFile log(work.filePath(QStringLiteral("pixtrawl.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Article was saved as 'pic.jpg'"));
}

TEST_F(GrabCommand, ARefusedLoginEndsTheRunWithItsReason)
{
    server.user = "joe";
    server.password = "right";
    settings("USER=joe\nPASSWORD=wrong\n");
    EXPECT_EQ(run({QStringLiteral("--grab")}), 1);
    EXPECT_TRUE(stdErr.contains("Login failed: 127.0.0.1:" + QByteArray::number(server.Port())
                                + ": 481 authentication failed"))
        << stdErr.constData();
    EXPECT_TRUE(stdErr.contains("the run ended early"));
    EXPECT_EQ(server.connections, 1);
}

TEST_F(GrabCommand, ASignalStopsItWithThePointerExact)
{
    server.stallOn = "BODY 1";
    EXPECT_EQ(run({QStringLiteral("--grab")},
                  [&](QProcess &p) {
                      WaitUntil([&] { return countCommands("BODY 1") > 0; }, 20000);
                      p.terminate();
                  }),
              1);
    EXPECT_TRUE(ini().contains("alt.a=1,<art1@fake.invalid>\r\n")) << ini().constData();
    EXPECT_TRUE(stdErr.contains("stopped by a signal")) << stdErr.constData();
    EXPECT_TRUE(QFile::exists(work.filePath(QStringLiteral("CRC-32.dat"))));
}

TEST_F(GrabCommand, ASecondCopyOnTheSameSettingsSaysSoAndEnds)
{
    ZqSettingsLock held;
    ASSERT_TRUE(held.Acquire(work.filePath(QStringLiteral("pixtrawl.ini"))));
    EXPECT_EQ(run({QStringLiteral("--grab")}), 1);
    EXPECT_EQ(stdErr, "Pixtrawl is already running with these settings.\n");
    EXPECT_EQ(server.connections, 0);
}

TEST_F(GrabCommand, ArgumentsAreParsedAsQtProgramsDo)
{
    EXPECT_EQ(run({QStringLiteral("--help")}), 0);
    EXPECT_TRUE(stdOut.startsWith("Usage: pixtrawl [options]")) << stdOut.constData();
    EXPECT_TRUE(stdOut.contains("--grab"));
    EXPECT_EQ(run({QStringLiteral("--grap")}), 2);
    EXPECT_TRUE(stdErr.contains("Unknown option 'grap'")) << stdErr.constData();
    EXPECT_EQ(run({QStringLiteral("--grab"), QStringLiteral("now")}), 2);
    EXPECT_TRUE(stdErr.contains("unexpected argument 'now'"));
    EXPECT_EQ(server.connections, 0);
}

} // namespace
