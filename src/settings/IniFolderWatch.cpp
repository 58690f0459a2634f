#include "IniFolderWatch.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

bool IniFolderWatch::Quiet(const QString &path)
{
    if (path != path_) {
        Open(path);
        return false; // what was read before the watch began is unproven
    }
    return fd_ >= 0 && Drain(false);
}

void IniFolderWatch::Forget()
{
    if (fd_ >= 0)
        Drain(true);
    else if (!unwatchable_)
        path_.clear();
}

void IniFolderWatch::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void IniFolderWatch::Open(const QString &path)
{
    Close();
    path_ = path;
    unwatchable_ = false;
    const QFileInfo info(path);
    name_ = QFile::encodeName(info.fileName());
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    struct stat link;
    struct statfs fs;
    if (::lstat(QFile::encodeName(path).constData(), &link) == 0 && !S_ISREG(link.st_mode)) {
        unwatchable_ = true; // a link: its target changes where nobody watches
        return;
    }
    if (::statfs(dir.constData(), &fs) != 0)
        return; // no folder yet
    if (!LocalFileSystem(fs.f_type)) {
        unwatchable_ = true;
        return;
    }
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        unwatchable_ = true; // out of instances: look every time
        return;
    }
    const uint32_t mask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM
                          | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (::inotify_add_watch(fd_, dir.constData(), mask) < 0)
        Close();
}

bool IniFolderWatch::LocalFileSystem(long type)
{
    // ext2-4, tmpfs, btrfs, xfs, f2fs, overlay: changes made on this
    // machine all pass through the kernel that reports them.
    static const long local[] = {0xEF53, 0x01021994, 0x9123683E, 0x58465342, 0xF2F52010, 0x794C7630};
    for (long t : local)
        if (type == t)
            return true;
    return false;
}

// Empties the queue; false when an event touched the file or the folder.
// A new file under the name that is not our own may be a link.
bool IniFolderWatch::Drain(bool ours)
{
    bool quiet = true, folder = false;
    alignas(struct inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + ssize_t(sizeof(struct inotify_event)) <= n;) {
            const auto *e = reinterpret_cast<const struct inotify_event *>(buffer + at);
            if (e->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))
                folder = true;
            else if (e->len > 0 && qstrcmp(e->name, name_.constData()) == 0) {
                quiet = false;
                folder = folder || (!ours && (e->mask & (IN_CREATE | IN_MOVED_TO)));
            }
            at += ssize_t(sizeof(struct inotify_event)) + e->len;
        }
        // Room was left for another event: the queue was empty just now,
        // as good as the empty read that would follow.
        if (n + ssize_t(sizeof(struct inotify_event)) + NAME_MAX + 1 <= ssize_t(sizeof buffer))
            break;
    }
    if (folder)
        Reset(); // looked at afresh at the next read
    return quiet && !folder;
}
