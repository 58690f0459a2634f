#include "ZqSettingsLock.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SettingsLock : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString ini() const { return tmp.filePath("pixtrawl.ini"); }
    void write(const QString &name, const QByteArray &data) const
    {
        QFile f(tmp.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
};

TEST_F(SettingsLock, OneHolderPerSettingsFolder)
{
    auto first = std::make_unique<ZqSettingsLock>();
    ASSERT_TRUE(first->Acquire(ini()));
    ZqSettingsLock second;
    EXPECT_FALSE(second.Acquire(ini()));
    EXPECT_FALSE(second.Held());
    first.reset();
    EXPECT_TRUE(second.Acquire(ini()));
}

TEST_F(SettingsLock, LockOfADeadProcessIsTakenOver)
{
    // QLockFile's own format: process id, application name, host name.
    write("pixtrawl.lock", "2147483000\npixtrawl\n" + QHostInfo::localHostName().toUtf8() + "\n");
    ZqSettingsLock lock;
    EXPECT_TRUE(lock.Acquire(ini()));
    EXPECT_TRUE(lock.Held());
}

} // namespace
