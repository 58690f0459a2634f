// The on-disk parts store: placement by offset in any order, what survives a
// reopen (the next run) and a record cut short by a kill, and its bounds.
#include "TPartsStore.h"
#include "TestBodies.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace {

class PartsStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(store.Open(dir.path())); }

    TPartsStore::AddResult add(TPartsStore &s, qint64 begin, qint64 size, qint64 now = 1000)
    {
        const QByteArray chunk = file.mid(begin - 1, size);
        return s.AddPart("x.jpg", file.size(), begin, chunk, ZipCrc(chunk), true, ZipCrc(file), now);
    }
    QString journal() const
    {
        const QStringList idx = QDir(dir.path()).entryList({"*.idx"}, QDir::Files);
        return idx.isEmpty() ? QString() : dir.filePath(idx.first());
    }

    QTemporaryDir dir;
    TPartsStore store;
    const QByteArray file = Noise(10000, 3);
};

TEST_F(PartsStore, PartsInAnyOrderAcrossReopensMakeTheFileWithItsCombinedCrc)
{
    EXPECT_EQ(add(store, 4001, 3000), TPartsStore::Kept);
    {
        TPartsStore next; // the next run
        ASSERT_TRUE(next.Open(dir.path()));
        EXPECT_EQ(next.PendingFiles(), 1);
        EXPECT_EQ(add(next, 1, 4000), TPartsStore::Kept);
        EXPECT_EQ(add(next, 1, 4000), TPartsStore::AlreadyKept);
    }
    ASSERT_TRUE(store.Open(dir.path()));
    EXPECT_EQ(store.StoredBytes(), 7000);
    EXPECT_EQ(add(store, 7001, 3000), TPartsStore::Completed);
    QByteArray data;
    quint32 crc = 0, fileCrc = 0;
    bool hasFileCrc = false;
    ASSERT_TRUE(store.TakeFile("x.jpg", file.size(), data, crc, hasFileCrc, fileCrc));
    EXPECT_EQ(data, file);
    EXPECT_EQ(crc, ZipCrc(file));
    EXPECT_TRUE(hasFileCrc);
    {
        // Killed before the file was saved: the last part comes again and
        // completes the same set.
        TPartsStore next;
        ASSERT_TRUE(next.Open(dir.path()));
        EXPECT_EQ(add(next, 7001, 3000), TPartsStore::Completed);
        QByteArray again;
        ASSERT_TRUE(next.TakeFile("x.jpg", file.size(), again, crc, hasFileCrc, fileCrc));
        EXPECT_EQ(again, file);
    }
    store.Release("x.jpg", file.size()); // saved
    EXPECT_EQ(store.PendingFiles(), 0);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(PartsStore, OverlappingPartsCompleteAndDifferentBytesUnderTheSameKeyAreRefused)
{
    EXPECT_EQ(add(store, 1, 6000), TPartsStore::Kept);
    QByteArray other = file.mid(5000, 2000);
    other[100] = char(other[100] ^ 1);
    EXPECT_EQ(store.AddPart("x.jpg", file.size(), 5001, other, ZipCrc(other), false, 0, 1000),
              TPartsStore::Conflict);
    EXPECT_EQ(add(store, 5001, 5000), TPartsStore::Completed);
    QByteArray data;
    quint32 crc = 0, fileCrc = 0;
    bool hasFileCrc = false;
    ASSERT_TRUE(store.TakeFile("x.jpg", file.size(), data, crc, hasFileCrc, fileCrc));
    EXPECT_EQ(data, file);
    EXPECT_EQ(crc, ZipCrc(file));
}

TEST_F(PartsStore, ARangeRecordCutShortByAKillCountsForNothing)
{
    EXPECT_EQ(add(store, 1, 2000), TPartsStore::Kept);
    EXPECT_EQ(add(store, 2001, 2000), TPartsStore::Kept);
    QFile j(journal());
    ASSERT_TRUE(j.open(QIODevice::ReadWrite));
    ASSERT_TRUE(j.resize(j.size() - 3)); // the second range's line, half written
    j.close();
    TPartsStore next;
    ASSERT_TRUE(next.Open(dir.path()));
    EXPECT_EQ(next.StoredBytes(), 2000);
    EXPECT_EQ(add(next, 2001, 8000), TPartsStore::Completed);
}

// A writer killed with SIGKILL at some moment: whatever it left counted as
// covered holds the right bytes, so the rest completes the file exactly.
TEST_F(PartsStore, AKillAtAnyMomentLeavesNoWrongByte)
{
    const QByteArray big = Noise(4000000, 9);
    const qint64 part = 40000;
    for (int delayUs : {300, 3000, 20000}) {
        QTemporaryDir where;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TPartsStore s;
            if (s.Open(where.path()))
                for (qint64 b = 1; b <= big.size(); b += part)
                    s.AddPart("big", big.size(), b, big.mid(b - 1, part), ZipCrc(big.mid(b - 1, part)), false, 0, 1);
            ::pause();
            ::_exit(0);
        }
        ::usleep(useconds_t(delayUs));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        TPartsStore s;
        ASSERT_TRUE(s.Open(where.path()));
        TPartsStore::AddResult last = TPartsStore::Kept;
        for (qint64 b = big.size() - part + 1; b >= 1; b -= part) {
            const QByteArray chunk = big.mid(b - 1, part);
            last = s.AddPart("big", big.size(), b, chunk, ZipCrc(chunk), false, 0, 2);
            ASSERT_NE(last, TPartsStore::Conflict) << "delay " << delayUs << " at " << b;
            ASSERT_NE(last, TPartsStore::Failed);
        }
        // A writer that was done before the kill left the whole file.
        ASSERT_TRUE(last == TPartsStore::Completed || s.StoredBytes() == big.size()) << "delay " << delayUs;
        QByteArray data;
        quint32 crc = 0, fileCrc = 0;
        bool has = false;
        ASSERT_TRUE(s.TakeFile("big", big.size(), data, crc, has, fileCrc));
        EXPECT_EQ(data, big);
        EXPECT_EQ(crc, ZipCrc(big));
    }
}

TEST_F(PartsStore, PruneDropsOldFilesThenTheOldestOverTheLimit)
{
    for (int i = 0; i < 4; ++i) {
        const QByteArray chunk = file.left(1000);
        ASSERT_EQ(store.AddPart("f" + QByteArray::number(i), 5000, 1, chunk, ZipCrc(chunk), false, 0, 100 + i),
                  TPartsStore::Kept);
    }
    QList<QByteArray> log = store.Prune(101 + 7 * 86400, 7 * 86400, 1 << 30);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0], "Dropped the unfinished file 'f0' (1000 of 5000 bytes) after 7 days.");
    log = store.Prune(200, 7 * 86400, 2000);
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith("Dropped the unfinished file 'f1'")) << log[0].constData();
    EXPECT_EQ(store.StoredBytes(), 2000);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4);
}

TEST_F(PartsStore, ThePendingLinesOfTheJoiningSurviveAReopen)
{
    const QList<QByteArray> lines{"begin 644 a.jpg", QByteArray("M\0\r\n", 4), ""};
    ASSERT_TRUE(store.SavePending(lines, "a.jpg", 45));
    TPartsStore next;
    ASSERT_TRUE(next.Open(dir.path()));
    QList<QByteArray> got;
    QByteArray name;
    qint64 size = 0;
    ASSERT_TRUE(next.LoadPending(got, name, size));
    EXPECT_EQ(got, lines);
    EXPECT_EQ(name, "a.jpg");
    EXPECT_EQ(size, 45);
    next.ClearPending();
    EXPECT_FALSE(store.LoadPending(got, name, size));
}

} // namespace
