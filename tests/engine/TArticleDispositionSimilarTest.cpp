// Look-alike screening inside the disposition, on real photographs (JPEG:
// the engine fingerprints those itself, without a display).
#include "CostlyPictures.h"
#include "TArticleDisposition.h"
#include "TPictureBounds.h"
#include "TestBodies.h"

#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray photo(const char *name) { return readAll(QStringLiteral(PIXTRAWL_TEST_DATA "/similar/") + name); }

class SimilarDisposition : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work.path()));
        out = work.path() + "/out/";
        ASSERT_TRUE(QDir().mkpath(out));
        IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(out));
        IniWriteBool("CONFIG", "LOG", true);
        IniWriteBool("CONFIG", "RENAME_DUPLICATES", true);
        d.LoadChecksums(prog.path("CRC-32.dat"));
        d.Similar.Open(prog.path("Similar.dat"));
    }
    void TearDown() override { QDir::setCurrent(oldCwd); }

    TArticleDisposition::Outcome dispose(TArticleDisposition &disposition, const QByteArray &name,
                                         const QByteArray &data)
    {
        disposition.LogHeader(group, 1, name);
        QList<QByteArray> body = UuencodeFile(name, data);
        return disposition.Dispose(group, name, body, 100, false);
    }
    TArticleDisposition::Outcome dispose(const QByteArray &name, const QByteArray &data)
    {
        return dispose(d, name, data);
    }
    QStringList files(const QString &dir) const { return QDir(dir).entryList(QDir::Files, QDir::Name); }
    QByteArray logText() const { return readAll(work.path() + "/pixtrawl.log"); }

    TempProgramDir prog;
    QTemporaryDir work;
    QString oldCwd, out;
    QByteArray group = "alt.pics";
    QList<QByteArray> filters;
    TArticleDisposition d{filters};
};

// A re-encoded and a resized copy go into "Similar" under numbered names,
// are counted as duplicates with their keys added, and the log says what
// they look like; only saved pictures are originals; a distinct photograph
// and a file that is no picture are saved as ever.
TEST_F(SimilarDisposition, LookAlikesAreSetAsideIntoSimilar)
{
    IniWriteBool("CONFIG", "SIMILAR_SCREENING", true);
    EXPECT_EQ(dispose("sunset.jpg", photo("coffee.jpg")), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(dispose("sunset.jpg", photo("coffee-q40.jpg")), TArticleDisposition::OutcomeDuplicate);
    EXPECT_EQ(d.LastFileName, "Similar/sunset.jpg");
    EXPECT_EQ(dispose("sunset.jpg", photo("coffee-r70.jpg")), TArticleDisposition::OutcomeDuplicate);
    EXPECT_EQ(dispose("cat.jpg", photo("chelsea.jpg")), TArticleDisposition::OutcomeSaved);
    const QByteArray noPicture = Noise(5000, 3);
    EXPECT_EQ(dispose("noise.jpg", noPicture), TArticleDisposition::OutcomeSaved);

    EXPECT_EQ(files(out), (QStringList{"cat.jpg", "noise.jpg", "sunset.jpg"}));
    EXPECT_EQ(files(out + "Similar"), (QStringList{"sunset-1.jpg", "sunset.jpg"}));
    EXPECT_EQ(readAll(out + "Similar/sunset-1.jpg"), photo("coffee-r70.jpg"));
    EXPECT_EQ(ReadStatistic("DUPLICATE_COUNT", group), 2);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", group), 3);
    for (const char *name : {"coffee.jpg", "coffee-q40.jpg", "coffee-r70.jpg", "chelsea.jpg"})
        EXPECT_TRUE(d.IsKnown(TArticleDisposition::ChecksumKey(photo(name)))) << name;
    const QByteArray log = logText();
    EXPECT_TRUE(log.contains("Looks like 'sunset.jpg' (distance ")) << log.constData();
    EXPECT_TRUE(log.contains("): set aside as Similar/sunset.jpg\r\n")) << log.constData();
    EXPECT_TRUE(log.contains("): set aside as Similar/sunset-1.jpg\r\n")) << log.constData();
    // One line a saved picture: fingerprint, key, name.
    const QList<QByteArray> lines = readAll(prog.path("Similar.dat")).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(" " + TArticleDisposition::ChecksumKey(photo("coffee.jpg")) + " sunset.jpg\r"));
    EXPECT_TRUE(lines[1].trimmed().endsWith(" cat.jpg"));
}

// Off (the default), a copy is saved as any other file and nothing is kept.
TEST_F(SimilarDisposition, SwitchedOffChangesNothing)
{
    EXPECT_EQ(dispose("sunset.jpg", photo("coffee.jpg")), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(dispose("sunset.jpg", photo("coffee-q40.jpg")), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(files(out), (QStringList{"sunset-1.jpg", "sunset.jpg"}));
    EXPECT_FALSE(QDir(out + "Similar").exists());
    EXPECT_FALSE(QFile::exists(prog.path("Similar.dat")));
    EXPECT_FALSE(logText().contains("Looks like"));
}

// Each fingerprint reaches "Similar.dat" as its picture is saved; a line
// that a kill cut short is passed over, and the next one starts afresh.
TEST_F(SimilarDisposition, FingerprintsSurviveAKill)
{
    IniWriteBool("CONFIG", "SIMILAR_SCREENING", true);
    {
        TArticleDisposition killed{filters};
        killed.Similar.Open(prog.path("Similar.dat"));
        EXPECT_EQ(dispose(killed, "sunset.jpg", photo("coffee.jpg")), TArticleDisposition::OutcomeSaved);
    }
    QFile f(prog.path("Similar.dat"));
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("0123456789ABCDEF01");
    f.close();

    EXPECT_EQ(dispose("cup.jpg", photo("coffee-q95.jpg")), TArticleDisposition::OutcomeDuplicate);
    EXPECT_TRUE(logText().contains("Looks like 'sunset.jpg'"));
    EXPECT_EQ(dispose("cat.jpg", photo("chelsea.jpg")), TArticleDisposition::OutcomeSaved);
    TSimilarIndex reloaded;
    reloaded.Load(prog.path("Similar.dat"));
    EXPECT_EQ(reloaded.Size(), 2);
}

// Killed after a picture's key was kept but before its fingerprint was: the
// picture comes again after the restart, and its fingerprint is kept then,
// so a later copy of it is still set aside.
TEST_F(SimilarDisposition, AFingerprintLostToAKillIsKeptWhenItsPictureComesAgain)
{
    {
        TArticleDisposition killed{filters}; // keeps the key only, as a kill there would
        killed.LoadChecksums(prog.path("CRC-32.dat"));
        EXPECT_EQ(dispose(killed, "sunset.jpg", photo("coffee.jpg")), TArticleDisposition::OutcomeSaved);
        EXPECT_TRUE(killed.SaveChecksums(prog.path("CRC-32.dat")));
    }
    IniWriteBool("CONFIG", "SIMILAR_SCREENING", true);
    TArticleDisposition restarted{filters};
    restarted.LoadChecksums(prog.path("CRC-32.dat"));
    restarted.Similar.Open(prog.path("Similar.dat"));
    restarted.InFlightRefetch = true;
    EXPECT_EQ(dispose(restarted, "sunset.jpg", photo("coffee.jpg")), TArticleDisposition::OutcomeSavedBefore);
    restarted.InFlightRefetch = false;
    EXPECT_EQ(dispose(restarted, "cup.jpg", photo("coffee-q95.jpg")), TArticleDisposition::OutcomeDuplicate);
    EXPECT_EQ(files(out + "Similar"), QStringList{"cup.jpg"});
}

// Killed after a look-alike was set aside, before the pointer moved on: it
// comes again, is not saved again, and is counted as set aside, not saved.
TEST_F(SimilarDisposition, ALookAlikeSetAsideBeforeAKillIsCountedAsSetAside)
{
    IniWriteBool("CONFIG", "SIMILAR_SCREENING", true);
    EXPECT_EQ(dispose("sunset.jpg", photo("coffee.jpg")), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(dispose("cup.jpg", photo("coffee-q95.jpg")), TArticleDisposition::OutcomeDuplicate);
    d.InFlightRefetch = true;
    EXPECT_EQ(dispose("cup.jpg", photo("coffee-q95.jpg")), TArticleDisposition::OutcomeDuplicate);
    EXPECT_EQ(ReadStatistic("DUPLICATE_COUNT", group), 2);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", group), 1);
    EXPECT_EQ(files(out), QStringList{"sunset.jpg"});
    EXPECT_EQ(files(out + "Similar"), QStringList{"cup.jpg"});
    EXPECT_TRUE(logText().contains("File 'cup.jpg' was set aside before the restart"));
}

// A picture past the decoders' bounds is saved and counted as ever, but not
// offered to the preview, and its log record says why: a JPEG whose scans
// would keep libjpeg busy, a PNG claiming more pixels than Qt decodes in
// bounded time. An animation of thousands of frames is previewed (by its
// first frame) as ever.
TEST_F(SimilarDisposition, APictureTooCostlyToDecodeIsSavedButNotPreviewed)
{
    IniWriteBool("CONFIG", "SIMILAR_SCREENING", true);
    QList<QByteArray> previewed;
    d.OnPreview = [&](const QByteArray &data) { previewed << data; };
    QByteArray pixels = photo("formats/coffee.png");
    pixels.replace(16, 8, QByteArray::fromHex("0000177000001770")); // 6000 x 6000
    const QByteArray frames = RepeatedFirstFrame(photo("formats/coffee.gif"), 2000);
    const struct {
        QByteArray name, data;
        bool refused;
    } pictures[] = {{"scans.jpg", RepeatedScan(Progressive(photo("chelsea.jpg")), 6, 5000), true},
                    {"pixels.png", pixels, true},
                    {"frames.gif", frames, false}};
    for (const auto &p : pictures) {
        SCOPED_TRACE(p.name.constData());
        d.LogHeader(group, 1, p.name);
        QList<QByteArray> body = UuencodeFile(p.name, p.data);
        EXPECT_EQ(d.Dispose(group, p.name, body, 100, true), TArticleDisposition::OutcomeSaved);
        EXPECT_EQ(readAll(out + p.name), p.data);
        const QByteArray saved =
            "Article was saved as '" + p.name + "' at " + QByteArray::number(p.data.size()) + " bytes.\r\n";
        EXPECT_EQ(logText().contains(saved + TPictureBounds::Refusal(p.data) + "\r\n"), p.refused);
    }
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", group), 3);
    EXPECT_EQ(previewed, QList<QByteArray>{frames});
    EXPECT_EQ(logText().count("not previewed"), 2);
}

} // namespace
