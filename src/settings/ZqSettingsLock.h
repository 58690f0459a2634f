#pragma once
#include <QLockFile>
#include <QString>

#include <memory>

// One running copy per settings folder: two copies on the same settings
// would both grab and save every picture twice.
class ZqSettingsLock {
public:
    static constexpr const char *AlreadyRunning = "Pixtrawl is already running with these settings.";

    // Takes the lock in the folder of settingsFile; false when another live
    // process holds it. A lock left by a dead process is taken over.
    bool Acquire(const QString &settingsFile);
    bool Held() const { return lock_ && lock_->isLocked(); }

private:
    std::unique_ptr<QLockFile> lock_;
};
