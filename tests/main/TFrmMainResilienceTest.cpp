// A search whose connection the server ends or leaves silent: it reconnects by
// itself and finishes as if nothing had happened; the user's commands still
// act at once while it waits to reconnect.
#include "TFrmMain.h"
#include "TestBodies.h"

#include "FakeNntpServer.h"
#include "MessageRecorder.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using Lines = QList<QByteArray>;

QByteArray readData(const char *name)
{
    QFile f(QStringLiteral(PIXTRAWL_TEST_DATA "/jpeg/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The pictures of the corpus, by the name they are posted under.
QMap<QString, QByteArray> pictures()
{
    return {{"a1.jpg", readData("baseline.jpg")},
            {"a2.jpg", readData("grayscale.jpg")},
            {"a4.jpg", readData("progressive.jpg")},
            {"b10.bin", Noise(5000, 7)}};
}

QList<FakeNntpServer::Group> corpus()
{
    const QMap<QString, QByteArray> p = pictures();
    FakeNntpServer::Group a;
    a.name = "alt.a";
    a.articles << FakeNntpServer::MakeArticle(1, "first picture", UuencodeFile("a1.jpg", p["a1.jpg"]))
               << FakeNntpServer::MakeArticle(2, "second picture", UuencodeFile("a2.jpg", p["a2.jpg"]))
               << FakeNntpServer::MakeArticle(3, "just words", {"hello", "world"})
               << FakeNntpServer::MakeArticle(4, "third picture", UuencodeFile("a4.jpg", p["a4.jpg"]));
    FakeNntpServer::Group b;
    b.name = "alt.b";
    b.articles << FakeNntpServer::MakeArticle(10, "binary", UuencodeFile("b10.bin", p["b10.bin"]))
               << FakeNntpServer::MakeArticle(11, "more words", {"bye"});
    return {a, b};
}

// The status line and the first half of an article's body, as the table
// server would send them.
QByteArray halfBody(const FakeNntpServer::Article &a)
{
    QByteArray wire = FakeNntpServer::Stuffed(a.body.mid(0, a.body.size() / 2));
    wire.chop(3); // no closing line
    return "222 " + QByteArray::number(a.number) + ' ' + a.messageId + " body\r\n" + wire;
}

QByteArray wholeBody(const FakeNntpServer::Article &a)
{
    return "222 " + QByteArray::number(a.number) + ' ' + a.messageId + " body\r\n" + FakeNntpServer::Stuffed(a.body);
}

// One fault, acted out once when its command arrives; without act the
// command is served as usual (to let an earlier occurrence pass).
struct Fault {
    QByteArray command;
    std::function<void(FakeNntpServer &, const FakeNntpServer::Article *)> act;
};

struct Outcome {
    int state = -1;
    bool searching = true;
    QMap<QString, QByteArray> saved;           // output folder
    QMap<QByteArray, QByteArray> pointers;     // GROUPS/<name>
    QMap<QByteArray, QByteArray> counters;     // STATISTICS without TIME
    QStringList boxes;
    int connections = 0;
    bool faultFired = false;
    QStringList reconnectCaptions; // laArticleName whenever a reconnection reported its outcome
    int quietFailures = 0;
    QString finalCaption;
};

QMap<QByteArray, QByteArray> statisticsWithoutTime(const QString &ini)
{
    QFile f(ini);
    QMap<QByteArray, QByteArray> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    bool inside = false;
    for (QByteArray line : f.readAll().split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inside = line == "[STATISTICS]";
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (inside && eq > 0 && !line.left(eq).endsWith("TIME"))
            out.insert(line.left(eq), line.mid(eq + 1));
    }
    return out;
}

// A whole run over the corpus, from connecting to the end of the search.
// arrange may add faults and adjust the window before the search starts.
Outcome runOnce(const QList<Fault> &faults,
                const std::function<void(FakeNntpServer &, TFrmMain &, Outcome &)> &arrange = {})
{
    QApplication::setQuitOnLastWindowClosed(false);
    TempProgramDir dir;
    MessageRecorder boxes;
    FakeNntpServer server;
    Outcome out;
    if (!server.Listen())
        return out;
    server.pieceDelayMs = 20;
    server.groups = corpus();
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", server.Port());
    IniWriteInteger("CONFIG", "CONNECTIONS", 1);
    QDir().mkpath(dir.path("out"));
    IniWriteString("CONFIG", "OUTPUT_DIR", dir.path("out/").toLocal8Bit());
    IniWriteString("GROUPS", "LIST", "alt.a,alt.b,");

    auto fired = std::make_shared<QList<bool>>(faults.size(), false);
    QByteArray group;
    server.responder = [&, fired](FakeNntpServer &s, const QByteArray &command) {
        if (command.startsWith("GROUP "))
            group = command.mid(6);
        for (int i = 0; i < faults.size(); ++i) {
            if ((*fired)[i] || command != faults[i].command)
                continue;
            (*fired)[i] = true;
            if (!faults[i].act)
                return false;
            const FakeNntpServer::Article *article = nullptr;
            const qint32 number = command.mid(command.indexOf(' ') + 1).toInt();
            for (const auto &g : std::as_const(s.groups))
                for (const auto &a : g.articles)
                    if (g.name == group && a.number == number)
                        article = &a;
            faults[i].act(s, article);
            // Requests sent ahead of the failed reply must not be answered
            // behind its broken half.
            s.Stall();
            return true;
        }
        return false;
    };

    TFrmMain w;
    w.ReconnectDelaysMs = {20, 20, 20, 20, 20};
    w.NewsClient->ReplyTimeoutMs = 1500;
    // Sees each reconnection's outcome after the window did.
    const TStateChangeEvent windowHandler = w.NewsClient->OnStateChange;
    w.NewsClient->OnStateChange = [&, windowHandler](TZqNNTP *c, qint32 st) {
        windowHandler(c, st);
        if (w.Searching()) {
            out.reconnectCaptions << w.laArticleName->text();
            out.quietFailures += st == 4;
        }
    };
    if (arrange)
        arrange(server, w, out);

    if (!w.miConnectClick() || !QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 10000))
        return out;
    // Ends a run that a fault would leave waiting for ever.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { w.miDisconnectClick(); });
    watchdog.start(60000);
    w.miSearchAllGroupsClick();

    out.state = w.State();
    out.searching = w.Searching();
    out.finalCaption = w.laArticleName->text();
    for (const QString &name : QDir(dir.path("out")).entryList(QDir::Files))
        out.saved.insert(name, dir.read("out/" + name));
    for (const QByteArray &g : {QByteArray("alt.a"), QByteArray("alt.b")})
        out.pointers.insert(g, IniReadString("GROUPS", g, "absent"));
    out.counters = statisticsWithoutTime(dir.iniPath());
    out.boxes = boxes.texts();
    out.connections = server.connections;
    out.faultFired = !fired->contains(false);
    return out;
}

const Outcome &reference()
{
    static const Outcome clean = runOnce({});
    return clean;
}

struct FaultCase {
    const char *name;
    QList<Fault> faults;
    int connections; // the server's count of accepted connections
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

void closeAfter(FakeNntpServer &s, const QByteArray &bytes) { s.Send(Lines{bytes, QByteArray()}); }

const QList<FaultCase> faultCases = {
    {"ClosedInTheMiddleOfABody",
     {{"BODY 2", [](FakeNntpServer &s, const FakeNntpServer::Article *a) { closeAfter(s, halfBody(*a)); }}},
     2},
    {"ClosedInTheMiddleOfTheOverview",
     {{"OVER 10-11", [](FakeNntpServer &s, const FakeNntpServer::Article *) {
           closeAfter(s, "224 overview follows\r\n10\tbinary\tx\td\t<art10@fake.invalid>\t\t99\t");
       }}},
     2},
    {"ClosedBetweenTwoArticles",
     {{"BODY 1", [](FakeNntpServer &s, const FakeNntpServer::Article *a) { closeAfter(s, wholeBody(*a)); }}},
     2},
    {"ClosedOnGroupSelection",
     {{"GROUP alt.b", [](FakeNntpServer &s, const FakeNntpServer::Article *) { s.CloseClient(); }}},
     2},
    {"ResetInTheMiddleOfABody",
     {{"BODY 10", [](FakeNntpServer &s, const FakeNntpServer::Article *a) {
           s.Send(halfBody(*a));
           QTimer::singleShot(50, &s, [&s] { s.ResetClient(); });
       }}},
     2},
    {"SilentBeforeTheOverview", {{"OVER 1-4", [](FakeNntpServer &, const FakeNntpServer::Article *) {}}}, 2},
    {"SilentInTheMiddleOfABody",
     {{"BODY 4", [](FakeNntpServer &s, const FakeNntpServer::Article *a) { s.Send(halfBody(*a)); }}},
     2},
    {"ClosedAgainRightAfterReconnecting",
     {{"BODY 2", [](FakeNntpServer &s, const FakeNntpServer::Article *a) { closeAfter(s, halfBody(*a)); }},
      {"GROUP alt.a", {}}, // the run's own selection passes
      {"GROUP alt.a", [](FakeNntpServer &s, const FakeNntpServer::Article *) { s.CloseClient(); }},
      {"BODY 2", [](FakeNntpServer &s, const FakeNntpServer::Article *a) { closeAfter(s, halfBody(*a)); }}},
     4},
};

class LostConnectionRun : public ::testing::TestWithParam<FaultCase> {};

TEST_P(LostConnectionRun, FinishesAsIfNothingHadHappened)
{
    const Outcome &clean = reference();
    ASSERT_EQ(clean.state, TFrmMain::StateOnline);
    ASSERT_EQ(clean.saved.size(), 4);
    ASSERT_EQ(clean.connections, 1);

    const FaultCase &c = GetParam();
    const Outcome run = runOnce(c.faults);
    EXPECT_TRUE(run.faultFired);
    EXPECT_EQ(run.connections, c.connections);
    EXPECT_EQ(run.state, TFrmMain::StateOnline);
    EXPECT_FALSE(run.searching);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join(QLatin1Char('|')).toStdString();
    // Every picture once, byte for byte, under its own name.
    EXPECT_EQ(run.saved, clean.saved);
    EXPECT_EQ(run.saved.keys(), pictures().keys());
    for (const QString &name : pictures().keys())
        EXPECT_EQ(run.saved.value(name), pictures().value(name)) << name.toStdString();
    EXPECT_EQ(run.pointers, clean.pointers);
    EXPECT_EQ(run.pointers.value("alt.b"), "11,<art11@fake.invalid>+");
    EXPECT_EQ(run.counters, clean.counters); // no article counted twice, no bytes lost
    for (const QString &caption : run.reconnectCaptions)
        EXPECT_TRUE(caption.startsWith("Connection lost, reconnecting (attempt ")) << caption.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Faults, LostConnectionRun, ::testing::ValuesIn(faultCases),
                         [](const ::testing::TestParamInfo<FaultCase> &i) { return std::string(i.param.name); });

TEST(LostConnection, ServerRefusingTwoReconnectionsIsWaitedFor)
{
    const Outcome &clean = reference();
    quint16 port = 0;
    int refused = 0;
    const Outcome run = runOnce(
        {{"BODY 2",
          [&](FakeNntpServer &s, const FakeNntpServer::Article *) {
              port = s.Port();
              s.StopListening();
              s.CloseClient();
          }}},
        [&](FakeNntpServer &s, TFrmMain &w, Outcome &) {
            // Listens again once two attempts have been refused.
            const TStateChangeEvent inner = w.NewsClient->OnStateChange;
            w.NewsClient->OnStateChange = [&, inner](TZqNNTP *c, qint32 st) {
                inner(c, st);
                if (st == 4 && ++refused == 2)
                    s.Listen(port);
            };
        });
    EXPECT_TRUE(run.faultFired);
    EXPECT_EQ(refused, 2);
    EXPECT_EQ(run.quietFailures, 2);
    EXPECT_EQ(run.reconnectCaptions,
              (QStringList{"Connection lost, reconnecting (attempt 1 of 5)",
                           "Connection lost, reconnecting (attempt 2 of 5)",
                           "Connection lost, reconnecting (attempt 3 of 5)"}));
    EXPECT_TRUE(run.boxes.isEmpty());
    EXPECT_EQ(run.connections, 2);
    EXPECT_EQ(run.state, TFrmMain::StateOnline);
    EXPECT_EQ(run.saved, clean.saved);
    EXPECT_EQ(run.pointers, clean.pointers);
    EXPECT_EQ(run.counters, clean.counters);
}

// An unattended run outlasts a server that is away for long: after the quick
// attempts it keeps trying at the slow pace, saying when the next try comes.
TEST(LostConnection, AfterTheQuickAttemptsItKeepsTryingUntilTheServerIsBack)
{
    const Outcome &clean = reference();
    quint16 port = 0;
    int refused = 0;
    const Outcome run = runOnce({{"BODY 2",
                                  [&](FakeNntpServer &s, const FakeNntpServer::Article *a) {
                                      port = s.Port();
                                      s.StopListening();
                                      closeAfter(s, halfBody(*a));
                                  }}},
                                [&](FakeNntpServer &s, TFrmMain &w, Outcome &) {
                                    w.SlowReconnectDelayMs = 30;
                                    const TStateChangeEvent inner = w.NewsClient->OnStateChange;
                                    w.NewsClient->OnStateChange = [&, inner](TZqNNTP *c, qint32 st) {
                                        inner(c, st);
                                        if (st == 4 && ++refused == 8)
                                            s.Listen(port);
                                    };
                                });
    EXPECT_EQ(run.quietFailures, 8);
    ASSERT_EQ(run.reconnectCaptions.size(), 9);
    EXPECT_EQ(run.reconnectCaptions.value(4), "Connection lost, reconnecting (attempt 5 of 5)");
    for (int i = 5; i < 9; ++i) { // with the reason the last attempt failed for
        const QString &caption = run.reconnectCaptions[i];
        EXPECT_TRUE(caption.startsWith("Connection lost; next try at ")) << caption.toStdString();
        EXPECT_TRUE(caption.contains(" (127.0.0.1:")) << caption.toStdString();
    }
    EXPECT_TRUE(run.boxes.isEmpty());
    EXPECT_EQ(run.state, TFrmMain::StateOnline);
    EXPECT_EQ(run.saved, clean.saved);
    EXPECT_EQ(run.pointers, clean.pointers);
    EXPECT_EQ(run.counters, clean.counters);
}

// An article the server always fails on is skipped after three losses and
// the run goes on; two losses still fetch it (ClosedAgainRightAfterReconnecting).
TEST(LostConnection, ArticleLostThreeTimesIsSkippedAndTheRunGoesOn)
{
    const Fault cut{"BODY 2", [](FakeNntpServer &s, const FakeNntpServer::Article *a) { closeAfter(s, halfBody(*a)); }};
    const Outcome run = runOnce({cut, cut, cut});
    EXPECT_TRUE(run.faultFired);
    EXPECT_EQ(run.connections, 4);
    EXPECT_EQ(run.state, TFrmMain::StateOnline);
    EXPECT_TRUE(run.boxes.isEmpty());
    EXPECT_EQ(run.saved.keys(), (QStringList{"a1.jpg", "a4.jpg", "b10.bin"}));
    EXPECT_EQ(run.pointers, reference().pointers);
    EXPECT_EQ(run.counters.value("alt.aEMPTY_COUNT"), "2"); // the text article and the skipped one
}

// A user command while the search waits to reconnect acts at once. The pause
// is ten minutes, so a command that did not end it would trip the watchdog.
struct CommandCase {
    const char *name;
    std::function<void(TFrmMain &)> command;
    int endState;
    QByteArray pointerA, pointerB;
    QStringList saved;
    QByteArray emptyA; // alt.aEMPTY_COUNT
};

void PrintTo(const CommandCase &c, std::ostream *os) { *os << c.name; }

const QList<CommandCase> commandCases = {
    {"Disconnect", [](TFrmMain &w) { w.miDisconnect->trigger(); }, TFrmMain::StateOffline,
     "2,<art2@fake.invalid>", "absent", {"a1.jpg"}, "0"},
    // The run ends at once; the reconnection it starts completes afterwards.
    {"Stop", [](TFrmMain &w) { w.btStop->click(); }, TFrmMain::StateOffline, "2,<art2@fake.invalid>", "absent",
     {"a1.jpg"}, "0"},
    {"SkipArticle", [](TFrmMain &w) { w.btSkipArticle->click(); }, TFrmMain::StateOnline,
     "4,<art4@fake.invalid>+", "11,<art11@fake.invalid>+", {"a1.jpg", "a4.jpg", "b10.bin"}, "2"},
    {"SkipGroup", [](TFrmMain &w) { w.btSkipGroup->click(); }, TFrmMain::StateOnline, "2,<art2@fake.invalid>",
     "11,<art11@fake.invalid>+", {"a1.jpg", "b10.bin"}, "0"},
    {"CloseWindow", [](TFrmMain &w) { w.close(); }, TFrmMain::StateOffline, "2,<art2@fake.invalid>", "absent",
     {"a1.jpg"}, "0"},
};

class CommandWhileReconnecting : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandWhileReconnecting, ActsAtOnce)
{
    const CommandCase &c = GetParam();
    bool commanded = false, stateWasSearching = false, skipEnabled = false, watchdogFired = false;
    QTimer poll, watchdog;
    const Outcome run = runOnce(
        {{"BODY 2", [](FakeNntpServer &s, const FakeNntpServer::Article *a) { closeAfter(s, halfBody(*a)); }}},
        [&](FakeNntpServer &, TFrmMain &w, Outcome &) {
            w.ReconnectDelaysMs = {600000, 600000, 600000, 600000, 600000};
            w.show();
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (commanded || !w.laArticleName->text().startsWith("Connection lost"))
                    return;
                commanded = true;
                stateWasSearching = w.State() == TFrmMain::StateSearching;
                skipEnabled = w.btSkipArticle->isEnabled() && w.miDisconnect->isEnabled();
                c.command(w);
            });
            poll.start(10);
            watchdog.setSingleShot(true);
            QObject::connect(&watchdog, &QTimer::timeout, [&] {
                watchdogFired = true;
                w.miDisconnectClick();
            });
            watchdog.start(20000);
        });
    EXPECT_TRUE(commanded);
    EXPECT_FALSE(watchdogFired);
    EXPECT_TRUE(stateWasSearching);
    EXPECT_TRUE(skipEnabled);
    EXPECT_FALSE(run.searching);
    EXPECT_EQ(run.pointers.value("alt.a"), c.pointerA);
    EXPECT_EQ(run.pointers.value("alt.b"), c.pointerB);
    EXPECT_EQ(run.saved.keys(), c.saved);
    EXPECT_EQ(run.counters.value("alt.aEMPTY_COUNT", "0"), c.emptyA);
    EXPECT_EQ(run.state, c.endState);
    // Only the exit prompt may ask anything.
    EXPECT_EQ(run.boxes, QByteArray(c.name) == "CloseWindow" ? QStringList{"Are you sure that you want to exit?"}
                                                             : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandWhileReconnecting, ::testing::ValuesIn(commandCases),
                         [](const ::testing::TestParamInfo<CommandCase> &i) { return std::string(i.param.name); });

TEST(LostConnection, OutsideASearchTheWindowGoesOffline)
{
    QApplication::setQuitOnLastWindowClosed(false);
    TempProgramDir dir;
    MessageRecorder boxes;
    FakeNntpServer server;
    ASSERT_TRUE(server.Listen());
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", server.Port());
    IniWriteInteger("CONFIG", "CONNECTIONS", 1);
    TFrmMain w;
    ASSERT_TRUE(w.miConnectClick());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 10000));
    server.CloseClient();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOffline; }, 5000));
    EXPECT_FALSE(w.NewsClient->Connected);
    EXPECT_TRUE(w.miConnect->isEnabled());
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(w.StopReason, 0);
}

} // namespace
