// What a user waits for: the built pixtrawl started as a new process, with
// fresh settings (its own HOME and XDG folders), walking the latency_bench
// group (LatencyCorpus.h, 66 MB of wanted bodies) from the local INN2 server
// (tests/inn/start_inn.sh) through the delay proxy (DelayProxy.h). Timed
// from just before the exec to the moment the settings file shows the
// group's last article done, then the process is sent SIGTERM:
//  - window: pixtrawl on the offscreen platform, preview on, AUTO_START=Y
//    (connect and search all groups at the window's first activation);
//  - --grab: the same settings, without a window.
// Every run's pictures are compared with the ones posted. Rows, each
// against the limit client (LimitClient.h) in the same round, taken in
// turn (limit, window, --grab, old window, old --grab) so a change in the
// machine's load falls on every figure alike; medians of --runs rounds:
//   1  D 0, no cap:            defaults       against the limit on 1 connection
//   2  D 20 ms, no cap:        defaults       against the limit on 1 connection
//   3  D 25 ms, 4 MB/s a link: CONNECTIONS 8  against the limit on 8 connections
//   user_run_bench [--runs N, default 7] [--rows 1,2,3] [--group NAME] [--new PIXTRAWL] [--old PIXTRAWL]
// --group walks a group an earlier run posted (it prints the name). --new
// defaults to the pixtrawl of this build. --old times a second build side
// by side, for the throughput of wanted bodies, new/old; build it with
//   git worktree add /tmp/pixtrawl-old <commit>
//   cmake -S /tmp/pixtrawl-old -B /tmp/pixtrawl-old/build -G Ninja
//         -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIXTRAWL_TESTS=OFF
//   nice -n 19 ninja -C /tmp/pixtrawl-old/build pixtrawl
// and pass --old /tmp/pixtrawl-old/build/src/app/pixtrawl.
// USER_RUN_BENCH_CONFIG="KEY=VALUE;..." adds settings to every run. Before the first
// and after the last round a fixed integer loop is timed on each core: on a
// shared host a slow core shows there. Each run's folder (settings, log,
// about 66 MB of pictures) stays under TMPDIR until the end, as in
// latency_bench: files made soon after many deletions cost more on ext4.
#include "DelayProxy.h"
#include "InnServer.h"
#include "LatencyCorpus.h"
#include "LimitClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

struct Row {
    int number, delayMs;
    qint64 capBytesPerSec; // 0: none
    int connections;       // the limit client's; pixtrawl's CONNECTIONS unless 1
};

struct Run {
    double seconds = -1; // -1: the pointer never showed the last article done
    bool killed = false; // still there 20 s after SIGTERM
    LatencyCorpus::Saved saved;
    QByteArray log;
};

// The group's value in [GROUPS] as the program reads it: first entry wins.
QByteArray pointerIn(const QString &settings, const QByteArray &group)
{
    QFile f(settings);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    bool inGroups = false;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inGroups = line.compare("[GROUPS]", Qt::CaseInsensitive) == 0;
        } else if (const qsizetype eq = line.indexOf('='); inGroups && eq > 0 &&
                   line.left(eq).trimmed().compare(group, Qt::CaseInsensitive) == 0) {
            return line.mid(eq + 1).trimmed();
        }
    }
    return {};
}

// USER_RUN_BENCH_CONFIG="KEY=VALUE;..." adds to every run's [CONFIG]
// (COMPRESS=N, say, to time both builds without compression).
QByteArray extraConfig()
{
    QByteArray lines = qgetenv("USER_RUN_BENCH_CONFIG");
    lines.replace(';', '\n');
    return lines.isEmpty() || lines.endsWith('\n') ? lines : lines + '\n';
}

// One run of a pixtrawl executable in a folder of its own.
Run runProgram(const QString &exe, bool grab, quint16 port, const Row &row, const QByteArray &group,
               const QByteArray &lastPointer, const LatencyCorpus &corpus)
{
    static std::vector<std::unique_ptr<QTemporaryDir>> kept;
    kept.push_back(std::make_unique<QTemporaryDir>());
    const QString root = kept.back()->path();
    const QString home = root + QStringLiteral("/home"), out = root + QStringLiteral("/out/"),
                  runtime = root + QStringLiteral("/runtime"),
                  settings = home + QStringLiteral("/.config/pixtrawl/pixtrawl.ini");
    for (const QString &dir : {QFileInfo(settings).path(), out, runtime})
        QDir().mkpath(dir);
    QFile(runtime).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile ini(settings);
    if (!ini.open(QIODevice::WriteOnly))
        return {};
    ini.write("[CONFIG]\nHOST=127.0.0.1\nPORT=" + QByteArray::number(port) + "\nOUTPUT_DIR=" + QFile::encodeName(out) +
              "\nEXIT_PROMPT=N\nPREVIEW=Y\nAUTO_START=Y\n" + extraConfig() +
              (row.connections > 1 ? "CONNECTIONS=" + QByteArray::number(row.connections) + '\n' : QByteArray()) +
              "[FILTER]\nEXCLUDE=" + LatencyCorpus::Filter + ",\n[GROUPS]\nLIST=" + group + ",\n");
    ini.close();

    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e) {
        const QByteArray v(*e);
        if (!v.startsWith("HOME=") && !v.startsWith("XDG_") && !v.startsWith("QT_QPA_PLATFORM="))
            env.push_back(v);
    }
    const QByteArray h = QFile::encodeName(home);
    for (const QByteArray &v : {"HOME=" + h, "XDG_CONFIG_HOME=" + h + "/.config", "XDG_DATA_HOME=" + h + "/.local/share",
                                "XDG_CACHE_HOME=" + h + "/.cache", "XDG_STATE_HOME=" + h + "/.local/state",
                                "XDG_RUNTIME_DIR=" + QFile::encodeName(runtime), QByteArray("QT_QPA_PLATFORM=offscreen")})
        env.push_back(v);
    std::vector<char *> envp, argv;
    for (QByteArray &v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    QByteArray program = QFile::encodeName(exe), grabOption("--grab");
    argv.push_back(program.data());
    if (grab)
        argv.push_back(grabOption.data());
    argv.push_back(nullptr);
    const QByteArray logPath = QFile::encodeName(root + QStringLiteral("/log"));
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);

    Run r;
    pid_t pid = 0;
    const Clock::time_point start = Clock::now();
    const int spawned = posix_spawn(&pid, program.constData(), &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        r.log = "cannot start " + program;
        return r;
    }
    bool exited = false;
    while (secondsSince(start) < 600) {
        // Looked at before waitpid, so a --grab that ends at once is not missed.
        if (pointerIn(settings, group) == lastPointer) {
            r.seconds = secondsSince(start);
            break;
        }
        if (exited)
            break;
        int status;
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!exited)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!exited) {
        ::kill(pid, SIGTERM);
        const Clock::time_point asked = Clock::now();
        int status;
        while (::waitpid(pid, &status, WNOHANG) != pid) {
            if (!r.killed && secondsSince(asked) > 20)
                r.killed = ::kill(pid, SIGKILL) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    QFile log(QFile::decodeName(logPath));
    if (log.open(QIODevice::ReadOnly))
        r.log = log.readAll().right(2000);
    r.saved = corpus.Check(out);
    return r;
}

volatile std::uint64_t loopSink; // keeps the loop from being left out

// A fixed integer loop, pinned to each core in turn: each core's number and
// the median of three times, in ms.
std::vector<std::pair<int, double>> coreLoops()
{
    cpu_set_t allowed;
    std::vector<std::pair<int, double>> ms;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return ms;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed))
            continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        ::sched_setaffinity(0, sizeof one, &one);
        std::vector<double> times;
        for (int k = 0; k < 3; ++k) {
            const Clock::time_point t = Clock::now();
            std::uint64_t x = 88172645463325252u;
            for (int i = 0; i < 30000000; ++i) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
            }
            loopSink = x;
            times.push_back(secondsSince(t) * 1e3);
        }
        ms.push_back({cpu, median(times)});
    }
    ::sched_setaffinity(0, sizeof allowed, &allowed);
    return ms;
}

QList<int> numberList(const QString &text)
{
    QList<int> values;
    for (const QString &v : text.split(',')) {
        bool ok = false;
        values << v.toInt(&ok);
        if (!ok || values.back() < 0)
            return {};
    }
    return values;
}

QByteArray seconds(double s) { return s < 0 ? QByteArray("-") : QByteArray::number(s, 'f', 3) + " s"; }
QByteArray ratio(double a, double b) { return a < 0 || b <= 0 ? QByteArray("-") : QByteArray::number(a / b, 'f', 2); }

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int runs = 7;
    QList<int> rowNumbers{1, 2, 3};
    QByteArray reuse;
    QString newExe = QStringLiteral(PIXTRAWL_EXE), oldExe;
    for (int i = 1; i < args.size(); ++i) {
        const QList<int> numbers = numberList(args.value(i + 1));
        if (args[i] == QLatin1String("--runs") && numbers.size() == 1 && numbers[0] > 0) {
            runs = numbers[0];
            ++i;
        } else if (args[i] == QLatin1String("--rows") && !numbers.isEmpty() &&
                   std::all_of(numbers.begin(), numbers.end(), [](int r) { return r >= 1 && r <= 3; })) {
            rowNumbers = numbers;
            ++i;
        } else if (args[i] == QLatin1String("--group") && i + 1 < args.size()) {
            reuse = args[++i].toLatin1();
        } else if (args[i] == QLatin1String("--new") && i + 1 < args.size()) {
            newExe = args[++i];
        } else if (args[i] == QLatin1String("--old") && i + 1 < args.size()) {
            oldExe = args[++i];
        } else {
            std::fprintf(stderr, "usage: user_run_bench [--runs N] [--rows 1,2,3] [--group NAME] [--new PIXTRAWL] "
                                 "[--old PIXTRAWL]\n");
            return 2;
        }
    }
    for (const QString &exe : {newExe, oldExe}) {
        if (!exe.isEmpty() && !QFileInfo(exe).isExecutable()) {
            std::fprintf(stderr, "%s is not a program\n", qPrintable(exe));
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

    std::vector<Row> rows;
    for (int r : rowNumbers)
        rows.push_back(r == 1 ? Row{1, 0, 0, 1} : r == 2 ? Row{2, 20, 0, 1} : Row{3, 25, 4000000, 8});
    // Programs in the order each round runs them.
    struct Program {
        const char *name;
        QString exe;
        bool grab;
    };
    std::vector<Program> programs{{"window", newExe, false}, {"--grab", newExe, true}};
    if (!oldExe.isEmpty())
        programs.insert(programs.end(), {{"old window", oldExe, false}, {"old --grab", oldExe, true}});

    const auto loopsBefore = coreLoops();
    // times[row][0] the limit's, [row][1 + program] each program's.
    std::vector<std::vector<std::vector<double>>> times(rows.size(), std::vector<std::vector<double>>(programs.size() + 1));
    QList<QByteArray> notes;
    for (int round = 0; round < runs; ++round) {
        for (size_t r = 0; r < rows.size(); ++r) {
            const Row &row = rows[r];
            DelayProxy proxy(inn, row.delayMs, row.capBytesPerSec);
            if (proxy.Port() == 0) {
                std::fprintf(stderr, "the proxy could not listen\n");
                return 1;
            }
            const LimitRun l = RunLimitClient(proxy.Port(), group, row.connections, LatencyCorpus::Filtered);
            if (l.seconds < 0 || l.bodies != corpus.wanted) {
                std::fprintf(stderr, "the limit client failed in row %d (%d bodies)\n", row.number, l.bodies);
                return 1;
            }
            times[r][0].push_back(l.seconds);
            for (size_t p = 0; p < programs.size(); ++p) {
                const Run run = runProgram(programs[p].exe, programs[p].grab, proxy.Port(), row, group, lastPointer, corpus);
                if (run.seconds >= 0)
                    times[r][p + 1].push_back(run.seconds);
                if (run.killed)
                    notes << "round " + QByteArray::number(round + 1) + " row " + QByteArray::number(row.number) + ' ' +
                            programs[p].name + ": killed, still running 20 s after SIGTERM";
                if (run.seconds < 0 || !run.saved.Intact())
                    notes << "round " + QByteArray::number(round + 1) + " row " + QByteArray::number(row.number) + ' ' +
                            programs[p].name + ": " + QByteArray::number(run.saved.files) + " files saved, " +
                            QByteArray::number(run.saved.wrong) + " not as posted, " +
                            QByteArray::number(run.saved.missing) + " missing" +
                            (run.seconds < 0 ? "; the pointer never showed the last article done" : "") +
                            "\n  its output: " + run.log.trimmed().replace('\n', "\n  ");
                if (qEnvironmentVariableIsSet("USER_RUN_BENCH_EACH"))
                    std::fprintf(stderr, "round %d row %d %s: %s\n", round + 1, row.number, programs[p].name,
                                 seconds(run.seconds).constData());
            }
        }
    }
    const auto loopsAfter = coreLoops();

    const double mb = double(corpus.wantedBytes) / 1e6;
    std::printf("%d articles in %s: %d wanted, %.1f MB of wanted bodies; median of %d rounds\n", LatencyCorpus::Articles,
                group.constData(), corpus.wanted, mb, runs);
    std::printf("new: %s\n", qPrintable(newExe));
    if (!oldExe.isEmpty())
        std::printf("old: %s\n", qPrintable(oldExe));
    std::printf("\n| row | D | cap | connections | limit | window | /limit | --grab | /limit | old window | old --grab |"
                " MB/s window new/old | MB/s --grab new/old |\n|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (size_t r = 0; r < rows.size(); ++r) {
        std::vector<double> m;
        for (const auto &t : times[r])
            m.push_back(median(t));
        m.resize(5, -1);
        const auto throughput = [&](double newer, double older) {
            if (newer <= 0 || older <= 0)
                return QByteArray("-");
            return QByteArray::number(mb / newer, 'f', 1) + " / " + QByteArray::number(mb / older, 'f', 1) + " = " +
                ratio(older, newer);
        };
        std::printf("| %d | %d ms | %s | %d | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", rows[r].number,
                    rows[r].delayMs,
                    rows[r].capBytesPerSec ? (QByteArray::number(double(rows[r].capBytesPerSec) / 1e6) + " MB/s a link").constData() : "none",
                    rows[r].connections, seconds(m[0]).constData(), seconds(m[1]).constData(), ratio(m[1], m[0]).constData(),
                    seconds(m[2]).constData(), ratio(m[2], m[0]).constData(), seconds(m[3]).constData(),
                    seconds(m[4]).constData(), throughput(m[1], m[3]).constData(), throughput(m[2], m[4]).constData());
    }
    double best = 1e30;
    for (const auto &[cpu, ms] : loopsBefore)
        best = std::min(best, ms);
    for (const auto &[cpu, ms] : loopsAfter)
        best = std::min(best, ms);
    for (const auto &[when, loops] : {std::pair{"before", &loopsBefore}, std::pair{"after", &loopsAfter}}) {
        std::printf("\nfixed loop %s:", when);
        for (const auto &[cpu, ms] : *loops)
            std::printf(" core %d %.1f ms (%.0f%% of the best)", cpu, ms, 100 * best / ms);
    }
    std::printf("\n");
    for (const QByteArray &n : notes)
        std::printf("NOTE %s\n", n.constData());
    return notes.isEmpty() ? 0 : 1;
}
