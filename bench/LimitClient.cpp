#include "LimitClient.h"

#include "RawNntpClient.h"

#include <QElapsedTimer>
#include <QList>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>

namespace {

// Counts whole replies in what one connection receives without cutting it
// into lines: a status line, and for 222 the block up to its "." line.
struct ReplyCounter {
    QByteArray buffer;
    qsizetype pos = 0;
    qsizetype scanFrom = 0; // where the search for the block's end goes on
    bool inBlock = false;
    bool groupFirst = false; // a GROUP reply comes before the bodies
    int left = 0;            // replies still to come
    qint64 bytes = 0;

    // Takes up what has come; false on a reply that is not the one expected.
    bool Take(int &bodies)
    {
        for (;;) {
            if (!inBlock) {
                const char *nl = static_cast<const char *>(
                    std::memchr(buffer.constData() + pos, '\n', size_t(buffer.size() - pos)));
                if (!nl)
                    break;
                const qsizetype end = nl - buffer.constData() + 1;
                const char *status = buffer.constData() + pos;
                if (groupFirst) {
                    if (std::strncmp(status, "211", 3) != 0)
                        return false;
                    groupFirst = false;
                    pos = end;
                    continue;
                }
                if (std::strncmp(status, "222", 3) != 0)
                    return false;
                bytes += end - pos;
                pos = end;
                inBlock = true;
                scanFrom = pos - 2; // the status line's CR LF starts the end mark of an empty block
            }
            static const char mark[] = "\r\n.\r\n";
            const void *hit = ::memmem(buffer.constData() + scanFrom, size_t(buffer.size() - scanFrom), mark, 5);
            if (!hit) {
                scanFrom = qMax(pos - 2, buffer.size() - 4);
                break;
            }
            const qsizetype end = static_cast<const char *>(hit) - buffer.constData() + 5;
            bytes += end - pos;
            pos = end;
            inBlock = false;
            --left;
            ++bodies;
        }
        // What was taken goes once it is much, or all of it; a block's end
        // mark may start with the CR LF before pos.
        const qsizetype cut = inBlock ? qMax<qsizetype>(0, pos - 2) : pos;
        if (pos == buffer.size() || cut > (qsizetype(1) << 20)) {
            buffer.remove(0, cut);
            scanFrom -= cut;
            pos -= cut;
        }
        return true;
    }
};

} // namespace

LimitRun RunLimitClient(quint16 port, const QByteArray &group, int connections,
                        const std::function<bool(const QByteArray &subject)> &filtered)
{
    LimitRun run;
    std::vector<std::unique_ptr<RawNntpClient>> c;
    for (int i = 0; i < connections; ++i)
        c.push_back(std::make_unique<RawNntpClient>());
    if (!c[0]->Connect(port))
        return run;
    QElapsedTimer t;
    t.start();
    std::atomic<bool> openFailed{false};
    std::vector<std::thread> openers;
    for (int i = 1; i < connections; ++i)
        openers.emplace_back([&, i] {
            if (!c[size_t(i)]->Connect(port))
                openFailed = true;
        });

    const QList<QByteArray> g = c[0]->Command("GROUP " + group).split(' ');
    QList<QByteArray> overview;
    const bool listed = g.size() >= 4 && g[0] == "211" &&
        c[0]->Command("OVER " + g[2] + '-' + g[3]).startsWith("224") && c[0]->ReadBlock(&overview);
    for (std::thread &o : openers)
        o.join();
    if (!listed || openFailed)
        return run;

    const size_t n = size_t(connections);
    std::vector<QByteArray> requests(n);
    std::vector<ReplyCounter> counters(n);
    for (size_t i = 1; i < n; ++i) {
        requests[i] = "GROUP " + group + "\r\n";
        counters[i].groupFirst = true;
    }
    int wanted = 0;
    for (const QByteArray &line : std::as_const(overview)) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() > 1 && !filtered(f[1])) {
            const size_t to = size_t(wanted) % n;
            requests[to] += "BODY " + f[0] + "\r\n";
            ++counters[to].left;
            ++wanted;
        }
    }
    // A few KB of commands per connection: each socket takes them all before
    // any reply is read.
    for (size_t i = 0; i < n; ++i) {
        counters[i].buffer = c[i]->TakeBuffered();
        if (!c[i]->Send(requests[i]) || !counters[i].Take(run.bodies))
            return run;
    }

    std::vector<pollfd> fds;
    std::vector<size_t> which;
    for (;;) {
        fds.clear();
        which.clear();
        for (size_t i = 0; i < n; ++i)
            if (counters[i].left > 0) {
                fds.push_back({c[i]->Socket(), POLLIN, 0});
                which.push_back(i);
            }
        if (fds.empty())
            break;
        if (::poll(fds.data(), fds.size(), 60000) <= 0)
            return run;
        for (size_t k = 0; k < fds.size(); ++k) {
            if (!fds[k].revents)
                continue;
            ReplyCounter &r = counters[which[k]];
            const qsizetype old = r.buffer.size();
            r.buffer.resize(old + 262144);
            const ssize_t got = ::recv(fds[k].fd, r.buffer.data() + old, 262144, 0);
            r.buffer.resize(old + qMax<ssize_t>(got, 0));
            if (got <= 0 || !r.Take(run.bodies))
                return run;
        }
    }
    run.seconds = t.nsecsElapsed() / 1e9;
    for (size_t i = 0; i < n; ++i) {
        run.bytes += counters[i].bytes;
        c[i]->Send("QUIT\r\n");
    }
    return run;
}
