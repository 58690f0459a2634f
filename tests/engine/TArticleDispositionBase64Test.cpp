// Base64 in the disposition: single-part posts whatever their padding, MIME
// bodies whose headers sat in the article header, and posts whose subjects
// number their parts, joined only with their own parts.
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

using Lines = QList<QByteArray>;

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QByteArray &baseline()
{
    static const QByteArray b = readAll(QStringLiteral(PIXTRAWL_TEST_DATA "/jpeg/baseline.jpg"));
    return b;
}

// A distinct real JPEG whose size leaves the given remainder mod 3.
QByteArray picture(int remainder, quint32 seed)
{
    int extra = 100 + int(seed % 50);
    while ((baseline().size() + 4 + extra) % 3 != remainder)
        ++extra;
    return JpegVariant(baseline(), extra, seed);
}

class Base64Disposition : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(baseline().isEmpty());
        oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work.path()));
        out = work.path() + "/out/";
        ASSERT_TRUE(QDir().mkpath(out));
        IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(out));
        restart();
    }
    void TearDown() override { QDir::setCurrent(oldCwd); }

    // A new disposition on the same program folder: the next run.
    void restart()
    {
        d = std::make_unique<TArticleDisposition>(filters);
        ASSERT_TRUE(d->OpenPartsStore(prog.dir() + "Parts"));
    }
    TArticleDisposition::Outcome dispose(const QByteArray &subject, Lines body)
    {
        return d->Dispose("alt.pics", subject, body, 100, false);
    }
    QByteArray saved(const QString &name) const { return readAll(out + name); }
    QStringList outFiles() const { return QDir(out).entryList(QDir::Files | QDir::Hidden); }
    static qint64 total(const char *counter) { return ReadStatistic(counter, ""); }

    TempProgramDir prog;
    QTemporaryDir work;
    QString oldCwd;
    QString out;
    Lines filters;
    std::unique_ptr<TArticleDisposition> d;
};

// A body that is a multiple of 3 bytes has no pad: it used to wait for the
// next article and be saved under that one's subject.
TEST_F(Base64Disposition, SinglePartPostsAreWholeUnderTheirOwnNames)
{
    // A uuencoded file left pending stays pending through them all.
    const QByteArray uu = Noise(200, 3);
    const Lines uuLines = UuencodeFile("parted.bin", uu);
    EXPECT_EQ(dispose("parted.bin (uu)", uuLines.mid(0, 3)), TArticleDisposition::OutcomeEmpty);

    QStringList names;
    quint32 seed = 1;
    for (int width : {64, 72, 76}) {
        for (int remainder : {0, 1, 2}) {
            const QByteArray name = "pic-" + QByteArray::number(seed) + ".jpg";
            const QByteArray data = picture(remainder, seed++);
            EXPECT_EQ(dispose("Here is " + name + " for you", Base64Body(data, width)),
                      TArticleDisposition::OutcomeSaved)
                << width << " " << remainder;
            EXPECT_EQ(saved(name), data) << name.constData();
            names << name;
        }
    }
    EXPECT_EQ(total("SAVED_COUNT"), 9);
    EXPECT_EQ(d->PostParts.Posts(), 0);

    EXPECT_EQ(dispose("parted.bin (uu)", uuLines.mid(3)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("parted.bin"), uu);
    names << "parted.bin";
    names.sort();
    EXPECT_EQ(outFiles(), names);
}

TEST_F(Base64Disposition, SinglePartMimeBodyAsPythonsEmailWritesIt)
{
    const QByteArray data = picture(0, 40);
    // Python's email puts Content-Type and Content-Transfer-Encoding in the
    // message header; the article's body is the Base64 alone, 76 a line.
    const QByteArray message = RunTool(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sys, email.mime.image\n"
                        "m = email.mime.image.MIMEImage(sys.stdin.buffer.read(), 'jpeg', name='meadow.jpg')\n"
                        "sys.stdout.buffer.write(m.as_bytes())\n")},
        data);
    const qsizetype split = message.indexOf("\n\n");
    ASSERT_GT(split, 0);
    EXPECT_EQ(dispose("A meadow in spring: meadow.jpg", BodyLinesOf(message.mid(split + 2))),
              TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("meadow.jpg"), data);

    // A whole MIME message in the body names its file itself.
    const Lines mime{"Content-Type: image/jpeg; name=\"own.jpg\"", "Content-Transfer-Encoding: base64", ""};
    EXPECT_EQ(dispose("some subject", mime + Base64Body(data, 76)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("own.jpg"), data);
}

// Parts in any order, another post between them, a restart on the way: the
// file comes out once, whole, under part 1's name.
TEST_F(Base64Disposition, PartsJoinByTheirNumbers)
{
    const QByteArray data = picture(1, 50), other = picture(2, 51);
    const Lines lines = Base64Body(data, 76);
    const qsizetype third = lines.size() / 3;
    const Lines parts[] = {lines.mid(0, third), lines.mid(third, third), lines.mid(2 * third)};
    const struct {
        const char *shape; // %1 the part number
        int order[3];
    } cases[] = {{"multi64.jpg (%1/3)", {0, 1, 2}}, {"multi64.jpg [%1/3]", {1, 0, 2}}, {"multi64.jpg - %1 of 3", {2, 1, 0}}};
    int round = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shape);
        const auto subject = [&](int part) { return QString::fromLatin1(c.shape).arg(part + 1).toLatin1(); };
        const QString name = "multi64-" + QString::number(round++) + ".jpg";
        IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(out + name + "/"));
        ASSERT_TRUE(QDir().mkpath(out + name));
        EXPECT_EQ(dispose(subject(c.order[0]), parts[c.order[0]]), TArticleDisposition::OutcomeEmpty);
        EXPECT_EQ(dispose("between.jpg", Base64Body(other, 64)), TArticleDisposition::OutcomeSaved);
        restart();
        EXPECT_EQ(dispose(subject(c.order[1]), parts[c.order[1]]), TArticleDisposition::OutcomeEmpty);
        EXPECT_EQ(dispose(subject(c.order[2]), parts[c.order[2]]), TArticleDisposition::OutcomeSaved);
        EXPECT_EQ(QDir(out + name).entryList(QDir::Files), (QStringList{"between.jpg", "multi64.jpg"}));
        EXPECT_EQ(readAll(out + name + "/multi64.jpg"), data);
        EXPECT_EQ(d->PostParts.Posts(), 0);
    }
}

// Not joined with what comes next, and not lost: saved as far as it got.
TEST_F(Base64Disposition, ATruncatedSinglePartIsSavedUnderItsOwnName)
{
    const QByteArray data = picture(0, 60);
    const Lines lines = Base64Body(data, 72);
    EXPECT_EQ(dispose("cut.jpg", lines.mid(0, lines.size() - 5)), TArticleDisposition::OutcomeSaved);
    const QByteArray cut = saved("cut.jpg");
    EXPECT_EQ(cut, data.left(cut.size()));
    EXPECT_EQ(cut.size(), (lines.size() - 5) * 72 / 4 * 3);
    EXPECT_EQ(dispose("next.jpg", lines.mid(lines.size() - 5)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("cut.jpg"), cut);
}

TEST_F(Base64Disposition, NamesThatAreNoNamesFallBack)
{
    const Lines blankMime{"Content-Type: image/jpeg; name=\"   \"", "Content-Transfer-Encoding: base64", ""};
    EXPECT_EQ(dispose("blank name, so lake.jpg", blankMime + Base64Body(picture(0, 70), 76)),
              TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("lake.jpg"), picture(0, 70));
    // Latin-1 in a UTF-8 file system: neither the quote nor the subject is a name.
    EXPECT_EQ(dispose("\"\xE9t\xE9\" \xE0 la plage", Base64Body(picture(1, 71), 76)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("noname"), picture(1, 71));
}

// A series numbers its pictures like parts; each article is a whole picture.
TEST_F(Base64Disposition, ASeriesOfWholePicturesIsNotKeptAsParts)
{
    EXPECT_EQ(dispose("Holiday (1/2) - beach.jpg", Base64Body(picture(0, 80), 76)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(dispose("Holiday (2/2) - pier.jpg", Base64Body(picture(0, 81), 76)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("beach.jpg"), picture(0, 80));
    EXPECT_EQ(saved("pier.jpg"), picture(0, 81));
    EXPECT_EQ(d->PostParts.Posts(), 0);
}

} // namespace
