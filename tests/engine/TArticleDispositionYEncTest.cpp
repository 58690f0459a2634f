// yEnc in the disposition: single files, parts from anywhere in any order,
// damaged ones, and the parts store carrying pending files into the next run.
#include "TArticleDisposition.h"
#include "TestBodies.h"

#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class YEncDisposition : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work.path()));
        out = work.path() + "/out/";
        ASSERT_TRUE(QDir().mkpath(out));
        IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(out));
        IniWriteString("CONFIG", "LOG", "yes");
        restart();
    }
    void TearDown() override { QDir::setCurrent(oldCwd); }

    // A new disposition on the same program folder: the next run.
    void restart()
    {
        d = std::make_unique<TArticleDisposition>(filters);
        ASSERT_TRUE(d->OpenPartsStore(prog.dir() + "Parts"));
    }
    TArticleDisposition::Outcome dispose(QList<QByteArray> body, const QByteArray &group = "alt.pics")
    {
        d->LogHeader(group, 1, "subject");
        return d->Dispose(group, "subject", body, 100, false);
    }
    // The outcome line of the last record.
    QByteArray lastLine() const
    {
        const QList<QByteArray> lines = readAll(work.path() + "/pixtrawl.log").trimmed().split('\n');
        return lines.isEmpty() ? QByteArray() : lines.last().trimmed();
    }
    QStringList saved() const { return QDir(out).entryList(QDir::Files); }
    QList<QByteArray> part(int p, int total, qsizetype begin, qsizetype size) const
    {
        return YEncPart("p.jpg", file, p, total, begin, size);
    }

    TempProgramDir prog;
    QTemporaryDir work;
    QString oldCwd;
    QString out;
    QList<QByteArray> filters;
    std::unique_ptr<TArticleDisposition> d;
    const QByteArray file = Noise(50000, 11);
};

TEST_F(YEncDisposition, SingleFileIsSavedWithTheKeyOfItsBytes)
{
    const QByteArray pic = Noise(3000, 2);
    EXPECT_EQ(dispose(YEncFile("one.jpg", pic)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(readAll(out + "one.jpg"), pic);
    EXPECT_EQ(lastLine(), "Article was saved as 'one.jpg' at 3000 bytes.");
    EXPECT_EQ(d->KnownChecksums, QList<QByteArray>{TArticleDisposition::ChecksumKey(pic)});
}

TEST_F(YEncDisposition, PartsOutOfOrderBetweenOtherArticlesAndAcrossGroupsMakeOneFile)
{
    const QByteArray other = Noise(2000, 5);
    EXPECT_EQ(dispose(part(3, 5, 20001, 10000)), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(lastLine(), "Kept part 3 of 5 of 'p.jpg'");
    EXPECT_EQ(dispose({"just text"}), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(dispose(part(1, 5, 1, 10000), "alt.other"), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(dispose(UuencodeFile("uu.jpg", other)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(dispose(part(5, 5, 40001, 10000)), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(dispose(part(1, 5, 1, 10000)), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(lastLine(), "Part 1 of 5 of 'p.jpg' was kept before.");
    EXPECT_EQ(dispose(part(2, 5, 10001, 10000)), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(saved(), QStringList{"uu.jpg"});
    EXPECT_EQ(dispose(part(4, 5, 30001, 10000), "alt.other"), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(readAll(out + "p.jpg"), file);
    EXPECT_EQ(lastLine(), "Article was saved as 'p.jpg' at 50000 bytes.");
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", ""), 6);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", "alt.other"), 1);
    EXPECT_TRUE(d->KnownChecksums.contains(TArticleDisposition::ChecksumKey(file)));
    EXPECT_TRUE(QDir(prog.dir() + "Parts").entryList(QDir::Files).isEmpty());
}

TEST_F(YEncDisposition, DamagedPartsAndFilesAreNotSavedAndSayWhy)
{
    QList<QByteArray> bad = part(2, 2, 25001, 25000);
    bad.last() = "=yend size=25000 part=2 pcrc32=12345678";
    EXPECT_EQ(dispose(bad), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(lastLine(), "Part 2 of 2 of 'p.jpg' failed its CRC-32 check: "
                              + QByteArray::number(ZipCrc(file.mid(25000)), 16).toUpper().rightJustified(8, '0')
                              + " instead of 12345678");
    // Both parts check, but the whole file's CRC-32 does not.
    QList<QByteArray> first = part(1, 2, 1, 25000);
    first.last() = first.last().left(first.last().indexOf(" crc32=")) + " crc32=00C0FFEE";
    EXPECT_EQ(dispose(first), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(dispose(part(2, 2, 25001, 25000)), TArticleDisposition::OutcomeEmpty);
    EXPECT_TRUE(lastLine().startsWith("File 'p.jpg' failed its CRC-32 check: ")) << lastLine().constData();
    EXPECT_TRUE(lastLine().endsWith(" instead of 00C0FFEE"));
    QList<QByteArray> noEnd = YEncFile("q.jpg", file);
    noEnd.removeLast();
    EXPECT_EQ(dispose(noEnd), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(lastLine(), "File 'q.jpg' has no =yend line.");
    EXPECT_TRUE(saved().isEmpty());
    EXPECT_TRUE(d->KnownChecksums.isEmpty());
}

TEST_F(YEncDisposition, PendingFilesOfBothKindsSurviveARestart)
{
    const QByteArray uu = Noise(9000, 8);
    QList<QByteArray> uuLines = UuencodeFile("uu.jpg", uu);
    const qsizetype half = uuLines.size() / 2;
    EXPECT_EQ(dispose(uuLines.mid(0, half)), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(dispose(part(2, 2, 25001, 25000)), TArticleDisposition::OutcomeEmpty);
    restart();
    EXPECT_EQ(dispose(uuLines.mid(half)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(readAll(out + "uu.jpg"), uu);
    restart();
    EXPECT_EQ(dispose(part(1, 2, 1, 25000)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(readAll(out + "p.jpg"), file);
}

TEST_F(YEncDisposition, AThousandPartsOfDifferentFilesAreKeptThenBoundedByTheLimit)
{
    IniWriteInteger("CONFIG", "PARTS_LIMIT_MB", 1);
    for (int i = 0; i < 1000; ++i)
        dispose(YEncPart("f" + QByteArray::number(i) + ".jpg", file, 1, 2, 1, 2000));
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", ""), 1000);
    // Past 524 parts of 2000 bytes the store is over 1 MB: before each
    // further article the oldest goes, each with its line.
    EXPECT_EQ(d->Parts.PendingFiles(), 525);
    const QByteArray log = readAll(work.path() + "/pixtrawl.log");
    EXPECT_EQ(log.count("to keep the parts store within 1 MB."), 475);
    EXPECT_TRUE(saved().isEmpty());
}

} // namespace

// The last part of a set whose save fails, or whose run is killed before the
// save, comes again: the parts kept before must still be there for it.
TEST_F(YEncDisposition, AFailedSaveOrAKillBeforeItKeepsThePartsForTheLastPartAgain)
{
    EXPECT_EQ(dispose(part(1, 2, 1, 25000)), TArticleDisposition::OutcomeEmpty);
    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(work.path() + "/missing/"));
    EXPECT_EQ(dispose(part(2, 2, 25001, 25000)), TArticleDisposition::OutcomeSaveFailed);
    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(out));
    restart();
    EXPECT_EQ(dispose(part(2, 2, 25001, 25000)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(readAll(out + "p.jpg"), file);
    EXPECT_TRUE(QDir(prog.dir() + "Parts").entryList({"*.idx"}, QDir::Files).isEmpty());
}
