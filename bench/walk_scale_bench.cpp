// A headless walk (the engine alone, as "pixtrawl --grab" runs it) of one
// group of a million short articles from the in-process fake news server,
// which makes each article when it is asked for, so the process holds what
// the engine holds. Of every 100 articles 10 have a subject the filter
// drops, 1 is a tiny yEnc picture (saved) and the rest are two lines of
// text. Prints the peak resident memory (goal: under 200 MB) and the time
// per article over the first and the last 10,000 articles (goal: flat).
//   walk_scale_bench [--articles N, default 1000000]
// WALK_SCALE_COMPRESS=1 has the server offer COMPRESS DEFLATE;
// WALK_SCALE_OVERVIEW_ONLY=1 filters every article, so what comes is the
// overview alone. The bytes the server wrote are printed either way.
#include "FakeNntpServer.h"
#include "TGrabEngine.h"
#include "TempProgramDir.h"
#include "TestBodies.h"
#include "ZqIniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <map>

namespace {

const QByteArray kGroup = "alt.binaries.pictures.walk";

FakeNntpServer::Article makeArticle(qint32 n)
{
    const QByteArray number = QByteArray::number(n);
    if (n % 10 == 3)
        return FakeNntpServer::MakeArticle(n, "spam offer " + number, {"buy now"});
    if (n % 100 == 7) {
        const QByteArray name = "s" + number + ".jpg";
        return FakeNntpServer::MakeArticle(n, "tiny \"" + name + "\" yEnc (1/1)", YEncFile(name, Noise(64, quint32(n))));
    }
    return FakeNntpServer::MakeArticle(n, "notes " + number, {"a short note", "number " + number});
}

// "VmHWM" (peak) or "VmRSS" (now) of this process, in MB.
double memoryMb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field)) + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// Times the walk at every 10,000th article and at the marks asked for.
class Timeline : public TGrabEvents {
public:
    QElapsedTimer clock;
    std::map<qint64, qint64> startedNs; // position: when its article started first
    std::map<qint64, double> rssMb;     // position: resident memory then
    qint64 lastPosition = -1;
    int state = 0;
    QString failure;
    bool walkedAll = false;
    QString summary;

    void StateChanged(int s) override { state = s; }
    void ArticleStarted(qint64, qint64 position, qint64 count, const QByteArray &) override
    {
        lastPosition = position;
        const qint64 window = qMin<qint64>(10000, count / 2);
        if (position % 10000 == 0 || position == window || position == count - 1 - window || position == count - 1)
            if (startedNs.emplace(position, clock.nsecsElapsed()).second && position % (count / 10 ? count / 10 : 1) == 0)
                rssMb[position] = memoryMb("VmRSS:");
    }
    void RunEnded(const TRunSummary &s, bool walked, const QString &why) override
    {
        walkedAll = walked;
        summary = s.Text();
        if (!walked)
            failure = why;
    }
    void Failed(TGrabFailure, const QString &text, bool) override { failure = text; }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    qint64 count = 1000000;
    if (args.size() == 3 && args[1] == QLatin1String("--articles"))
        count = args[2].toLongLong();
    if ((args.size() != 1 && args.size() != 3) || count < 2 || count > 100000000) {
        std::fprintf(stderr, "usage: walk_scale_bench [--articles N, default 1000000]\n");
        return 2;
    }

    TempProgramDir dir;
    FakeNntpServer server;
    server.pieceDelayMs = 0;
    server.record = false;
    if (!server.Listen()) {
        std::fprintf(stderr, "walk_scale_bench: cannot listen\n");
        return 1;
    }
    FakeNntpServer::Group g;
    g.name = kGroup;
    g.first = 1;
    g.last = qint32(count);
    g.count = qint32(count);
    g.generate = makeArticle;
    server.groups << g;
    if (qEnvironmentVariableIntValue("WALK_SCALE_COMPRESS") == 1)
        server.compression = FakeNntpServer::Compression::Deflate;
    const bool overviewOnly = qEnvironmentVariableIntValue("WALK_SCALE_OVERVIEW_ONLY") == 1;

    QDir().mkpath(dir.path(QStringLiteral("out")));
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", server.Port());
    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(dir.path(QStringLiteral("out/"))));
    // The fake server takes one connection at a time.
    IniWriteInteger("CONFIG", "CONNECTIONS", 1);
    IniWriteString("FILTER", "EXCLUDE", overviewOnly ? "spam,notes,tiny," : "spam,");
    IniWriteString("GROUPS", "LIST", kGroup + ',');

    const double rssBefore = memoryMb("VmRSS:");
    Timeline t;
    TGrabEngine engine;
    engine.SetEvents(&t);
    engine.PreviewEnabled = false;
    engine.LoadGroups();
    engine.LoadFilters();
    if (!engine.Connect())
        return 1;
    engine.WaitUntil([&] { return t.state == TGrabEngine::StateOnline || !t.failure.isEmpty(); });
    if (t.state != TGrabEngine::StateOnline) {
        std::fprintf(stderr, "walk_scale_bench: no connection: %s\n", qPrintable(t.failure));
        return 1;
    }
    t.clock.start();
    engine.SearchAllGroups();
    const double seconds = t.clock.nsecsElapsed() / 1e9;
    engine.Close(true);
    engine.SetEvents(nullptr);

    const double peak = memoryMb("VmHWM:");
    const qint64 window = qMin<qint64>(10000, count / 2);
    const auto span = [&](qint64 from, qint64 to) {
        const auto a = t.startedNs.find(from), b = t.startedNs.find(to);
        return a == t.startedNs.end() || b == t.startedNs.end() ? -1.0 : double(b->second - a->second) / 1e3 / double(to - from);
    };
    const double first = span(0, window), last = span(count - 1 - window, count - 1);
    std::printf("walk_scale_bench: %lld articles in %s (1 in 10 filtered, 1 in 100 a tiny yEnc picture), one connection\n",
                count, kGroup.constData());
    std::printf("walked %s in %.1f s (%.0f articles/s): %s\n", t.walkedAll ? "all" : "NOT all", seconds,
                double(count) / seconds, qPrintable(t.summary));
    std::printf("time per article: first %lld %.1f us, last %lld %.1f us (last/first %.2f)\n", window, first, window,
                last, last / first);
    std::printf("resident memory: %.1f MB before the walk, peak %.1f MB (goal under 200 MB: %s); along the walk:",
                rssBefore, peak, peak < 200 ? "met" : "MISSED");
    for (const auto &[position, mb] : t.rssMb)
        std::printf(" %lld%% %.1f", position * 100 / count, mb);
    std::printf(" MB\n");
    std::printf("bytes the server wrote%s: %lld\n", server.compression == FakeNntpServer::Compression::Deflate ? " (compressed)" : "",
                server.wireBytesOut);
    if (!t.walkedAll)
        std::fprintf(stderr, "walk_scale_bench: the run ended early at article %lld: %s\n", t.lastPosition + 1,
                     qPrintable(t.failure));
    return t.walkedAll && peak < 200 ? 0 : 1;
}
