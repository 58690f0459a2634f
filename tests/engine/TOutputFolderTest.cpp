#include "TOutputFolder.h"

#include "TArticleDisposition.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
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

// Only a plain file of exactly the bytes counts as the same: never a link, a
// folder or a pipe planted under the name (whose opening must not hang).
TEST(OutputFolder, SameBytesAndSameContentLookAtPlainFilesOnly)
{
    QTemporaryDir tmp;
    const QByteArray dir = QFile::encodeName(tmp.path()) + '/';
    QByteArray data(200000, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 31 + (i >> 9));
    QByteArray late = data; // differs past the first block read
    late[data.size() - 1] = char(data.back() ^ 1);
    const auto put = [&](const char *name, const QByteArray &bytes) {
        QFile f(QFile::decodeName(dir + name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    put("same", data);
    put("late", late);
    put("short", data.left(1000));
    ASSERT_EQ(::symlink((dir + "same").constData(), (dir + "link").constData()), 0);
    ASSERT_EQ(::mkfifo((dir + "pipe").constData(), 0644), 0);
    ASSERT_TRUE(QDir(tmp.path()).mkdir(QStringLiteral("folder")));
    const QByteArray key = TArticleDisposition::ChecksumKey(data);
    for (const char *name : {"same", "late", "short", "link", "pipe", "folder", "missing"}) {
        const bool same = qstrcmp(name, "same") == 0;
        EXPECT_EQ(TOutputFolder::SameBytes(dir + name, data), same) << name;
        EXPECT_EQ(TOutputFolder::SameContent(dir + name, key), same) << name;
    }

    // Save numbers past what holds the name, and replaces only the same bytes.
    const TOutputFolder::Placed first = TOutputFolder::Save(dir, "pipe", data, false);
    EXPECT_EQ(first.Error, 0);
    EXPECT_EQ(first.Name, "pipe-1");
    EXPECT_FALSE(first.Replaced);
    const TOutputFolder::Placed again = TOutputFolder::Save(dir, "pipe", data, false);
    EXPECT_EQ(again.Name, "pipe-1");
    EXPECT_TRUE(again.Replaced);
    EXPECT_EQ(TOutputFolder::Save(dir, "pipe", data, true).Name, "pipe-2");
    EXPECT_TRUE(QFileInfo(QFile::decodeName(dir + "pipe")).exists());
    EXPECT_EQ(QDir(tmp.path()).entryList({QStringLiteral(".pixtrawl-*")}, QDir::Files | QDir::Hidden), QStringList());
}
