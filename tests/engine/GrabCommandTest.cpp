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
#include <QTimer>

#include <pty.h>
#include <sys/wait.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

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
    void settings(const QByteArray &extra, const QByteArray &groups = "alt.a,")
    {
        QFile ini(work.filePath(QStringLiteral("pixtrawl.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[CONFIG]\nHOST=127.0.0.1\nPORT=" + QByteArray::number(server.Port()) + "\nOUTPUT_DIR="
                  + QFile::encodeName(out) + "\nLOG=Y\n" + extra + "[GROUPS]\nLIST=" + groups + "\n");
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
    // The same on a terminal of its own (a pty): screen is what the terminal
    // received from both streams.
    int runOnTerminal(const QStringList &args)
    {
        QList<QByteArray> argBytes{QFile::encodeName(program)}, envBytes;
        for (const QString &a : args)
            argBytes << a.toLocal8Bit();
        for (const QString &e : QProcess::systemEnvironment())
            if (!e.startsWith(QLatin1String("DISPLAY=")) && !e.startsWith(QLatin1String("WAYLAND_DISPLAY="))
                && !e.startsWith(QLatin1String("QT_QPA_PLATFORM=")))
                envBytes << e.toLocal8Bit();
        std::vector<char *> argv, envp;
        for (QByteArray &a : argBytes)
            argv.push_back(a.data());
        for (QByteArray &e : envBytes)
            envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const QByteArray where = QFile::encodeName(work.path());
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        if (pid < 0)
            return -1;
        if (pid == 0) {
            if (::chdir(where.constData()) == 0)
                ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        screen.clear();
        auto drain = [&] {
            char buf[4096];
            for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
                screen.append(buf, n);
        };
        QTimer wake; // the pty's output raises no event of its own
        wake.start(20);
        int status = 0;
        bool ended = false;
        WaitUntil(
            [&] {
                drain();
                return ended = ended || ::waitpid(pid, &status, WNOHANG) == pid;
            },
            60000);
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        drain();
        ::close(master);
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }
    QByteArray ini() const
    {
        QFile f(work.filePath(QStringLiteral("pixtrawl.ini")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir work;
    QString program, out;
    QByteArray stdOut, stdErr, screen;
};

// What on a terminal would act rather than be shown: control bytes other
// than the line ends and the progress line's own "CR ESC [K", C1 controls,
// bidi and format characters, bytes that are not UTF-8.
QString acting(QByteArray bytes)
{
    bytes.replace("\r\x1b[K", "");
    bytes.replace("\r\n", "\n");
    const QString text = QString::fromUtf8(bytes);
    QString found = text.toUtf8() == bytes ? QString() : QStringLiteral("not UTF-8");
    for (const char32_t c : text.toUcs4())
        if ((c < 0x20 && c != '\n') || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F
            || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF)
            found += QStringLiteral(" U+%1").arg(uint(c), 4, 16, QLatin1Char('0'));
    return found;
}

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

// Greetings, refusals and group names come from whoever is on the line:
// on a terminal they are shown, never obeyed, and each reason is told once.
TEST_F(GrabCommand, ServerTextCannotActOnTheTerminal)
{
    const QByteArray hostile = "\x1b]0;owned\x07\x1b[2J\x1b[31mgone\x08\x08\r\xc2\x9b\xe2\x80\xae";
    server.greeting = "200 " + hostile + " ready";
    settings("", "alt.a,alt.\x1b[2J\x07x,alt.\xe2\x80\xae" "evil,");
    server.Script("GROUP alt.\xe2\x80\xae" "evil", {"411 " + hostile + "\r\n"});
    // Walked to the end, but two groups were skipped: its own status.
    EXPECT_EQ(runOnTerminal({QStringLiteral("--grab")}), 3) << screen.constData();
    EXPECT_EQ(acting(screen), QString()) << screen.toHex(' ').constData();
    // Shown, not dropped: the escapes as control pictures, the rest as U+FFFD.
    EXPECT_TRUE(screen.contains("alt.\xe2\x90\x9b[2J\xe2\x90\x87x")) << screen.constData();
    EXPECT_TRUE(screen.contains("\xe2\x90\x9b[31mgone\xe2\x90\x88\xe2\x90\x88\xe2\x90\x8d\xef\xbf\xbd\xef\xbf\xbd"))
        << screen.constData();
    EXPECT_TRUE(screen.contains("2 groups skipped")) << screen.constData();
    QFile log(work.filePath(QStringLiteral("pixtrawl.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    EXPECT_EQ(acting(QByteArray(logged).replace("\r\n", "\n")), QString()) << logged.constData();

    // A refusing greeting: the run ends early, its words told once.
    server.greeting = "502 " + hostile + " go away";
    EXPECT_EQ(runOnTerminal({QStringLiteral("--grab")}), 1);
    EXPECT_EQ(acting(screen), QString()) << screen.toHex(' ').constData();
    EXPECT_EQ(screen.count("go away"), 1) << screen.constData();
    EXPECT_TRUE(screen.contains("the run ended early.")) << screen.constData();
}

TEST_F(GrabCommand, EachReasonIsToldOnceAndTheStatusSaysHowTheRunEnded)
{
    // The output folder is a file: the picture cannot be saved.
    QFile::remove(work.filePath(QStringLiteral("out")));
    QDir(out).removeRecursively();
    QFile blocker(work.filePath(QStringLiteral("out")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(run({QStringLiteral("--grab")}), 1);
    EXPECT_EQ(stdErr.count("Pictures cannot be saved"), 1) << stdErr.constData();
    EXPECT_EQ(stdErr.count("the run ended early"), 1) << stdErr.constData();

    // Nothing to do: no groups chosen.
    const int connections = server.connections;
    settings("", "");
    EXPECT_EQ(run({QStringLiteral("--grab")}), 4);
    EXPECT_TRUE(stdErr.contains("no groups are chosen")) << stdErr.constData();
    EXPECT_EQ(server.connections, connections);
}

} // namespace
