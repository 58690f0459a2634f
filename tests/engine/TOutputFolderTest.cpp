#include "TOutputFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

// A temporary is removed when its writer is gone (or, without a writer's
// mark, once it is an hour old); a live writer's is left alone, and so is
// everything else in the folder.
TEST(OutputFolder, StaleTemporariesOfDeadWritersGo)
{
    QTemporaryDir tmp;
    const QString dir = tmp.path() + QLatin1Char('/');
    const auto make = [&](const QString &name, int ageSeconds) {
        QFile f(dir + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.flush();
        f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
    };
    make(QStringLiteral(".pixtrawl-999999999-a1"), 0);                              // no such process
    make(QStringLiteral(".pixtrawl-%1-b2").arg(::getpid()), 7200);                   // alive: this test
    make(QStringLiteral(".pixtrawl-oldstyle"), 7200);                                // unmarked and old
    make(QStringLiteral(".pixtrawl-recent"), 0);                                     // unmarked and new
    make(QStringLiteral("picture.jpg"), 7200);
    EXPECT_EQ(TOutputFolder::RemoveStaleTemporaries(QFile::encodeName(dir)), 2);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{QStringLiteral(".pixtrawl-%1-b2").arg(::getpid()), QStringLiteral(".pixtrawl-recent"),
                           QStringLiteral("picture.jpg")}));
}

// What a write leaves: the picture under its name and no temporary.
TEST(OutputFolder, AWriteLeavesOnlyThePicture)
{
    QTemporaryDir tmp;
    const QByteArray path = QFile::encodeName(tmp.path()) + "/p.jpg";
    EXPECT_EQ(TOutputFolder::WriteReplacing(path, "bytes"), 0);
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("p.jpg")});
    EXPECT_NE(TOutputFolder::WriteReplacing(QFile::encodeName(tmp.path()) + "/missing/p.jpg", "x"), 0);
}
