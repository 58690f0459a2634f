#include "DelayProxy.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <deque>
#include <list>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    QByteArray data;
    qsizetype sent = 0;
};

// One direction of a connection: what was read from one side and waits to be
// written to the other.
struct Flow {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    qint64 queued = 0;           // bytes in the queue not yet written
    qint64 rate = 0;             // bytes per second written, 0: as fast as taken
    Clock::time_point paceAt{}; // when the rate allows the next write
    bool ended = false;    // the source closed its side
    bool shutDown = false; // and that close was passed on
    qsizetype polled = -1; // index of its source in the last wait, -1: not waited on
};

struct Link {
    Flow up;   // client to server
    Flow down; // server to client
};

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// INN writes a status line and its data separately; a delayed ACK from the
// proxy would hold the data back by the kernel's timer, not by the delay
// being measured. The kernel leaves quick-ACK mode on its own, so it is set
// again after every read.
void quickAck(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A fast server refills the socket as quickly as it is read: one read pass
// stops after this much, so the writes of the other links get their turn.
constexpr qint64 kPullPass = 262144;
// Past this much waiting in a flow, its source is not read (the sender is
// held back as by a full window); enough for a fast link's delay.
constexpr qint64 kMostQueued = qint64(16) << 20;

bool full(const Flow &f) { return f.queued >= kMostQueued; }

// Reads what has come; false when the connection failed.
bool pull(Flow &f, std::chrono::milliseconds delay)
{
    constexpr qsizetype kRead = 65536;
    for (qint64 pass = 0; !f.ended && pass < kPullPass && !full(f);) {
        QByteArray buffer(kRead, Qt::Uninitialized);
        const ssize_t n = ::recv(f.from, buffer.data(), size_t(buffer.size()), 0);
        if (n > 0) {
            quickAck(f.from);
            buffer.truncate(n);
            pass += n;
            f.queued += n;
            f.queue.push_back(Chunk{Clock::now() + delay, std::move(buffer)});
            // A short read emptied the socket: the next wait says when more came.
            if (n < kRead)
                break;
        } else if (n == 0) {
            f.ended = true;
        } else {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
    }
    return true;
}

// A paced flow writes at most this much at a time, so its bytes arrive
// spread out rather than in bursts the size of the reads.
constexpr qsizetype kSlice = 16384;

std::chrono::nanoseconds sendTime(qint64 bytes, qint64 rate)
{
    return std::chrono::nanoseconds(bytes * 1000000000 / rate);
}

// When the flow's first chunk may be written.
Clock::time_point readyAt(const Flow &f)
{
    return f.rate > 0 ? std::max(f.queue.front().due, f.paceAt) : f.queue.front().due;
}

// Writes what is due; false when the connection failed.
bool push(Flow &f)
{
    const auto now = Clock::now();
    while (!f.queue.empty() && readyAt(f) <= now) {
        Chunk &c = f.queue.front();
        const qsizetype left = c.data.size() - c.sent;
        const ssize_t n = ::send(f.to, c.data.constData() + c.sent, size_t(f.rate > 0 ? std::min(left, kSlice) : left),
                                 MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (f.rate > 0) {
            // A slice's worth of credit at most, so a late wake-up does not
            // lower the rate and an idle link does not save up a burst.
            f.paceAt = std::max(f.paceAt, now - sendTime(kSlice, f.rate)) + sendTime(n, f.rate);
        }
        c.sent += n;
        f.queued -= n;
        if (c.sent < c.data.size())
            return true;
        f.queue.pop_front();
    }
    if (f.ended && f.queue.empty() && !f.shutDown) {
        ::shutdown(f.to, SHUT_WR);
        f.shutDown = true;
    }
    return true;
}

} // namespace

DelayProxy::DelayProxy(quint16 targetPort, int delayMs, qint64 downBytesPerSec)
    : target_(targetPort), delayMs_(delayMs), downRate_(downBytesPerSec)
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&a), &len) != 0 ||
        ::pipe(wakeFds_) != 0)
        return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Loop(); });
}

DelayProxy::~DelayProxy()
{
    if (thread_.joinable()) {
        const char stop = 0;
        (void)::write(wakeFds_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : {listenFd_, wakeFds_[0], wakeFds_[1]})
        if (fd >= 0)
            ::close(fd);
}

void DelayProxy::Loop()
{
    const std::chrono::milliseconds delay(delayMs_);
    std::list<Link> links;
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{wakeFds_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}});
        auto wakeAt = Clock::time_point::max();
        for (Link &l : links) {
            for (Flow *f : {&l.up, &l.down}) {
                // A closed source is left out: it would report its hang-up
                // at once on every wait.
                f->polled = -1;
                if (!f->ended && !full(*f)) {
                    f->polled = qsizetype(fds.size());
                    fds.push_back({f->from, POLLIN, 0});
                }
                if (!f->queue.empty()) {
                    if (readyAt(*f) <= Clock::now())
                        fds.push_back({f->to, POLLOUT, 0});
                    else
                        wakeAt = std::min(wakeAt, readyAt(*f));
                }
            }
        }
        timespec timeout{};
        timespec *wait = nullptr;
        if (wakeAt != Clock::time_point::max()) {
            const auto ns = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::nanoseconds>(wakeAt - Clock::now()).count());
            timeout.tv_sec = time_t(ns / 1000000000);
            timeout.tv_nsec = long(ns % 1000000000);
            wait = &timeout;
        }
        if (::ppoll(fds.data(), fds.size(), wait, nullptr) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            const int client = ::accept(listenFd_, nullptr, nullptr);
            const int server = client < 0 ? -1 : ::socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in a = loopback(target_);
            if (server >= 0 && ::connect(server, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0) {
                setNonBlocking(client);
                setNonBlocking(server);
                Link &l = links.emplace_back();
                l.up.from = l.down.to = client;
                l.up.to = l.down.from = server;
                l.down.rate = downRate_;
            } else {
                for (int fd : {client, server})
                    if (fd >= 0)
                        ::close(fd);
            }
        }
        // Only sources the wait found readable are read: a read that finds
        // nothing still costs a system call, and with eight links those
        // took processor time from the client being measured. Writes make
        // no call unless something is due.
        const auto readable = [&](const Flow &f) { return f.polled >= 0 && fds[size_t(f.polled)].revents != 0; };
        for (auto it = links.begin(); it != links.end();) {
            Link &l = *it;
            const bool broken = (readable(l.up) && !pull(l.up, delay)) || (readable(l.down) && !pull(l.down, delay)) ||
                                !push(l.up) || !push(l.down);
            if (broken || (l.up.shutDown && l.down.shutDown)) {
                ::close(l.up.from);
                ::close(l.up.to);
                it = links.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Link &l : links) {
        ::close(l.up.from);
        ::close(l.up.to);
    }
}
