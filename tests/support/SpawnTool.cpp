#include "SpawnTool.h"

#include <QDeadlineTimer>
#include <QFile>

#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

ToolResult SpawnTool(const QString &program, const QStringList &args, const QByteArray &input, int timeoutMs)
{
    ToolResult result;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return result;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, in[0], 0);
    posix_spawn_file_actions_adddup2(&files, out[1], 1);
    posix_spawn_file_actions_adddup2(&files, err[1], 2);
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString &a : args)
        words.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
        for (int fd : {in[1], out[0], err[0]})
            ::close(fd);
        return result;
    }

    // Feeding and draining together: a tool may fill its output before it
    // has read all of its input.
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    int fds[3] = {input.isEmpty() ? -1 : in[1], out[0], err[0]};
    if (fds[0] < 0)
        ::close(in[1]);
    qsizetype written = 0;
    const QDeadlineTimer deadline(timeoutMs);
    bool timedOut = false;
    while (fds[1] >= 0 || fds[2] >= 0) {
        pollfd p[3];
        int n = 0;
        for (int i = 0; i < 3; ++i)
            if (fds[i] >= 0)
                p[n++] = {fds[i], short(i == 0 ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(p, nfds_t(n), int(qMax<qint64>(0, deadline.remainingTime())));
        if (ready == 0) {
            timedOut = true;
            break;
        }
        if (ready < 0)
            continue;
        for (int k = 0; k < n; ++k) {
            if (!p[k].revents)
                continue;
            const int i = p[k].fd == fds[0] ? 0 : p[k].fd == fds[1] ? 1 : 2;
            if (i == 0) {
                const ssize_t w = ::write(fds[0], input.constData() + written, size_t(input.size() - written));
                if (w > 0)
                    written += w;
                if (w < 0 || written == input.size()) {
                    ::close(fds[0]);
                    fds[0] = -1;
                }
                continue;
            }
            char buffer[65536];
            const ssize_t r = ::read(fds[i], buffer, sizeof buffer);
            if (r > 0) {
                (i == 1 ? result.out : result.err).append(buffer, r);
            } else {
                ::close(fds[i]);
                fds[i] = -1;
            }
        }
    }
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.finished = !timedOut && WIFEXITED(status);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
