#include "ZqPasswordStore.h"

#include "ZqIniFile.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {
const QString kService = QStringLiteral("Pixtrawl");

QString KeyFor(const QByteArray &user, const QByteArray &host)
{
    return QString::fromUtf8(user + '@' + host);
}

// Runs a keyring job to its end (or the time-out) inside the event loop.
bool RunJob(QKeychain::Job *job, QByteArray *read = nullptr)
{
    job->setAutoDelete(true);
    QEventLoop loop;
    bool ok = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *done) {
        ok = done->error() == QKeychain::NoError;
        if (ok && read)
            *read = static_cast<QKeychain::ReadPasswordJob *>(done)->binaryData();
        loop.quit();
    });
    QTimer::singleShot(KeyringTimeoutMs, &loop, &QEventLoop::quit);
    job->start();
    loop.exec();
    return ok;
}

void KeepFilePrivate()
{
    QFile::setPermissions(SettingsFilePath(), QFile::ReadOwner | QFile::WriteOwner);
}
} // namespace

QByteArray LoadPassword(const QByteArray &user, const QByteArray &host)
{
    const QByteArray typed = IniReadString("CONFIG", "PASSWORD", QByteArray());
    if (!typed.isEmpty() || user.isEmpty())
        return typed;
    auto *job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(KeyFor(user, host));
    QByteArray secret;
    RunJob(job, &secret);
    return secret;
}

bool StorePassword(const QByteArray &user, const QByteArray &host, const QByteArray &password)
{
    const bool inFile = !IniReadString("CONFIG", "PASSWORD", QByteArray()).isEmpty();
    if (password.isEmpty()) {
        if (!user.isEmpty()) {
            auto *job = new QKeychain::DeletePasswordJob(kService);
            job->setKey(KeyFor(user, host));
            RunJob(job);
        }
        if (inFile)
            IniWriteString("CONFIG", "PASSWORD", QByteArray());
        return false;
    }
    auto *job = new QKeychain::WritePasswordJob(kService);
    job->setKey(KeyFor(user, host));
    job->setBinaryData(password);
    if (!user.isEmpty() && RunJob(job)) {
        if (inFile)
            IniWriteString("CONFIG", "PASSWORD", QByteArray());
        return true;
    }
    // No secret service: the file, readable by its owner only, before the
    // password is in it.
    if (!QFile::exists(SettingsFilePath()))
        IniWriteString("CONFIG", "PASSWORD", QByteArray());
    KeepFilePrivate();
    IniWriteString("CONFIG", "PASSWORD", password);
    return false;
}
