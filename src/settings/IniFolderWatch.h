#pragma once
#include <QByteArray>
#include <QString>

// Says whether anything may have happened to the settings file since the
// last look, from the folder's inotify queue: one read of a queue that is
// empty costs far less than looking the path up, which every read did.
// Only where the kernel sees every change (local file systems, the file
// itself and not a link to it); elsewhere every read looks at the file.
class IniFolderWatch {
public:
    IniFolderWatch() = default;
    IniFolderWatch(const IniFolderWatch &) = delete;
    IniFolderWatch &operator=(const IniFolderWatch &) = delete;
    ~IniFolderWatch() { Close(); }

    // False when the file may have changed, or when nothing is watched.
    bool Quiet(const QString &path);
    // After this program's own write, so its events do not cost a look; a
    // folder that was missing may exist now.
    void Forget();
    void Reset() { path_.clear(); }
    // A file system where every change made on this machine passes through
    // the kernel (and a write's error shows at the write, not at close).
    static bool LocalFileSystem(long type);

private:
    void Close();
    void Open(const QString &path);
    bool Drain(bool ours);

    QString path_;
    QByteArray name_;
    int fd_ = -1;
    bool unwatchable_ = false;
};
