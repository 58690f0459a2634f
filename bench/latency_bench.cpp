// Grabbing over a slow link, against the local INN2 server
// (tests/inn/start_inn.sh). One group of 200 articles (100 text, 40 filtered
// by subject, 60 uuencoded pictures of about 100 KB) is walked
//  - through a proxy that holds every byte back D ms each way, by the main
//    window's headless grab and by the limit client: GROUP, one OVER for the
//    whole group, then every wanted BODY sent at once before any reply is
//    read, so the link's round trip is paid three times in all;
//  - directly, by the grab and by a client that sends one command at a time
//    (HEAD of every article, BODY of the wanted ones) and decodes nothing.
// Each figure is the median of a few runs, the runs taken in turn so a
// change in the machine's load falls on every figure alike.
//   latency_bench [--pipeline N[,N...]] [--runs N, default 5] [--delays 0,5,20]
//   latency_bench --grab-once [--pipeline N]
// --pipeline writes CONFIG PIPELINE into each run's settings; with several
// values each is timed in the same runs (e.g. 1,4). --grab-once
// makes one direct grab between two marks that a system call trace shows
// (failed opens of grab-begins and grab-ends; see settings_syscalls.sh) and
// prints the articles walked.
#include "DelayProxy.h"
#include "InnServer.h"
#include "RawNntpClient.h"
#include "TFrmMain.h"
#include "TestBodies.h"
#include "ZqIniFile.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kArticles = 200;
constexpr int kPictures = 60;
constexpr int kWanted = 160; // all but the filtered ones
const QByteArray kFilter = "spam";

QList<InnServer::Article> corpus()
{
    QList<InnServer::Article> articles;
    for (int i = 0; i < kArticles; ++i) {
        InnServer::Article a;
        const int kind = i % 10;
        if (kind == 3 || kind == 7) {
            a.subject = "Spam offer " + QByteArray::number(i);
            a.body = {"buy now"};
        } else if (kind == 1 || kind == 5 || kind == 8) {
            a.subject = "picture " + QByteArray::number(i);
            a.body = UuencodeFile("p" + QByteArray::number(i) + ".jpg", Noise(100000, quint32(i)));
        } else {
            a.subject = "words " + QByteArray::number(i);
            a.body = {"some text", "and more"};
        }
        articles << a;
    }
    return articles;
}

bool filtered(const QByteArray &subject) { return subject.toLower().contains(kFilter); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Marks a moment in a system call trace: the open fails, and strace logs it.
void traceMark(const QTemporaryDir &dir, const char *name)
{
    const int fd = ::open(QFile::encodeName(dir.filePath(QString::fromLatin1(name))).constData(), O_RDONLY);
    if (fd >= 0)
        ::close(fd);
}

// What the calling thread has spent on the processor (the grab runs on it;
// a proxy runs on its own).
double threadCpuSeconds()
{
    struct timespec ts;
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// For a profile of the grab alone: perf record -k CLOCK_MONOTONIC, then --time begin,end.
double monotonicSeconds()
{
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// One whole headless grab of the group by a fresh window with fresh
// settings, so every run walks the whole group; seconds inside Search All
// Groups, or -1 when it did not connect or did not save every picture.
double pixtrawlGrab(quint16 port, const QByteArray &group, std::optional<int> pipeline, bool marked = false,
                    double *cpu = nullptr)
{
    // Kept until the end: on ext4 a file made soon after many were deleted
    // costs a scan past each of them, which would time the last run's
    // clean-up rather than this run's grab.
    static std::vector<std::unique_ptr<QTemporaryDir>> kept;
    kept.push_back(std::make_unique<QTemporaryDir>());
    const QTemporaryDir &dir = *kept.back();
    SetProgramFilePathOverride(dir.filePath(QStringLiteral("pixtrawl")));
    QDir().mkpath(dir.filePath(QStringLiteral("out")));
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", port);
    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(dir.filePath(QStringLiteral("out/"))));
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    if (pipeline)
        IniWriteInteger("CONFIG", "PIPELINE", *pipeline);
    IniWriteString("FILTER", "EXCLUDE", kFilter + ',');
    IniWriteString("GROUPS", "LIST", group + ',');

    double seconds = -1;
    {
        TFrmMain w;
        if (!w.miConnectClick() || !QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 20000))
            return -1;
        if (marked)
            traceMark(dir, "grab-begins");
        if (marked)
            std::fprintf(stderr, "grab begins at %.6f (CLOCK_MONOTONIC)\n", monotonicSeconds());
        QElapsedTimer t;
        const double cpuBefore = threadCpuSeconds();
        t.start();
        w.miSearchAllGroups->trigger();
        seconds = t.nsecsElapsed() / 1e9;
        if (cpu)
            *cpu = threadCpuSeconds() - cpuBefore;
        if (marked) {
            std::fprintf(stderr, "grab ends at %.6f\n", monotonicSeconds());
            traceMark(dir, "grab-ends");
        }
        w.miDisconnectClick();
    }
    const int saved = QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::Files).size();
    if (saved != kPictures) {
        std::fprintf(stderr, "the grab saved %d pictures of %d\n", saved, kPictures);
        return -1;
    }
    return seconds;
}

// "211 count first last name": the first and last numbers; false when refused.
bool selectGroup(RawNntpClient &c, const QByteArray &group, qint64 &first, qint64 &last)
{
    const QList<QByteArray> f = c.Command("GROUP " + group).split(' ');
    if (f.size() < 4 || f[0] != "211")
        return false;
    first = f[2].toLongLong();
    last = f[3].toLongLong();
    return true;
}

// Reads one reply to BODY or HEAD: its status line and block.
bool readArticleReply(RawNntpClient &c, const char *code, QList<QByteArray> *lines)
{
    QByteArray status;
    return c.ReadLine(status) && status.startsWith(code) && c.ReadBlock(lines);
}

// The fewest round trips a grab can make: GROUP, one OVER, then every
// wanted BODY at once. Seconds after the greeting, or -1 on a failure.
double limitClient(quint16 port, const QByteArray &group)
{
    RawNntpClient c;
    if (!c.Connect(port))
        return -1;
    QElapsedTimer t;
    t.start();
    qint64 first = 0, last = 0;
    QList<QByteArray> overview;
    if (!selectGroup(c, group, first, last) ||
        !c.Command("OVER " + QByteArray::number(first) + '-' + QByteArray::number(last)).startsWith("224") ||
        !c.ReadBlock(&overview))
        return -1;
    QByteArray requests;
    int wanted = 0;
    for (const QByteArray &line : std::as_const(overview)) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() > 1 && !filtered(f[1])) {
            requests += "BODY " + f[0] + "\r\n";
            ++wanted;
        }
    }
    // A few KB of commands: the socket takes them all before any reply is read.
    if (!c.Send(requests))
        return -1;
    for (int i = 0; i < wanted; ++i)
        if (!readArticleReply(c, "222", nullptr))
            return -1;
    const double seconds = t.nsecsElapsed() / 1e9;
    c.Send("QUIT\r\n");
    return wanted == kWanted ? seconds : -1;
}

// One command at a time: HEAD of every article, BODY of the wanted ones,
// each reply read before the next command. Seconds after the greeting.
double oneAtATime(quint16 port, const QByteArray &group)
{
    RawNntpClient c;
    if (!c.Connect(port))
        return -1;
    QElapsedTimer t;
    t.start();
    qint64 first = 0, last = 0;
    if (!selectGroup(c, group, first, last))
        return -1;
    int bodies = 0;
    for (qint64 n = first; n <= last; ++n) {
        const QByteArray number = QByteArray::number(n);
        QList<QByteArray> head;
        if (!c.Send("HEAD " + number + "\r\n") || !readArticleReply(c, "221", &head))
            return -1;
        QByteArray subject;
        for (const QByteArray &h : std::as_const(head))
            if (h.toLower().startsWith("subject:"))
                subject = h.mid(8).trimmed();
        if (filtered(subject))
            continue;
        if (!c.Send("BODY " + number + "\r\n") || !readArticleReply(c, "222", nullptr))
            return -1;
        ++bodies;
    }
    const double seconds = t.nsecsElapsed() / 1e9;
    c.Send("QUIT\r\n");
    return bodies == kWanted ? seconds : -1;
}

} // namespace

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

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    // Unset: the program's own default.
    std::vector<std::optional<int>> pipelines{std::nullopt};
    int runs = 5;
    QList<int> delays{0, 5, 20};
    bool grabOnce = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString value = args.value(i + 1);
        const QList<int> numbers = numberList(value);
        if (args[i] == QLatin1String("--pipeline") && !numbers.isEmpty() && !numbers.contains(0)) {
            pipelines.assign(numbers.begin(), numbers.end());
            ++i;
        } else if (args[i] == QLatin1String("--runs") && numbers.size() == 1 && numbers[0] > 0) {
            runs = numbers[0];
            ++i;
        } else if (args[i] == QLatin1String("--delays") && !numbers.isEmpty()) {
            delays = numbers;
            ++i;
        } else if (args[i] == QLatin1String("--grab-once")) {
            grabOnce = true;
        } else {
            std::fprintf(stderr, "usage: latency_bench [--pipeline N[,N...]] [--runs N] [--delays 0,5,20]\n"
                                 "       latency_bench --grab-once [--pipeline N]\n");
            return 2;
        }
    }
    const quint16 inn = InnServer::Port();
    if (inn == 0) {
        std::fprintf(stderr, "no INN server: run tests/inn/start_inn.sh as root\n");
        return 1;
    }

    const QByteArray group = InnServer::UniqueGroupName("pixtrawl.latency");
    QList<InnServer::Article> articles = corpus();
    QString error;
    if (!InnServer::CreateGroupWithArticles(group, articles, &error)) {
        std::fprintf(stderr, "posting failed: %s\n", qPrintable(error));
        return 1;
    }

    if (grabOnce) {
        double cpu = 0;
        const double s = pixtrawlGrab(inn, group, pipelines.front(), true, &cpu);
        if (s < 0)
            return 1;
        std::printf("walked %d articles in %.2f s (%.2f s on the processor)\n", kArticles, s, cpu);
        return 0;
    }

    // pix[p][d]: Pixtrawl with pipelines[p] at delays[d]; the clients do not
    // depend on the setting.
    const size_t np = pipelines.size(), nd = size_t(delays.size());
    std::vector<std::vector<std::vector<double>>> pix(np, std::vector<std::vector<double>>(nd));
    std::vector<std::vector<double>> limit(nd), directPix(np);
    std::vector<double> directOne;
    for (int r = 0; r < runs; ++r) {
        for (size_t d = 0; d < nd; ++d) {
            DelayProxy proxy(inn, delays[d]);
            if (proxy.Port() == 0) {
                std::fprintf(stderr, "the proxy could not listen\n");
                return 1;
            }
            for (size_t p = 0; p < np; ++p)
                pix[p][d].push_back(pixtrawlGrab(proxy.Port(), group, pipelines[p]));
            limit[d].push_back(limitClient(proxy.Port(), group));
            for (size_t p = 0; p < np; ++p)
                if (pix[p][d].back() < 0 || limit[d].back() < 0) {
                    std::fprintf(stderr, "a run at %d ms failed\n", delays[d]);
                    return 1;
                }
        }
        for (size_t p = 0; p < np; ++p)
            directPix[p].push_back(pixtrawlGrab(inn, group, pipelines[p]));
        directOne.push_back(oneAtATime(inn, group));
        for (size_t p = 0; p < np; ++p)
            if (directPix[p].back() < 0 || directOne.back() < 0) {
                std::fprintf(stderr, "a direct run failed\n");
                return 1;
            }
    }

    auto name = [](const std::optional<int> &p) { return p ? QByteArray::number(*p) : QByteArray("unset"); };
    std::printf("%d articles (100 text, 40 filtered, 60 pictures of ~100 KB), median of %d runs\n", kArticles,
                runs);
    std::printf("%9s %6s %12s %10s %16s\n", "PIPELINE", "D ms", "Pixtrawl s", "limit s", "Pixtrawl/limit");
    for (size_t p = 0; p < np; ++p)
        for (size_t d = 0; d < nd; ++d) {
            const double x = median(pix[p][d]), l = median(limit[d]);
            std::printf("%9s %6d %12.3f %10.3f %16.2f\n", name(pipelines[p]).constData(), delays[d], x, l, x / l);
        }
    const double o = median(directOne);
    for (size_t p = 0; p < np; ++p) {
        const double x = median(directPix[p]);
        std::printf("direct, PIPELINE %s: Pixtrawl %.3f s, one at a time %.3f s, one-at-a-time/Pixtrawl %.2f "
                    "(goal >= 0.5)\n",
                    name(pipelines[p]).constData(), x, o, o / x);
    }
    return 0;
}
