#include "ZqSettingsLock.h"

#include <QDir>
#include <QFileInfo>

bool ZqSettingsLock::Acquire(const QString &settingsFile)
{
    const QFileInfo info(settingsFile);
    QDir().mkpath(info.absolutePath());
    lock_ = std::make_unique<QLockFile>(info.absolutePath() + QStringLiteral("/pixtrawl.lock"));
    // Never stale by age: a grab runs for days. A dead owner is found by its process id.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        lock_.reset();
        return false;
    }
    return true;
}
