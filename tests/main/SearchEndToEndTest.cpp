// Whole runs of the main window against the fake news server loaded with the
// checked-in corpus (tests/data/corpus, made by its make.sh with uuencode,
// uuenview, Python's email package and base64).
#include "TFrmMain.h"

#include "FakeNntpServer.h"
#include "MessageRecorder.h"
#include "SampleSpool.h"
#include "TZqImage.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>

// Readable failure messages for protocol lines and file names.
void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << '"' << QByteArray(bytes).replace("\r", "\\r").replace("\n", "\\n").constData() << '"';
}

namespace {

const QByteArray One = "alt.binaries.pictures.pixtrawl.one";
const QByteArray Two = "alt.binaries.pictures.pixtrawl.two";
const QString Corpus = QStringLiteral(PIXTRAWL_TEST_DATA "/corpus");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

qsizetype countContaining(const QList<QByteArray> &lines, const QByteArray &part)
{
    return std::count_if(lines.begin(), lines.end(), [&](const QByteArray &l) { return l.contains(part); });
}

QByteArray original(const char *name) { return readFile(Corpus + QStringLiteral("/pictures/") + QLatin1String(name)); }

QByteArray messageId(const QByteArray &group, int n)
{
    return '<' + QByteArray::number(n) + '.' + group + "@sample.pixtrawl>";
}

// What one article should come to: its outcome lines in the log, and which
// counter its received bytes go to.
struct Expected {
    QByteArray group;
    int number;
    QList<QByteArray> lines;
    QList<QByteArray> counters; // e.g. {"FILTERED", "EMPTY"}
};

QByteArray saved(const QByteArray &name, const QByteArray &data)
{
    return "Article was saved as '" + name + "' at " + QByteArray::number(data.size()) + " bytes.";
}

const QByteArray Nothing = "There was nothing to decode.";

class SearchEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        QApplication::setQuitOnLastWindowClosed(false);
        oldCwd_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work.path())); // home of pixtrawl.log
        server.pieceDelayMs = 0;
        server.groups = LoadSampleSpool(Corpus + QStringLiteral("/spool"));
        ASSERT_EQ(server.groups.size(), 2);
        // Group one lacks article 5. Its count is an estimate that includes
        // the gap, as servers' counts often do; an exact 8 would make the
        // client narrow the range to 2..9.
        server.groups[0].count = 9;
        ASSERT_TRUE(server.Listen());
        IniWriteString("CONFIG", "HOST", "127.0.0.1");
        IniWriteInteger("CONFIG", "PORT", server.Port());
        IniWriteInteger("CONFIG", "CONNECTIONS", 1); // commands checked in order
        QDir().mkpath(dir.path("out"));
        IniWriteString("CONFIG", "OUTPUT_DIR", out().toLocal8Bit());
        IniWriteBool("CONFIG", "LOG", true);
        IniWriteBool("CONFIG", "EXIT_PROMPT", false);
        IniWriteBool("CONFIG", "FILE_SCREENING", true);
        IniWriteString("GROUPS", "LIST", One + ',' + Two + ',');
        IniWriteString("FILTER", "EXCLUDE", "spam,");
    }
    void TearDown() override { QDir::setCurrent(oldCwd_); }

    QString out() const { return dir.path(QStringLiteral("out/")); }

    void connectWindow(TFrmMain &w)
    {
        ASSERT_TRUE(w.miConnectClick());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 10000));
    }

    // Connect, Search All Groups from the menu; the search runs inside it.
    void grab(TFrmMain &w)
    {
        connectWindow(w);
        w.miSearchAllGroups->trigger();
        ASSERT_FALSE(w.Searching());
    }

    // Runs f once, soon after the server receives a command starting with prefix.
    void onCommand(const QByteArray &prefix, std::function<void()> f)
    {
        server.OnCommandOnce(prefix, std::move(f));
    }

    // Acts once cond holds, checked from the event loop: a wait of its own
    // would hold the search loop below it.
    void whenTrue(std::function<bool()> cond, std::function<void()> act)
    {
        auto *poll = new QTimer(&server);
        QObject::connect(poll, &QTimer::timeout, poll, [=] {
            if (!cond())
                return;
            poll->stop();
            poll->deleteLater();
            act();
        });
        poll->start(2);
    }

    const FakeNntpServer::Article *article(const QByteArray &group, int n) const
    {
        for (const auto &g : server.groups)
            if (g.name == group)
                for (const auto &a : g.articles)
                    if (a.number == n)
                        return &a;
        return nullptr;
    }

    // Bytes the window receives for one article: its replies as sent (its
    // overview line where the overview stood in for the header).
    qint64 wireBytes(const QByteArray &group, int n) const
    {
        const FakeNntpServer::Article *a = article(group, n);
        if (!a)
            return 2 * QByteArray("423 no such article number in this group\r\n").size();
        const QByteArray id = QByteArray::number(n) + ' ' + a->messageId;
        qint64 bytes = server.overview ? FakeNntpServer::OverviewLine(*a).size() + 2
                                       : ("221 " + id + " head\r\n" + FakeNntpServer::Stuffed(a->header)).size();
        if (!a->subject.toLower().contains("spam"))
            bytes += ("222 " + id + " body\r\n" + FakeNntpServer::Stuffed(a->body)).size();
        return bytes;
    }

    // The log without its time stamps; checks every line's frame on the way.
    QList<QByteArray> logLines() const
    {
        const QByteArray log = readFile(work.filePath(QStringLiteral("pixtrawl.log")));
        EXPECT_TRUE(log.endsWith("\r\n"));
        EXPECT_EQ(log.count('\n'), log.count("\r\n"));
        QList<QByteArray> lines = log.split('\n');
        lines.removeLast();
        static const QRegularExpression stamp(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d-\\d\\d:\\d\\d:\\d\\d-"));
        for (QByteArray &l : lines) {
            l.chop(1);
            if (stamp.match(QString::fromLatin1(l)).hasMatch())
                l = "@" + l.mid(18);
        }
        return lines;
    }

    // The log lines a run over these articles writes.
    QList<QByteArray> expectedLog(const QList<Expected> &articles) const
    {
        QList<QByteArray> lines;
        for (const Expected &e : articles) {
            // A missing article's header line has no subject.
            const FakeNntpServer::Article *a = article(e.group, e.number);
            const QByteArray subject = a ? a->subject : QByteArray();
            lines << " " << "@" + e.group + '-' + QByteArray::number(e.number) + '-' + subject;
            lines << e.lines;
        }
        return lines;
    }

    // Counters of each group and in total, bytes counted exactly.
    void expectCounters(const QList<Expected> &articles) const
    {
        std::map<QByteArray, qint64> want;
        for (const Expected &e : articles) {
            for (const QByteArray &c : e.counters) {
                for (const QByteArray &prefix : {e.group, QByteArray()}) {
                    want[prefix + '|' + c + "_COUNT"] += 1;
                    want[prefix + '|' + c + "_BYTES"] += wireBytes(e.group, e.number);
                }
            }
        }
        for (const QByteArray &prefix : {One, Two, QByteArray()}) {
            for (const char *c : {"SAVED", "DUPLICATE", "FILTERED", "EMPTY"}) {
                for (const char *unit : {"_COUNT", "_BYTES"}) {
                    const QByteArray counter = QByteArray(c) + unit;
                    const auto it = want.find(prefix + '|' + counter);
                    EXPECT_EQ(ReadStatistic(counter, prefix), it == want.end() ? 0 : it->second)
                        << (prefix + ' ' + counter).constData();
                }
            }
            EXPECT_NE(IniReadString("STATISTICS", prefix + "TIME", "absent"), "absent") << prefix.constData();
        }
    }

    QList<QByteArray> outFiles() const
    {
        QList<QByteArray> names;
        for (const QString &f : QDir(out()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
            names << f.toLocal8Bit();
        return names;
    }

    // Every article of the corpus, grabbed with screening on.
    QList<Expected> corpusRun() const { return corpusRunOne() + corpusRunTwo(); }
    QList<Expected> corpusRunOne() const
    {
        QList<Expected> run{
            {One, 1, {saved("sunset.jpg", original("sunset.jpg"))}, {"SAVED"}},
            {One, 2, {saved("harbour.jpg", original("harbour.jpg"))}, {"SAVED"}},
            {One, 3, {saved("meadow.jpg", original("meadow.jpg"))}, {"SAVED"}},
            {One, 4, {Nothing}, {"EMPTY"}},
            {One, 6, {Nothing}, {"EMPTY"}}, // first of three parts: pending
            {One, 7, {Nothing}, {"EMPTY"}},
            {One, 8, {saved("bigcity.jpg", original("bigcity.jpg"))}, {"SAVED"}},
            {One, 9, {"Article was filtered out because the subject contained 'spam'", Nothing}, {"FILTERED", "EMPTY"}},
        };
        if (!server.overview) // HEAD and BODY answered 423
            run.insert(4, Expected{One, 5, {Nothing}, {"EMPTY"}});
        return run;
    }
    QList<Expected> corpusRunTwo() const
    {
        const QByteArray sunset = original("sunset.jpg");
        return {
            {Two, 1, {saved("forest.jpg", original("forest.jpg"))}, {"SAVED"}},
            {Two, 2, {"File 'sunset-copy.jpg' was a duplicate - CRC-32 = " + TArticleDisposition::ChecksumKey(sunset)},
             {"DUPLICATE"}},
            {Two, 3, {saved("evil.jpg", original("evil.jpg"))}, {"SAVED"}},
        };
    }

    void grabWholeCorpus();

    QTemporaryDir work;
    TempProgramDir dir;
    MessageRecorder boxes;
    FakeNntpServer server;

private:
    QString oldCwd_;
};

// The whole corpus, byte-exact; with an overview (gaps skipped, no HEAD) or
// without one (HEAD per article).
void SearchEndToEnd::grabWholeCorpus()
{
    IniWriteBool("CONFIG", "PREVIEW", true);
    QByteArray pointerBeforeMissingBody;
    QObject::connect(&server, &FakeNntpServer::CommandReceived, &server, [&](const QByteArray &c) {
        if (c == "BODY 5")
            pointerBeforeMissingBody = IniReadString("GROUPS", One, "");
    });
    {
        TFrmMain w;
        grab(w);
        EXPECT_EQ(w.State(), TFrmMain::StateOnline);
        EXPECT_TRUE(boxes.shown().isEmpty());
        EXPECT_TRUE(w.close());
    }

    // Every picture byte for byte, under its own name, and nothing else.
    EXPECT_EQ(outFiles(), (QList<QByteArray>{"bigcity.jpg", "evil.jpg", "forest.jpg", "harbour.jpg",
                                             "meadow.jpg", "sunset.jpg"}));
    for (const char *name : {"bigcity.jpg", "evil.jpg", "harbour.jpg", "meadow.jpg", "sunset.jpg"})
        EXPECT_EQ(readFile(out() + QLatin1String(name)), original(name)) << name;
    EXPECT_EQ(readFile(out() + QStringLiteral("forest.jpg")), original("forest.jpg"));
    EXPECT_FALSE(QFile::exists(dir.path(QStringLiteral("evil.jpg"))));
    EXPECT_FALSE(QFile::exists(QFileInfo(dir.dir()).dir().filePath(QStringLiteral("evil.jpg"))));
    EXPECT_EQ(dir.read(QStringLiteral("current.jpg")), original("evil.jpg")); // the last file disposed of

    // A header request that failed: its own number, no id; with an overview
    // the missing article is a gap and never asked for.
    EXPECT_EQ(pointerBeforeMissingBody, server.overview ? QByteArray() : QByteArray("5,"));
    EXPECT_EQ(IniReadString("GROUPS", One, ""), "9," + messageId(One, 9) + '+');
    EXPECT_EQ(IniReadString("GROUPS", Two, ""), "3," + messageId(Two, 3) + '+');

    const QList<Expected> run = corpusRun();
    EXPECT_EQ(logLines(), expectedLog(run));
    expectCounters(run);

    // The checksum list holds each saved file once, sorted, CR LF ended.
    QList<QByteArray> keys;
    for (const char *name : {"bigcity.jpg", "evil.jpg", "forest.jpg", "harbour.jpg", "meadow.jpg", "sunset.jpg"})
        keys << TArticleDisposition::ChecksumKey(original(name));
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(dir.read(QStringLiteral("CRC-32.dat")), keys.join("\r\n") + "\r\n");

    // The server saw each article's header, and the body of every unfiltered one.
    // Without an overview the probes are refused once per connection.
    QList<QByteArray> want{"GROUP " + One + "\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 1-9\r\n"};
    if (!server.overview)
        want << "XOVER 1-9\r\n";
    for (int n = 1; n <= 9; ++n) {
        if (!server.overview)
            want << "HEAD " + QByteArray::number(n) + "\r\n";
        if (n != 9 && (n != 5 || !server.overview))
            want << "BODY " + QByteArray::number(n) + "\r\n";
    }
    want << "GROUP " + Two + "\r\n";
    if (server.overview)
        want << "OVER 1-3\r\n";
    for (int n = 1; n <= 3; ++n) {
        if (!server.overview)
            want << "HEAD " + QByteArray::number(n) + "\r\n";
        want << "BODY " + QByteArray::number(n) + "\r\n";
    }
    QList<QByteArray> seen = server.commands;
    if (IniReadInteger("CONFIG", "CONNECTIONS", 1) > 1) {
        // The other connections ask by id, in any order among themselves.
        for (QByteArray &c : seen)
            for (const QByteArray &g : {One, Two})
                for (int n = 1; n <= 9; ++n)
                    if (c == "BODY " + messageId(g, n) + "\r\n")
                        c = "BODY " + QByteArray::number(n) + "\r\n";
        std::sort(seen.begin(), seen.end());
        std::sort(want.begin(), want.end());
        EXPECT_GT(server.connections, 1);
    }
    EXPECT_EQ(seen, want);
}

TEST_F(SearchEndToEnd, GrabsTheWholeCorpus) { grabWholeCorpus(); }

TEST_F(SearchEndToEnd, GrabsTheWholeCorpusOverSeveralConnections)
{
    IniWriteInteger("CONFIG", "CONNECTIONS", 4);
    grabWholeCorpus();
}

TEST_F(SearchEndToEnd, GrabsTheWholeCorpusThroughHeadersWithoutAnOverview)
{
    server.overview = false;
    grabWholeCorpus();
}

// A second pass over the same articles (pointers cleared) with screening off
// and numbered names: every file is saved again beside the first copy, and the
// checksum list does not grow.
TEST_F(SearchEndToEnd, SecondPassWithScreeningOffSavesAgainUnderNumberedNames)
{
    {
        TFrmMain w;
        grab(w);
        EXPECT_TRUE(w.close());
    }
    const QByteArray keysAfterFirst = dir.read(QStringLiteral("CRC-32.dat"));
    QFile::remove(work.filePath(QStringLiteral("pixtrawl.log")));
    IniWriteString("GROUPS", One, "");
    IniWriteString("GROUPS", Two, "");
    IniWriteBool("CONFIG", "FILE_SCREENING", false);
    IniWriteBool("CONFIG", "RENAME_DUPLICATES", true);
    server.commands.clear();
    {
        TFrmMain w;
        grab(w);
        EXPECT_TRUE(w.close());
    }
    EXPECT_EQ(outFiles(),
              (QList<QByteArray>{"bigcity-1.jpg", "bigcity.jpg", "evil-1.jpg", "evil.jpg", "forest-1.jpg",
                                 "forest.jpg", "harbour-1.jpg", "harbour.jpg", "meadow-1.jpg",
                                 "meadow.jpg", "sunset-1.jpg", "sunset-copy.jpg", "sunset.jpg"}));
    EXPECT_EQ(readFile(out() + QStringLiteral("sunset-copy.jpg")), original("sunset.jpg"));
    EXPECT_EQ(readFile(out() + QStringLiteral("bigcity-1.jpg")), original("bigcity.jpg"));
    EXPECT_EQ(dir.read(QStringLiteral("CRC-32.dat")), keysAfterFirst);

    const QList<QByteArray> log = logLines();
    EXPECT_TRUE(log.contains(saved("sunset-copy.jpg", original("sunset.jpg"))));
    EXPECT_TRUE(log.contains(saved("bigcity-1.jpg", original("bigcity.jpg"))));
    EXPECT_TRUE(log.contains(saved("forest-1.jpg", original("forest.jpg"))));
    EXPECT_EQ(countContaining(log, "was a duplicate"), 0);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", Two), 2 + 3); // both passes
    EXPECT_EQ(ReadStatistic("DUPLICATE_COUNT", ""), 1);  // the first pass only
}

// Cut off while the body of article 3 arrives, then a new window on the same
// settings (as after a restart): the unfinished article is fetched again,
// the finished ones are not, and only what the first window completed keeps
// the completion mark.
TEST_F(SearchEndToEnd, RestartResumesFromTheStoredPointers)
{
    // Half the body, then nothing: the window waits inside the body request.
    const FakeNntpServer::Article meadow = *article(One, 3);
    QByteArray half = FakeNntpServer::Stuffed(meadow.body.mid(0, meadow.body.size() / 2));
    half.chop(3);
    bool cut = false;
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        if (command != "BODY 3" || cut)
            return false;
        cut = true;
        s.Send("222 3 " + meadow.messageId + " body\r\n" + half);
        s.Stall();
        return true;
    };
    {
        TFrmMain w;
        connectWindow(w);
        // Asked for ahead: the cut comes once the window is on it.
        whenTrue([&] { return w.NewsClient->ArticleNumber == 3 && !w.NewsClient->BodyLines.isEmpty(); },
                 [&] { w.miDisconnect->trigger(); });
        w.miSearchAllGroups->trigger();
        EXPECT_EQ(w.State(), TFrmMain::StateOffline);
        EXPECT_EQ(IniReadString("GROUPS", One, ""), "3," + messageId(One, 3)); // no completion mark
        EXPECT_EQ(IniReadString("GROUPS", Two, "absent"), "absent");
        EXPECT_FALSE(QFile::exists(out() + QStringLiteral("meadow.jpg")));
        EXPECT_NE(IniReadString("STATISTICS", One + "TIME", "absent"), "absent");
        EXPECT_TRUE(w.close());
    }
    // No outcome line for the cut-off article, and nothing counted for it.
    QList<QByteArray> log = logLines();
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.last(), "@" + One + "-3-" + meadow.subject);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 2);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", ""), 0);

    server.commands.clear();
    QFile::remove(out() + QStringLiteral("sunset.jpg"));
    {
        TFrmMain w;
        grab(w);
        EXPECT_TRUE(w.close());
    }
    EXPECT_EQ(server.commands.mid(0, 4), (QList<QByteArray>{"GROUP " + One + "\r\n", "LIST OVERVIEW.FMT\r\n",
                                                            "OVER 3-2002\r\n", "BODY 3\r\n"}));
    EXPECT_EQ(readFile(out() + QStringLiteral("meadow.jpg")), original("meadow.jpg"));
    EXPECT_FALSE(QFile::exists(out() + QStringLiteral("sunset.jpg")));
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 2 + 4);
    EXPECT_EQ(ReadStatistic("DUPLICATE_COUNT", Two), 1); // the first window's sunset.jpg key was kept
    EXPECT_EQ(IniReadString("GROUPS", One, ""), "9," + messageId(One, 9) + '+');
    EXPECT_EQ(IniReadString("GROUPS", Two, ""), "3," + messageId(Two, 3) + '+');

    // Nothing new on the server: a third window fetches no article, only
    // the overview that went out with each GROUP.
    server.commands.clear();
    {
        TFrmMain w;
        grab(w);
        EXPECT_TRUE(w.close());
    }
    EXPECT_EQ(server.commands, (QList<QByteArray>{"GROUP " + One + "\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 10-2009\r\n",
                                                  "GROUP " + Two + "\r\n", "OVER 4-2003\r\n"}));
}

// Where a run starts in a group from its stored mark (the group holds 1 to 9).
TEST_F(SearchEndToEnd, ResumePointFromTheMark)
{
    struct Case {
        QByteArray stored;
        QByteArray firstBody; // empty: nothing fetched
    } cases[] = {
        {"", "BODY 1"},
        {"4,<x@y>+", "BODY 6"},      // 5 is a gap in the overview
        {"4,<x@y>", "BODY 4"},       // begun but not finished: again
        {"1,<x@y>+", "BODY 2"},      // at the first article: mark ignored, "+" still counts
        {"1009,<x@y>+", "BODY 2"},   // renumbered group: too far beyond the last
        {"1008,<x@y>", ""},          // within 1000 of the last: taken, nothing to fetch yet
        {"9,<x@y>+", ""},
    };
    IniWriteString("GROUPS", "LIST", One + ',');
    IniWriteBool("CONFIG", "LOG", false);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored.constData());
        IniWriteString("GROUPS", One, c.stored);
        server.commands.clear();
        TFrmMain w;
        grab(w);
        ASSERT_GE(server.commands.size(), 1);
        QByteArray firstBody;
        for (const QByteArray &command : std::as_const(server.commands))
            if (firstBody.isEmpty() && (command.startsWith("BODY") || command.startsWith("ARTICLE") ||
                                        command.startsWith("HEAD")))
                firstBody = command.trimmed();
        EXPECT_EQ(firstBody, c.firstBody);
        EXPECT_EQ(w.State(), TFrmMain::StateOnline);
        w.miDisconnectClick();
    }
    EXPECT_FALSE(QFile::exists(work.filePath(QStringLiteral("pixtrawl.log"))));
}

// Skip Group while a body arrives: that article keeps its pointer without the
// completion mark, the run goes on with the next group after reconnecting.
TEST_F(SearchEndToEnd, SkipGroupLeavesTheArticleUnfinishedAndGoesOn)
{
    server.stallOn = "BODY 2";
    TFrmMain w;
    connectWindow(w);
    onCommand("BODY 2", [&] { server.stallOn.clear(); });
    // Asked for ahead: the skip comes once the window is on it.
    whenTrue([&] { return IniReadString("GROUPS", One, "").startsWith("2,"); }, [&] { w.btSkipGroup->click(); });
    w.miSearchAllGroups->trigger();

    EXPECT_EQ(w.State(), TFrmMain::StateOnline);
    EXPECT_EQ(server.connections, 2);
    EXPECT_EQ(IniReadString("GROUPS", One, ""), "2," + messageId(One, 2));
    EXPECT_EQ(IniReadString("GROUPS", Two, ""), "3," + messageId(Two, 3) + '+');
    // A new connection: the overview format is asked for again.
    const qsizetype two = server.commands.indexOf("GROUP " + Two + "\r\n");
    ASSERT_GT(two, 0);
    EXPECT_EQ(server.commands.mid(two, 3),
              (QList<QByteArray>{"GROUP " + Two + "\r\n", "LIST OVERVIEW.FMT\r\n", "OVER 1-3\r\n"}));
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", One), 1);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", One), 0); // the skipped article went through nothing
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", Two), 2);
    EXPECT_FALSE(QFile::exists(out() + QStringLiteral("harbour.jpg")));
    // The skipped article's record has its header line and no outcome.
    const QList<QByteArray> log = logLines();
    const qsizetype at = log.indexOf("@" + One + "-2-" + article(One, 2)->subject);
    ASSERT_GE(at, 0);
    EXPECT_EQ(log.value(at + 1), " ");
}

// An output folder that does not exist: the run stops at the first picture,
// which keeps its pointer unfinished and is saved by the next run.
TEST_F(SearchEndToEnd, MissingOutputFolderStopsTheRunAndLosesNothing)
{
    const QString gone = dir.dir() + QStringLiteral("gone/");
    IniWriteString("CONFIG", "OUTPUT_DIR", gone.toLocal8Bit());
    IniWriteBool("CONFIG", "PREVIEW", true);
    {
        TFrmMain w;
        grab(w);
        EXPECT_EQ(IniReadString("GROUPS", One, ""), "1," + messageId(One, 1));
        EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 0);
        EXPECT_EQ(countContaining(logLines(), "Article could not be saved as 'sunset.jpg': No such file"), 1);
        EXPECT_FALSE(QFile::exists(dir.path(QStringLiteral("current.jpg"))));
        EXPECT_EQ(boxes.shown().size(), 1);
        EXPECT_TRUE(w.close());
    }
    ASSERT_TRUE(QDir().mkpath(gone));
    TFrmMain w;
    grab(w);
    EXPECT_EQ(QDir(gone).entryList(QDir::Files).size(), 6);
    EXPECT_EQ(readFile(gone + QStringLiteral("sunset.jpg")), original("sunset.jpg"));
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 6);
}

} // namespace
