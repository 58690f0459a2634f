// Grabbing over slow links, against the local INN2 server
// (tests/inn/start_inn.sh). One group of 1,000 articles (LatencyCorpus.h:
// text, subjects the filter drops, 325 yEnc photographs of about 200 KB, 25
// of them in 4 parts; about 66 MB of wanted bodies) is walked through a
// proxy that holds every byte back D ms each way and may cap each
// connection's download rate, by
//  - the main window's headless grab with the preview on, timed from Search
//    All Groups to the moment the group's pointer in the settings carries
//    the last article as done (or the run's end); every saved picture is
//    compared with the one posted;
//  - the limit client (LimitClient.h): GROUP and one OVER, then every wanted
//    BODY at once over C connections, timed to the last byte.
// Rows (median of --runs runs each, the runs taken in turn so a change in
// the machine's load falls on every figure alike):
//   1  D 0, no cap:            defaults       against the limit on 1 connection
//   2  D 20 ms, no cap:        defaults       against the limit on 1 connection
//   3  D 25 ms, 4 MB/s a link: CONNECTIONS 8  against the limit on 8 connections
// rows 2 and 3 also with PIPELINE 64 (unless --no-pipeline64).
//   latency_bench [--runs N, default 3] [--rows 1,2,3] [--no-pipeline64] [--group NAME]
//   latency_bench --grab-once [--delay MS] [--pipeline N] [--connections N] [--group NAME]
//   latency_bench --limit-once [--delay MS] [--connections N] [--group NAME]
// --group walks a group an earlier run posted (it prints the name) instead
// of posting 66 MB again. --grab-once makes one grab straight from the
// server (through the delay proxy with --delay) between two marks: failed opens of grab-begins and grab-ends for a
// system call trace (settings_syscalls.sh), and CLOCK_MONOTONIC times on
// standard error for a profile of the grab alone:
//   perf record -g -k CLOCK_MONOTONIC -o grab.data -- latency_bench --grab-once --group NAME
//   perf report -i grab.data --time <begins>,<ends>
// Each grab writes into a new folder under TMPDIR. On the root ext4 of a
// machine where files were just deleted (an earlier run's clean-up, a test
// suite), making those files costs more than on a fresh file system; run as
//   bench/fresh_ext4.sh build/bench/latency_bench ...
// to time the grab on an ext4 of its own.
// LATENCY_BENCH_EACH=1 prints each grab's time on standard error as well.
// LATENCY_BENCH_COMPRESS=Y or N sets COMPRESS for the grab (else the default).
// LATENCY_BENCH_CPU=N holds the grabbing and the limit client's thread to
// core N during each run: on a shared host one core can run a fixed loop
// half again slower than the other, and where the scheduler puts the grab
// then decides its time.
#include "DelayProxy.h"
#include "InnServer.h"
#include "LatencyCorpus.h"
#include "LimitClient.h"
#include "TFrmMain.h"
#include "ZqIniFile.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <time.h>
#include <sched.h>
#include <unistd.h>

namespace {

struct Variant {
    std::optional<int> connections, pipeline;
    QByteArray Name() const
    {
        QByteArray n;
        if (connections)
            n += "CONNECTIONS=" + QByteArray::number(*connections);
        if (pipeline)
            n += QByteArray(n.isEmpty() ? "" : ", ") + "PIPELINE=" + QByteArray::number(*pipeline);
        return n.isEmpty() ? "defaults" : n;
    }
};

struct Row {
    int delayMs;
    qint64 capBytesPerSec; // 0: none
    int limitConnections;
    std::vector<Variant> variants;
};

struct Grab {
    double seconds = -1;    // to the last pointer, else to the run's end; -1 when it did not connect
    bool pointerSeen = false;
    LatencyCorpus::Saved saved;
    double cpu = 0;         // of this thread, where the grab runs
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// Marks a moment in a system call trace: the open fails, and strace logs it.
void traceMark(const QTemporaryDir &dir, const char *name)
{
    const int fd = ::open(QFile::encodeName(dir.filePath(QString::fromLatin1(name))).constData(), O_RDONLY);
    if (fd >= 0)
        ::close(fd);
}

double clockSeconds(clockid_t clock)
{
    struct timespec ts;
    ::clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// With LATENCY_BENCH_CPU=N, the thread that grabs or runs the limit client
// is held to core N for that run (the proxy and the server stay free). On a
// host whose cores differ in speed this shows each side on the same core.
class PinnedRun {
public:
    PinnedRun()
    {
        bool ok = false;
        const int cpu = qEnvironmentVariableIntValue("LATENCY_BENCH_CPU", &ok);
        if (!ok || cpu < 0 || cpu >= CPU_SETSIZE || ::sched_getaffinity(0, sizeof before_, &before_) != 0)
            return;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pinned_ = ::sched_setaffinity(0, sizeof one, &one) == 0;
    }
    // Threads made later (the next row's proxy) must not inherit the pin.
    ~PinnedRun()
    {
        if (pinned_)
            ::sched_setaffinity(0, sizeof before_, &before_);
    }
    PinnedRun(const PinnedRun &) = delete;
    PinnedRun &operator=(const PinnedRun &) = delete;

private:
    cpu_set_t before_{};
    bool pinned_ = false;
};

// One whole headless grab of the group by a fresh window with fresh
// settings, so every run walks the whole group.
Grab pixtrawlGrab(quint16 port, const QByteArray &group, const Variant &v, const LatencyCorpus &corpus,
                  const QByteArray &lastPointer, bool marked = false)
{
    const PinnedRun pinned;
    // Kept until the end: on ext4 a file made soon after many were deleted
    // costs a scan past each of them, which would time the last run's
    // clean-up rather than this run's grab.
    static std::vector<std::unique_ptr<QTemporaryDir>> kept;
    kept.push_back(std::make_unique<QTemporaryDir>());
    const QTemporaryDir &dir = *kept.back();
    SetProgramFilePathOverride(dir.filePath(QStringLiteral("pixtrawl")));
    const QString out = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", port);
    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(out + '/'));
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    IniWriteBool("CONFIG", "PREVIEW", true);
    if (qEnvironmentVariableIsSet("LATENCY_BENCH_COMPRESS"))
        IniWriteString("CONFIG", "COMPRESS", qgetenv("LATENCY_BENCH_COMPRESS"));
    if (v.connections)
        IniWriteInteger("CONFIG", "CONNECTIONS", *v.connections);
    if (v.pipeline)
        IniWriteInteger("CONFIG", "PIPELINE", *v.pipeline);
    IniWriteString("FILTER", "EXCLUDE", LatencyCorpus::Filter + ',');
    IniWriteString("GROUPS", "LIST", group + ',');

    Grab g;
    {
        TFrmMain w;
        if (!w.miConnectClick() || !QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 20000))
            return g;
        QElapsedTimer t;
        double atPointer = -1;
        // The engine's waits run the event loop, so this looks in often.
        QTimer look;
        look.setTimerType(Qt::PreciseTimer);
        look.setInterval(2);
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (atPointer < 0 && IniReadString("GROUPS", group, QByteArray()) == lastPointer)
                atPointer = t.nsecsElapsed() / 1e9;
        });
        if (marked) {
            traceMark(dir, "grab-begins");
            std::fprintf(stderr, "grab begins at %.6f (CLOCK_MONOTONIC)\n", clockSeconds(CLOCK_MONOTONIC));
        }
        const double cpuBefore = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
        look.start();
        t.start();
        w.miSearchAllGroups->trigger();
        const double ran = t.nsecsElapsed() / 1e9;
        look.stop();
        g.cpu = clockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
        if (marked) {
            std::fprintf(stderr, "grab ends at %.6f\n", clockSeconds(CLOCK_MONOTONIC));
            traceMark(dir, "grab-ends");
        }
        g.pointerSeen = atPointer >= 0 || IniReadString("GROUPS", group, QByteArray()) == lastPointer;
        g.seconds = atPointer >= 0 ? atPointer : ran;
        w.miDisconnectClick();
    }
    g.saved = corpus.Check(out);
    return g;
}

// "1,4" -> {1, 4}; empty when any value is not a whole number of 0 or more.
QList<int> numberList(const QString &text)
{
    QList<int> values;
    for (const QString &v : text.split(',')) {
        bool ok = false;
        const int n = v.toInt(&ok);
        if (!ok || n < 0)
            return {};
        values << n;
    }
    return values;
}

QByteArray capName(qint64 rate)
{
    return rate ? QByteArray::number(double(rate) / 1e6, 'g', 3) + " MB/s a link" : QByteArray("none");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    int runs = 3;
    QList<int> rowNumbers{1, 2, 3};
    bool pipeline64 = true, grabOnce = false, limitOnce = false;
    int onceDelayMs = 0;
    Variant once;
    QByteArray reuse;
    for (int i = 1; i < args.size(); ++i) {
        const QList<int> numbers = numberList(args.value(i + 1));
        const bool one = numbers.size() == 1;
        if (args[i] == QLatin1String("--runs") && one && numbers[0] > 0) {
            runs = numbers[0];
            ++i;
        } else if (args[i] == QLatin1String("--rows") && !numbers.isEmpty() &&
                   std::all_of(numbers.begin(), numbers.end(), [](int r) { return r >= 1 && r <= 3; })) {
            rowNumbers = numbers;
            ++i;
        } else if (args[i] == QLatin1String("--pipeline") && one) {
            once.pipeline = numbers[0];
            ++i;
        } else if (args[i] == QLatin1String("--connections") && one && numbers[0] > 0) {
            once.connections = numbers[0];
            ++i;
        } else if (args[i] == QLatin1String("--delay") && one && numbers[0] >= 0) {
            onceDelayMs = numbers[0];
            ++i;
        } else if (args[i] == QLatin1String("--group") && i + 1 < args.size()) {
            reuse = args[++i].toLatin1();
        } else if (args[i] == QLatin1String("--no-pipeline64")) {
            pipeline64 = false;
        } else if (args[i] == QLatin1String("--grab-once")) {
            grabOnce = true;
        } else if (args[i] == QLatin1String("--limit-once")) {
            limitOnce = true;
        } else {
            std::fprintf(stderr, "usage: latency_bench [--runs N] [--rows 1,2,3] [--no-pipeline64] [--group NAME]\n"
                                 "       latency_bench --grab-once [--delay MS] [--pipeline N] [--connections N] [--group NAME]\n"
                                 "       latency_bench --limit-once [--delay MS] [--connections N] [--group NAME]\n");
            return 2;
        }
    }
    const quint16 inn = InnServer::Port();
    if (inn == 0) {
        std::fprintf(stderr, "no INN server: run tests/inn/start_inn.sh as root\n");
        return 1;
    }

    LatencyCorpus corpus;
    QString error;
    if (!corpus.Make(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QByteArray group = reuse;
    if (group.isEmpty()) {
        group = InnServer::UniqueGroupName("pixtrawl.latency");
        std::fprintf(stderr, "posting %d articles to %s\n", LatencyCorpus::Articles, group.constData());
        if (!InnServer::CreateGroupWithArticles(group, corpus.articles, &error)) {
            std::fprintf(stderr, "posting failed: %s\n", qPrintable(error));
            return 1;
        }
    }
    const QByteArray lastPointer = corpus.LastPointer(inn, group);
    if (lastPointer.isEmpty()) {
        std::fprintf(stderr, "%s does not hold this corpus\n", group.constData());
        return 1;
    }

    if (grabOnce || limitOnce) {
        // Through the proxy only when asked: without delay it adds a copy.
        std::optional<DelayProxy> proxy;
        if (onceDelayMs > 0) {
            proxy.emplace(inn, onceDelayMs, 0);
            if (proxy->Port() == 0)
                return 1;
        }
        if (limitOnce) {
            // The same marks as a grab's, so the tracing scripts can set the
            // limit's use of the cores beside the grab's.
            const QTemporaryDir dir;
            traceMark(dir, "grab-begins");
            std::fprintf(stderr, "grab begins at %.6f (CLOCK_MONOTONIC)\n", clockSeconds(CLOCK_MONOTONIC));
            const double cpuBefore = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
            const PinnedRun pinned;
            const LimitRun l = RunLimitClient(proxy ? proxy->Port() : inn, group, once.connections.value_or(1),
                                              LatencyCorpus::Filtered);
            const double cpu = clockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
            std::fprintf(stderr, "grab ends at %.6f\n", clockSeconds(CLOCK_MONOTONIC));
            traceMark(dir, "grab-ends");
            if (l.seconds < 0 || l.bodies != corpus.wanted)
                return 1;
            std::printf("walked %d articles in %.3f s (%.3f s on the processor), %.1f MB/s, limit client\n",
                        LatencyCorpus::Articles, l.seconds, cpu, double(corpus.wantedBytes) / 1e6 / l.seconds);
            return 0;
        }
        const Grab g = pixtrawlGrab(proxy ? proxy->Port() : inn, group, once, corpus, lastPointer, true);
        if (g.seconds < 0)
            return 1;
        std::printf("walked %d articles in %.3f s (%.3f s on the processor), %.1f MB/s, pictures %s (%d files, "
                    "%d not as posted, %d missing)\n",
                    LatencyCorpus::Articles, g.seconds, g.cpu, double(corpus.wantedBytes) / 1e6 / g.seconds,
                    g.saved.Intact() ? "intact" : "NOT intact", g.saved.files, g.saved.wrong, g.saved.missing);
        return g.saved.Intact() ? 0 : 1;
    }

    std::vector<Row> rows;
    const Variant defaults, deep{std::nullopt, 64}, eight{8, std::nullopt}, eightDeep{8, 64};
    for (int r : rowNumbers) {
        if (r == 1)
            rows.push_back({0, 0, 1, {defaults}});
        else if (r == 2)
            rows.push_back({20, 0, 1, pipeline64 ? std::vector<Variant>{defaults, deep} : std::vector<Variant>{defaults}});
        else
            rows.push_back({25, 4000000, 8, pipeline64 ? std::vector<Variant>{eight, eightDeep} : std::vector<Variant>{eight}});
    }
    // pix[row][variant], limit[row]: seconds of each run.
    std::vector<std::vector<std::vector<double>>> pix(rows.size());
    std::vector<std::vector<double>> limit(rows.size());
    QList<QByteArray> notes;
    for (size_t r = 0; r < rows.size(); ++r)
        pix[r].resize(rows[r].variants.size());
    for (int run = 0; run < runs; ++run) {
        for (size_t r = 0; r < rows.size(); ++r) {
            const Row &row = rows[r];
            DelayProxy proxy(inn, row.delayMs, row.capBytesPerSec);
            if (proxy.Port() == 0) {
                std::fprintf(stderr, "the proxy could not listen\n");
                return 1;
            }
            for (size_t v = 0; v < row.variants.size(); ++v) {
                const Grab g = pixtrawlGrab(proxy.Port(), group, row.variants[v], corpus, lastPointer);
                if (g.seconds < 0) {
                    std::fprintf(stderr, "the grab did not connect at %d ms\n", row.delayMs);
                    return 1;
                }
                if (!g.saved.Intact() || !g.pointerSeen)
                    notes << "row " + QByteArray::number(rowNumbers[qsizetype(r)]) + ' ' + row.variants[v].Name() +
                            ": " + QByteArray::number(g.saved.files) + " files saved, " + QByteArray::number(g.saved.wrong) +
                            " not as posted, " + QByteArray::number(g.saved.missing) + " missing" +
                            (g.pointerSeen ? "" : "; the pointer never showed the last article done");
                pix[r][v].push_back(g.seconds);
                if (qEnvironmentVariableIsSet("LATENCY_BENCH_EACH"))
                    std::fprintf(stderr, "run %d row %d %s: %.3f s (%.3f s on the processor)\n", run + 1,
                                 rowNumbers[qsizetype(r)], row.variants[v].Name().constData(), g.seconds, g.cpu);
            }
            const LimitRun l = [&] {
                const PinnedRun pinned;
                return RunLimitClient(proxy.Port(), group, row.limitConnections, LatencyCorpus::Filtered);
            }();
            if (l.seconds < 0 || l.bodies != corpus.wanted) {
                std::fprintf(stderr, "the limit client failed at %d ms (%d bodies)\n", row.delayMs, l.bodies);
                return 1;
            }
            limit[r].push_back(l.seconds);
        }
    }

    std::printf("%d articles in %s: %d wanted, %.1f MB of wanted bodies; %zu pictures; median of %d runs\n\n",
                LatencyCorpus::Articles, group.constData(), corpus.wanted, double(corpus.wantedBytes) / 1e6,
                size_t(corpus.pictures.size()), runs);
    std::printf("| D | cap | limit uses | limit | Pixtrawl | ratio | Pixtrawl settings |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (size_t r = 0; r < rows.size(); ++r) {
        const double l = median(limit[r]);
        for (size_t v = 0; v < rows[r].variants.size(); ++v) {
            const double x = median(pix[r][v]);
            std::printf("| %d ms | %s | %d connection%s | %.3f s | %.3f s | %.2f | %s |\n", rows[r].delayMs,
                        capName(rows[r].capBytesPerSec).constData(), rows[r].limitConnections,
                        rows[r].limitConnections == 1 ? "" : "s", l, x, x / l, rows[r].variants[v].Name().constData());
        }
    }
    for (size_t r = 0; r < rows.size(); ++r)
        if (rows[r].delayMs == 0 && rows[r].capBytesPerSec == 0)
            std::printf("\nD 0: the grab takes in %.1f MB/s of wanted bodies (MB = 10^6 bytes), the limit client %.1f MB/s\n",
                        double(corpus.wantedBytes) / 1e6 / median(pix[r][0]),
                        double(corpus.wantedBytes) / 1e6 / median(limit[r]));
    for (const QByteArray &n : notes)
        std::printf("NOTE %s\n", n.constData());
    return notes.isEmpty() ? 0 : 1;
}
