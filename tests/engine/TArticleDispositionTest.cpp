#include "TArticleDisposition.h"
#include "TestBodies.h"

#include "TGroupMark.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray payload(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + seed * 13 + (i >> 5)) & 0xFF);
    return b;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Disposition : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work.path()));
        out = work.path() + "/out/";
        ASSERT_TRUE(QDir().mkpath(out));
        IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(out));
        d.OnPreview = [this](const QByteArray &data) { previews.append(data); };
    }
    void TearDown() override { QDir::setCurrent(oldCwd); }

    TArticleDisposition::Outcome dispose(QList<QByteArray> body, qint64 bytes = 100,
                                         const QByteArray &subject = "subject")
    {
        return d.Dispose(group, subject, body, bytes, true);
    }
    QByteArray saved(const QString &name) const { return readAll(out + name); }
    QStringList outFiles() const { return QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System); }
    QByteArray logText() const { return readAll(work.path() + "/pixtrawl.log"); }
    static qint64 total(const char *counter) { return ReadStatistic(counter, ""); }
    qint64 ofGroup(const char *counter) const { return ReadStatistic(counter, group); }
    void logOn() { IniWriteString("CONFIG", "LOG", "yes"); }

    TempProgramDir prog;
    QTemporaryDir work;
    QString oldCwd;
    QString out;
    QByteArray group = "alt.pics";
    QList<QByteArray> filters;
    TArticleDisposition d{filters};
    QList<QByteArray> previews;
};

TEST_F(Disposition, SubjectFilterIgnoresCaseCountsEveryMatchAndSkipsEmptyStrings)
{
    logOn();
    filters = {"pic", "", "NOPE", "Sunset"};
    QList<QByteArray> body{"line"};
    EXPECT_TRUE(d.SubjectFilter(group, "Big PIC of a SUNSET", body, 40));
    EXPECT_TRUE(body.isEmpty());
    EXPECT_EQ(total("FILTERED_COUNT"), 2);
    EXPECT_EQ(ofGroup("FILTERED_COUNT"), 2);
    EXPECT_EQ(total("FILTERED_BYTES"), 80);
    EXPECT_EQ(ofGroup("FILTERED_BYTES"), 80);
    // The log file is created by the record's header only.
    EXPECT_TRUE(logText().isEmpty());
    d.LogHeader(group, 7, "x");
    body = {"line"};
    EXPECT_TRUE(d.SubjectFilter(group, "Big PIC of a SUNSET", body, 40));
    EXPECT_TRUE(logText().endsWith("Article was filtered out because the subject contained 'pic'\r\n"
                                   "Article was filtered out because the subject contained 'Sunset'\r\n"));
    // A string edited in place counts as it now reads.
    filters[3] = "dusk";
    body = {"line"};
    EXPECT_TRUE(d.SubjectFilter(group, "Big PIC of a SUNSET", body, 40));
    EXPECT_FALSE(d.WouldFilter("a SUNSET"));
    EXPECT_EQ(total("FILTERED_COUNT"), 5);

    // Only empty strings and strings not in the subject: nothing happens.
    filters = {"", "dog"};
    body = {"line"};
    EXPECT_FALSE(d.SubjectFilter(group, "Big PIC", body, 40));
    EXPECT_EQ(body.size(), 1);
    EXPECT_EQ(total("FILTERED_COUNT"), 5);
}

TEST_F(Disposition, SubjectFilterLowersNonAsciiLettersAndCanBeSwitchedOff)
{
    filters = {"\xC3\xA4pfel"}; // äpfel
    QList<QByteArray> body{"line"};
    EXPECT_TRUE(d.SubjectFilter(group, "Gr\xC3\xBC\xC3\x9F" "e \xC3\x84PFEL", body, 1)); // ÄPFEL

    IniWriteBool("CONFIG", "SUBJECT_FILTER", false);
    filters = {"pic"};
    body = {"line"};
    EXPECT_FALSE(d.SubjectFilter(group, "pic", body, 1));
    EXPECT_EQ(body.size(), 1);
    EXPECT_EQ(total("FILTERED_COUNT"), 1);
}

TEST_F(Disposition, FilteredArticleIsAlsoEmptyAndItsRecordShowsBothLines)
{
    logOn();
    filters = {"spam"};
    d.LogHeader(group, 12, "more spam");
    QList<QByteArray> body{"whatever"};
    ASSERT_TRUE(d.SubjectFilter(group, "more spam", body, 30));
    EXPECT_EQ(d.Dispose(group, "more spam", body, 30, true), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(total("EMPTY_COUNT"), 1);
    EXPECT_EQ(ofGroup("EMPTY_BYTES"), 30);
    EXPECT_TRUE(logText().endsWith("-alt.pics-12-more spam\r\n"
                                   "Article was filtered out because the subject contained 'spam'\r\n"
                                   "There was nothing to decode.\r\n"));
    EXPECT_TRUE(previews.isEmpty());
}

TEST_F(Disposition, LogRecordHasItsExactBytes)
{
    logOn();
    const QDateTime before = QDateTime::currentDateTime();
    d.LogHeader(group, 4711, "Re: [1/2] cat");
    const QDateTime after = QDateTime::currentDateTime();
    const QByteArray data = payload(100, 1);
    EXPECT_EQ(dispose(UuencodeFile("cat.jpg", data)), TArticleDisposition::OutcomeSaved);

    const QByteArray text = logText();
    auto record = [](const QDateTime &t) {
        return " \r\n" + t.toString("dd/MM/yy-hh:mm:ss").toLatin1() + "-alt.pics-4711-Re: [1/2] cat\r\n"
            + "Article was saved as 'cat.jpg' at 100 bytes.\r\n";
    };
    EXPECT_TRUE(text == record(before) || text == record(after)) << text.constData();
    // A second record is appended, not written over the first.
    d.LogHeader(group, 4712, "x");
    EXPECT_TRUE(logText().startsWith(text));
    EXPECT_TRUE(logText().endsWith("-alt.pics-4712-x\r\n"));
}

TEST_F(Disposition, LineBreaksInNamesAndSubjectsCannotForgeLogLines)
{
    logOn();
    d.LogHeader("alt.x\r", 7, "cat\r\n01/01/70-00:00:00-alt.x-8-forged");
    const QByteArray data = payload(60, 3);
    EXPECT_EQ(dispose(UuencodeFile("a\nb.jpg", data)), TArticleDisposition::OutcomeSaved);
    d.LogNote("alt.\ny", "note\rline");
    const QByteArray text = logText();
    EXPECT_EQ(text.count('\n'), 6) << text.constData(); // two records of three lines
    EXPECT_EQ(text.count('\r'), 6);
    // Shown as the terminal shows them: CR as "␍", LF as "␊".
    EXPECT_TRUE(text.contains("-alt.x\u240d-7-cat\u240d\u240a01/01/70-00:00:00-alt.x-8-forged\r\n"
                              "Article was saved as 'a_b.jpg' at 60 bytes.\r\n \r\n"));
    EXPECT_TRUE(text.endsWith("-alt.\u240ay\r\nnote\u240dline\r\n"));
    EXPECT_EQ(saved("a_b.jpg"), data);
}

// A subject of 100 KB must not make a 100 KB log line.
TEST_F(Disposition, LongSubjectsAreCutInTheLog)
{
    logOn();
    d.LogHeader(group, 7, QByteArray(100 * 1024, 's'));
    const QList<QByteArray> lines = logText().split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QByteArray(1024, 's') + '\r'));
    EXPECT_LT(lines[1].size(), 1100);
}

TEST_F(Disposition, LogNoLeavesTheLogFileAlone)
{
    filters = {"spam"};
    d.LogHeader(group, 1, "spam");
    QList<QByteArray> body;
    d.SubjectFilter(group, "spam", body, 1);
    EXPECT_EQ(dispose({}), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(dispose(UuencodeFile("a.jpg", payload(50, 2))), TArticleDisposition::OutcomeSaved);
    EXPECT_FALSE(QFileInfo::exists(work.path() + "/pixtrawl.log"));

    IniWriteString("CONFIG", "LOG", "N");
    d.LogHeader(group, 1, "spam");
    EXPECT_FALSE(QFileInfo::exists(work.path() + "/pixtrawl.log"));
}

TEST_F(Disposition, AFailingLogWriteNeverStopsTheWork)
{
    logOn();
    ASSERT_TRUE(QDir(work.path()).mkdir("pixtrawl.log")); // cannot be opened as a file
    filters = {"spam"};
    d.LogHeader(group, 1, "spam");
    QList<QByteArray> body{"x"};
    EXPECT_TRUE(d.SubjectFilter(group, "spam", body, 5));
    EXPECT_EQ(d.Dispose(group, "spam", body, 5, true), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(dispose(UuencodeFile("a.jpg", payload(50, 2))), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(total("FILTERED_COUNT"), 1);
    EXPECT_EQ(total("EMPTY_COUNT"), 1);
    EXPECT_EQ(total("SAVED_COUNT"), 1);
}

TEST_F(Disposition, TwoArticleFileIsSavedUnderTheFirstArticlesName)
{
    logOn();
    const QByteArray data = payload(45 * 6 + 10, 3);
    const QList<QByteArray> lines = UuencodeData(data);
    QList<QByteArray> first{"Some text", "begin 644 sunset.jpg"};
    first += lines.mid(0, 3);
    QList<QByteArray> second = lines.mid(3);
    second += QList<QByteArray>{"`", "end", "-- ", "sig"};

    d.LogHeader(group, 1, "sunset 1/2");
    EXPECT_EQ(dispose(first, 500, "sunset 1/2"), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(d.PendingName, "sunset.jpg");
    EXPECT_EQ(d.PendingSize, 135);
    EXPECT_TRUE(outFiles().isEmpty());
    EXPECT_EQ(total("EMPTY_COUNT"), 1);
    EXPECT_EQ(ofGroup("EMPTY_BYTES"), 500);

    EXPECT_EQ(dispose(second, 600, "sunset 2/2"), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("sunset.jpg"), data);
    EXPECT_EQ(outFiles(), QStringList{"sunset.jpg"});
    EXPECT_EQ(d.PendingSize, 0);
    EXPECT_TRUE(d.PendingLines.isEmpty());
    EXPECT_TRUE(d.JoinLines.isEmpty());
    EXPECT_TRUE(d.DecodeStream.isEmpty());
    EXPECT_EQ(total("SAVED_COUNT"), 1);
    EXPECT_EQ(ofGroup("SAVED_COUNT"), 1);
    EXPECT_EQ(ofGroup("SAVED_BYTES"), 600);
    EXPECT_EQ(total("EMPTY_COUNT"), 1);
    EXPECT_EQ(d.KnownChecksums, QList<QByteArray>{TArticleDisposition::ChecksumKey(data)});
    EXPECT_EQ(previews, QList<QByteArray>{data});
    EXPECT_TRUE(logText().endsWith("There was nothing to decode.\r\n"
                                   "Article was saved as 'sunset.jpg' at 280 bytes.\r\n"));
}

TEST_F(Disposition, PendingFileReplacedByANewPartialOneIsSavedAsFarAsItGot)
{
    const QByteArray a = payload(45 * 4, 4);
    const QByteArray b = payload(45 * 3 + 1, 5);
    const QList<QByteArray> aLines = UuencodeData(a), bLines = UuencodeData(b);

    EXPECT_EQ(dispose(QList<QByteArray>{"begin 644 a.jpg"} + aLines.mid(0, 2), 10),
              TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(dispose(QList<QByteArray>{"begin 644 b.jpg"} + bLines.mid(0, 1), 20),
              TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("a.jpg"), a.left(90));
    EXPECT_EQ(ofGroup("SAVED_BYTES"), 20);
    EXPECT_EQ(d.PendingName, "b.jpg");
    EXPECT_EQ(d.PendingSize, 45);

    EXPECT_EQ(dispose(bLines.mid(1) + QList<QByteArray>{"`", "end"}, 30), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("b.jpg"), b);
    EXPECT_EQ(total("SAVED_COUNT"), 2);
    EXPECT_EQ(total("EMPTY_COUNT"), 1);
}

TEST_F(Disposition, ContinuationThatAddsNothingIsEmptyAndNotKept)
{
    const QByteArray data = payload(45 * 5, 6);
    const QList<QByteArray> lines = UuencodeData(data);
    dispose(QList<QByteArray>{"begin 644 c.jpg"} + lines.mid(0, 2));
    const QList<QByteArray> pendingBefore = d.PendingLines;
    ASSERT_EQ(d.PendingSize, 90);

    // A lone "`" is a data line of no bytes: kept by the decoder, adds nothing.
    EXPECT_EQ(dispose({"hello world", "M-not-a-data-line", "`"}, 77), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(d.PendingLines, pendingBefore);
    EXPECT_EQ(d.PendingSize, 90);
    EXPECT_EQ(ofGroup("EMPTY_BYTES"), 100 + 77);

    // A continuation that grows is kept, then the end completes it.
    EXPECT_EQ(dispose(lines.mid(2, 1)), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(d.PendingSize, 135);
    EXPECT_EQ(dispose(lines.mid(3) + QList<QByteArray>{"end"}), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("c.jpg"), data);
}

// A MIME part under a subject that numbers no parts is whole at its end; it
// used to wait, and a continuation that found nothing dropped it.
TEST_F(Disposition, MimePartUnderAPlainSubjectIsSavedAtItsEnd)
{
    QList<QByteArray> mime{"Content-Type: image/jpeg; name=\"m.jpg\"", "Content-Transfer-Encoding: base64", "",
                           "Q2F0Q2F0", "Q2F0Q2F0", "last"};
    EXPECT_EQ(dispose(mime), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(d.PendingSize, 0);
    EXPECT_TRUE(saved("m.jpg").startsWith("CatCatCatCat"));
    EXPECT_EQ(dispose({"Q2F0", "Q2F0"}), TArticleDisposition::OutcomeEmpty);
    EXPECT_EQ(outFiles(), QStringList{"m.jpg"});
    EXPECT_EQ(total("EMPTY_COUNT"), 1);
}

TEST_F(Disposition, NameRules)
{
    struct Case {
        QByteArray decoder, subject, expected;
    } cases[] = {
        {"cat.jpg", "s", "cat.jpg"},
        {" cat.jpg", "s", " cat.jpg"},          // "begin 0644 cat.jpg" keeps its space
        {"", "a/b:c", "abc"},
        {"", "\\/:*?\"<>|", "noname"},
        {"", "", "noname"},
        {"", "..", "noname"},
        {"", ".", "noname"},
        {"", "./..", "_..."},                 // loses its slash; "..." is an ordinary name, not a hidden one
        {"../../x.jpg", "s", "x.jpg"},
        {"/etc/x", "s", "x"},
        {"a/b.jpg", "s", "b.jpg"},
        {"C:\\temp\\evil.jpg", "s", "evil.jpg"},
        {"..\\..\\w.jpg", "s", "w.jpg"},
        {"pics/", "from subject", "from subject"},
        {"..", "from subject", "from subject"},
        {"/", "..", "noname"},
        {QByteArray("x\0y.jpg", 7), "s", "x_y.jpg"},
        // Control characters and a leading dot or dash are defused.
        {"a\nb\r\t.jpg", "s", "a_b__.jpg"},
        {"\x7f\x1b[31m.jpg", "s", "__[31m.jpg"},
        // So are bidi and format characters and bytes that are not UTF-8:
        // U+202E would show this name as "exe.jpg".
        {"\xe2\x80\xaegpj.exe", "s", "_gpj.exe"},
        {"", "caf\xe9\xef\xbb\xbf\xc2\x9b.jpg", "caf___.jpg"},
        {"\xc3\xa9t\xc3\xa9.jpg", "s", "\xc3\xa9t\xc3\xa9.jpg"},
        {".bashrc", "s", "_.bashrc"},
        {"-rf", "s", "_-rf"},
        {"", ".profile", "_.profile"},
        {"", "-n\nx", "_-n_x"},
        {"a.-b", "s", "a.-b"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TArticleDisposition::FileNameFor(c.decoder, c.subject), c.expected)
            << c.decoder.constData() << " / " << c.subject.constData();

    const QByteArray longName = QByteArray(300, 'n') + ".jpeg";
    const QByteArray cut = TArticleDisposition::FileNameFor(longName, "s");
    EXPECT_EQ(cut.size(), 255);
    EXPECT_TRUE(cut.endsWith(".jpeg"));
    // Never cut inside a character: 200 two-byte letters.
    QByteArray wide;
    for (int i = 0; i < 200; ++i)
        wide += "\xC3\xA9";
    const QByteArray wideCut = TArticleDisposition::FileNameFor(wide + ".jpg", "s");
    EXPECT_LE(wideCut.size(), 255);
    EXPECT_TRUE(wideCut.endsWith("\xC3\xA9.jpg"));

    EXPECT_EQ(TArticleDisposition::NumberedName("pic.jpg", 2), "pic-2.jpg");
    EXPECT_EQ(TArticleDisposition::NumberedName("noname", 1), "noname-1");
    EXPECT_EQ(TArticleDisposition::NumberedName("a.b.c", 1), "a.b-1.c");
    const QByteArray longNumbered = TArticleDisposition::NumberedName(cut, 12);
    EXPECT_EQ(longNumbered.size(), 255);
    EXPECT_TRUE(longNumbered.endsWith("-12.jpeg"));
}

TEST_F(Disposition, HostileNamesStayInsideTheOutputFolder)
{
    const QByteArray data = payload(60, 7);
    for (const QByteArray name : {"../../x.jpg", "../escape.jpg", "/tmp/abs.jpg", "sub/dir.jpg"}) {
        EXPECT_EQ(dispose(UuencodeFile(name, data)), TArticleDisposition::OutcomeSaved) << name.constData();
    }
    EXPECT_EQ(outFiles(), (QStringList{"abs.jpg", "dir.jpg", "escape.jpg", "x.jpg"}));
    EXPECT_FALSE(QFileInfo::exists(work.path() + "/escape.jpg"));
    EXPECT_FALSE(QFileInfo::exists(work.path() + "/x.jpg"));

    // ".." as a name falls back to the subject.
    EXPECT_EQ(dispose(UuencodeFile("..", data), 1, "from/the:subject"), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("fromthesubject"), data);

    // A link planted in the output folder is neither written through nor
    // replaced: the picture gets a number beside it.
    QTemporaryDir elsewhere;
    const QString target = elsewhere.path() + "/victim";
    QFile v(target);
    ASSERT_TRUE(v.open(QIODevice::WriteOnly));
    v.write("keep");
    v.close();
    ASSERT_TRUE(QFile::link(target, out + "link.jpg"));
    EXPECT_EQ(dispose(UuencodeFile("link.jpg", data)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(readAll(target), "keep");
    EXPECT_TRUE(QFileInfo(out + "link.jpg").isSymLink());
    EXPECT_EQ(saved("link-1.jpg"), data);
}

// Also where it replaces a file of the same bytes that was executable.
TEST_F(Disposition, SavedFileIsNeverExecutable)
{
    QFile old(out + "run.sh");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(payload(50, 8));
    old.close();
    ASSERT_EQ(::chmod(QFile::encodeName(out + "run.sh").constData(), 0755), 0);

    EXPECT_EQ(dispose(UuencodeFile("run.sh", payload(50, 8))), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(dispose(UuencodeFile("new.sh", payload(50, 9))), TArticleDisposition::OutcomeSaved);
    for (const char *name : {"run.sh", "new.sh"}) {
        struct stat st;
        ASSERT_EQ(::stat(QFile::encodeName(out + name).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0111, 0u) << name;
        EXPECT_NE(st.st_mode & 0400, 0u) << name;
    }
    EXPECT_EQ(saved("run.sh"), payload(50, 8));
    // No temporary files are left behind.
    EXPECT_EQ(outFiles(), (QStringList{"new.sh", "run.sh"}));
}

TEST_F(Disposition, NameFromTheSubjectWhenTheDecoderHasNone)
{
    const QByteArray data = payload(50, 10);
    EXPECT_EQ(dispose(UuencodeFile("", data), 1, "a/b:c"), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("abc"), data);
    EXPECT_EQ(dispose(UuencodeFile("", payload(51, 10)), 1, "<>|?"), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("noname"), payload(51, 10));
}

TEST_F(Disposition, RenameDuplicatesNumbersBeforeTheExtension)
{
    IniWriteBool("CONFIG", "RENAME_DUPLICATES", true);
    for (const char *name : {"pic.jpg", "pic-1.jpg", "noname", "a.b.c"}) {
        QFile f(out + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    const QByteArray p = payload(70, 11), n = payload(71, 11), abc = payload(72, 11);
    EXPECT_EQ(dispose(UuencodeFile("pic.jpg", p)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(d.LastSavedName, "pic-2.jpg");
    EXPECT_EQ(dispose(UuencodeFile("", n), 1, "?"), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(dispose(UuencodeFile("a.b.c", abc)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("pic-2.jpg"), p);
    EXPECT_EQ(saved("noname-1"), n);
    EXPECT_EQ(saved("a.b-1.c"), abc);
    EXPECT_EQ(saved("pic.jpg"), "old");
    EXPECT_EQ(saved("pic-1.jpg"), "old");

    // Off, the different pic.jpg and pic-1.jpg are kept, and the numbered
    // file of the same bytes is the one replaced.
    IniWriteBool("CONFIG", "RENAME_DUPLICATES", false);
    EXPECT_EQ(dispose(UuencodeFile("pic.jpg", p)), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(d.LastSavedName, "pic-2.jpg");
    EXPECT_EQ(saved("pic.jpg"), "old");
    EXPECT_FALSE(QFileInfo::exists(out + "pic-3.jpg"));
    EXPECT_EQ(total("SAVED_COUNT"), 4);
}

TEST_F(Disposition, FileScreeningDropsKnownFilesOnlyWhenOn)
{
    logOn();
    d.LogHeader(group, 1, "s");
    const QByteArray data = payload(90, 12);
    const QByteArray key = TArticleDisposition::ChecksumKey(data);
    EXPECT_EQ(dispose(UuencodeFile("first.jpg", data), 11), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(d.KnownChecksums, QList<QByteArray>{key});

    // Screening off: the same file under another name is saved again, the
    // key list does not grow.
    EXPECT_EQ(dispose(UuencodeFile("second.jpg", data), 12), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("second.jpg"), data);
    EXPECT_EQ(d.KnownChecksums.size(), 1);

    // Switched on later, it drops files saved before the switch.
    IniWriteBool("CONFIG", "FILE_SCREENING", true);
    previews.clear();
    EXPECT_EQ(dispose(UuencodeFile("third.jpg", data), 13), TArticleDisposition::OutcomeDuplicate);
    EXPECT_FALSE(QFileInfo::exists(out + "third.jpg"));
    EXPECT_EQ(previews, QList<QByteArray>{data});
    EXPECT_EQ(total("DUPLICATE_COUNT"), 1);
    EXPECT_EQ(ofGroup("DUPLICATE_BYTES"), 13);
    EXPECT_EQ(ofGroup("SAVED_BYTES"), 23);
    EXPECT_TRUE(logText().endsWith("File 'third.jpg' was a duplicate - CRC-32 = " + key + "\r\n"));

    // Keys are compared without regard to case; a new file is still saved.
    d.KnownChecksums = {key.toLower()};
    EXPECT_EQ(dispose(UuencodeFile("fourth.jpg", data)), TArticleDisposition::OutcomeDuplicate);
    EXPECT_EQ(dispose(UuencodeFile("other.jpg", payload(91, 12))), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(d.KnownChecksums.size(), 2);
}

// Keys are appended as files are saved (each once, whatever its case), and
// the file is written sorted.
TEST_F(Disposition, KnownChecksumsStayUniqueAndAreWrittenSorted)
{
    for (int i = 0; i < 12; ++i)
        dispose(UuencodeFile("f" + QByteArray::number(i), payload(50 + i * 3, 20 + i)));
    dispose(UuencodeFile("again", payload(50, 20)));
    ASSERT_EQ(d.KnownChecksums.size(), 12);
    EXPECT_TRUE(d.IsKnown(TArticleDisposition::ChecksumKey(payload(53, 21)).toLower()));
    d.AddKnown(d.KnownChecksums.first().toLower());
    EXPECT_EQ(d.KnownChecksums.size(), 12);
    ASSERT_TRUE(d.SaveChecksums(prog.path("CRC-32.dat")));
    const QList<QByteArray> written = prog.read("CRC-32.dat").split('\n');
    EXPECT_EQ(written.size(), 13);
    EXPECT_TRUE(std::is_sorted(written.begin(), written.end() - 1));
}

// A save that fails counts nothing, adds no key, previews nothing and
// logs why; the folder is the folder with or without its "/", and nothing
// lands beside it.
TEST_F(Disposition, FailedSaveIsLoggedWithTheSystemsReasonAndNothingElse)
{
    logOn();
    QFile plain(work.path() + "/plain");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    ASSERT_TRUE(QDir(out).mkdir("ro"));
    ASSERT_EQ(::chmod(QFile::encodeName(out + "ro").constData(), 0555), 0);
    struct Case {
        QString dir;
        QByteArray reason;
    };
    QList<Case> cases{{work.path() + "/missing/", "No such file or directory"},
                      {work.path() + "/missing", "No such file or directory"},
                      {work.path() + "/plain", "Not a directory"}};
    if (::geteuid() != 0) // root writes into read-only folders
        cases.append({out + "ro", "Permission denied"});
    for (const Case &c : cases) {
        d.LogHeader(group, 1, "s"); // later lines only append
        IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(c.dir));
        EXPECT_EQ(dispose(UuencodeFile("pic.jpg", payload(80, 13))), TArticleDisposition::OutcomeSaveFailed)
            << c.dir.toStdString();
        EXPECT_EQ(d.SaveError, QString::fromLatin1(c.reason));
        EXPECT_EQ(d.SaveFolder, c.dir.endsWith('/') ? c.dir : c.dir + '/');
        EXPECT_TRUE(logText().contains("Article could not be saved as 'pic.jpg': " + c.reason + "\r\n"));
    }
    EXPECT_EQ(total("SAVED_COUNT"), 0);
    EXPECT_EQ(total("EMPTY_COUNT"), 0);
    EXPECT_TRUE(d.KnownChecksums.isEmpty());
    EXPECT_TRUE(previews.isEmpty());
    EXPECT_TRUE(d.DecodeStream.isEmpty());
    // No temporary left, and no "missingpic.jpg" or "ropic.jpg" beside.
    EXPECT_TRUE(outFiles().isEmpty());
    EXPECT_TRUE(QDir(out + "ro").isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"pixtrawl.log", "plain"}));
    ::chmod(QFile::encodeName(out + "ro").constData(), 0755);
}

// An OUTPUT_DIR typed without its "/" is still the folder the files go in.
TEST_F(Disposition, OutputFolderWithoutItsSlashIsTheFolder)
{
    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(out.chopped(1)));
    EXPECT_EQ(TArticleDisposition::OutputDir(), QFile::encodeName(out));
    EXPECT_EQ(dispose(UuencodeFile("sun set.jpg", payload(80, 14))), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("sun set.jpg"), payload(80, 14));
    EXPECT_FALSE(QFileInfo::exists(work.path() + "/outsun set.jpg"));
}

// Renaming off never costs a picture: a different file of a taken name is
// kept under a number (also past what is no picture at all), the same
// bytes replace their file, and the log says which.
TEST_F(Disposition, ADifferentPictureOfATakenNameIsKeptUnderANumber)
{
    logOn();
    d.LogHeader(group, 1, "s");
    ASSERT_TRUE(QDir(out).mkdir("taken"));
    const QByteArray a = payload(200000, 1);
    QByteArray lateDifference = a; // the same size, differing past the first block read
    lateDifference[a.size() - 1] = char(a.back() ^ 1);
    struct Case {
        QByteArray name, data, savedAs, line;
    };
    const QList<Case> cases{
        {"p1.jpg", a, "p1.jpg", "Article was saved as 'p1.jpg' at 200000 bytes."},
        {"p1.jpg", lateDifference, "p1-1.jpg", "A different file named 'p1.jpg' is in the folder: saved as 'p1-1.jpg'"},
        {"p1.jpg", a, "p1.jpg", "The file 'p1.jpg' in the folder held the same bytes and was replaced."},
        {"p1.jpg", lateDifference, "p1-1.jpg", "The file 'p1-1.jpg' in the folder held the same bytes and was replaced."},
        {"p1.jpg", payload(60, 2), "p1-2.jpg", "A different file named 'p1.jpg' is in the folder: saved as 'p1-2.jpg'"},
        {"taken", payload(61, 3), "taken-1", "A different file named 'taken' is in the folder: saved as 'taken-1'"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(dispose(UuencodeFile(c.name, c.data)), TArticleDisposition::OutcomeSaved) << c.line.constData();
        EXPECT_EQ(d.LastSavedName, c.savedAs);
        EXPECT_EQ(saved(c.savedAs), c.data) << c.savedAs.constData();
        EXPECT_TRUE(logText().contains(c.line + "\r\n")) << c.line.constData();
    }
    EXPECT_EQ(saved("p1.jpg"), a);
    EXPECT_EQ(outFiles(), (QStringList{"p1-1.jpg", "p1-2.jpg", "p1.jpg", "taken-1"}));
}

// The last article of a two-article file whose save fails is fetched again:
// the first article's lines must still be pending then.
TEST_F(Disposition, FailedSaveOfAJoinKeepsThePendingFile)
{
    const QByteArray data = payload(300, 4);
    const QList<QByteArray> whole = UuencodeFile("two.jpg", data);
    const QList<QByteArray> first = whole.mid(0, 3), second = whole.mid(3);
    EXPECT_EQ(dispose(first), TArticleDisposition::OutcomeEmpty);
    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(work.path() + "/missing/"));
    EXPECT_EQ(dispose(second), TArticleDisposition::OutcomeSaveFailed);
    EXPECT_GT(d.PendingSize, 0);
    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(out));
    EXPECT_EQ(dispose(second), TArticleDisposition::OutcomeSaved);
    EXPECT_EQ(saved("two.jpg"), data);
}

TEST_F(Disposition, PreviewOnlyWhenEnabledAndOnlyForFiles)
{
    QList<QByteArray> body = UuencodeFile("p.jpg", payload(60, 14));
    d.Dispose(group, "s", body, 1, false);
    QList<QByteArray> empty{"text"};
    d.Dispose(group, "s", empty, 1, true);
    EXPECT_TRUE(previews.isEmpty());
    EXPECT_EQ(saved("p.jpg"), payload(60, 14));
}

TEST_F(Disposition, ChecksumKeyIsSizeThenCrcInUpperCaseHex)
{
    EXPECT_EQ(TArticleDisposition::ChecksumKey("abc"), "00000003CADBBE3D");
    EXPECT_EQ(TArticleDisposition::ChecksumKey(""), "00000000FFFFFFFF");
    EXPECT_EQ(TArticleDisposition::ChecksumKey(QByteArray(0x1ABCD, 'x')).left(8), "0001ABCD");
}

TEST_F(Disposition, ChecksumFileRoundTrip)
{
    const QString path = prog.path("CRC-32.dat");
    prog.write("CRC-32.dat", "00000003CADBBE3D\r\n0000000A12345678\n\n00000001aaaaaaaa\r\n00000003cadbbe3d\n");
    d.LoadChecksums(path);
    EXPECT_EQ(d.KnownChecksums,
              (QList<QByteArray>{"00000001aaaaaaaa", "00000003CADBBE3D", "0000000A12345678"}));
    ASSERT_TRUE(d.SaveChecksums(path));
    EXPECT_EQ(prog.read("CRC-32.dat"), "00000001aaaaaaaa\r\n00000003CADBBE3D\r\n0000000A12345678\r\n");

    d.LoadChecksums(prog.path("absent.dat"));
    EXPECT_TRUE(d.KnownChecksums.isEmpty());
    EXPECT_FALSE(d.SaveChecksums(prog.path("no/such/folder/CRC-32.dat")));
}

// Each key reaches "CRC-32.dat" as its file is saved, not at close.
TEST_F(Disposition, KeysAreAppendedAsFilesAreSaved)
{
    const QString path = prog.path("CRC-32.dat");
    prog.write("CRC-32.dat", "00000003CADBBE3D\r\n");
    d.LoadChecksums(path);
    dispose(UuencodeFile("a.jpg", payload(70, 1)));
    dispose(UuencodeFile("b.jpg", payload(90, 2)));
    EXPECT_EQ(prog.read("CRC-32.dat"), "00000003CADBBE3D\r\n" + TArticleDisposition::ChecksumKey(payload(70, 1))
                                           + "\r\n" + TArticleDisposition::ChecksumKey(payload(90, 2)) + "\r\n");
}

// A restart fetches the article a killed run was on again: saved once only,
// whether the kill came after its key was appended or just before.
TEST_F(Disposition, ArticleInFlightAtAKillIsNotSavedTwice)
{
    IniWriteBool("CONFIG", "RENAME_DUPLICATES", true);
    const QString path = prog.path("CRC-32.dat");
    for (bool keyWritten : {true, false}) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        QFile::remove(path);
        const QByteArray data = payload(120, keyWritten);
        {
            TArticleDisposition killed{filters};
            killed.LoadChecksums(path);
            QList<QByteArray> body = UuencodeFile("k.jpg", data);
            ASSERT_EQ(killed.Dispose(group, "s", body, 1, false), TArticleDisposition::OutcomeSaved);
        }
        if (!keyWritten)
            QFile::remove(path);
        // The kill took the held counter writes with it.
        IniWriteString("STATISTICS", "SAVED_COUNT", "0");
        IniWriteString("STATISTICS", group + "SAVED_COUNT", "0");
        TArticleDisposition restarted{filters};
        restarted.LoadChecksums(path);
        restarted.InFlightRefetch = true;
        QList<QByteArray> body = UuencodeFile("k.jpg", data);
        EXPECT_EQ(restarted.Dispose(group, "s", body, 1, false), TArticleDisposition::OutcomeSavedBefore);
        EXPECT_EQ(outFiles(), QStringList{"k.jpg"});
        EXPECT_EQ(restarted.KnownChecksums.size(), 1);
        EXPECT_EQ(ofGroup("SAVED_COUNT"), 1); // counted now, once
        EXPECT_EQ(total("SAVED_COUNT"), 1);
        // Not in flight: the same file from another article is numbered as before.
        restarted.InFlightRefetch = false;
        body = UuencodeFile("k.jpg", data);
        EXPECT_EQ(restarted.Dispose(group, "s", body, 1, false), TArticleDisposition::OutcomeSaved);
        EXPECT_EQ(outFiles().size(), 2);
    }
}

// A kill during a uuencoded join, after any of its parts: the part fetched
// again is neither taken in twice nor lost.
TEST_F(Disposition, JoinInterruptedByAKillComesOutWhole)
{
    const QByteArray data = payload(2000, 3);
    const QList<QByteArray> lines = UuencodeFile("j.jpg", data);
    const qsizetype third = lines.size() / 3;
    const QList<QList<QByteArray>> parts{lines.mid(0, third), lines.mid(third, third), lines.mid(2 * third)};
    const QString store = prog.path("Parts");
    for (int killedAfter = 0; killedAfter < 3; ++killedAfter) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        QDir(store).removeRecursively();
        {
            TArticleDisposition killed{filters};
            ASSERT_TRUE(killed.OpenPartsStore(store));
            for (int p = 0; p <= killedAfter; ++p) {
                QList<QByteArray> body = parts[p];
                killed.Dispose(group, "s", body, 1, false);
            }
        }
        TArticleDisposition restarted{filters};
        ASSERT_TRUE(restarted.OpenPartsStore(store));
        for (int p = killedAfter; p < 3; ++p) {
            restarted.InFlightRefetch = p == killedAfter;
            QList<QByteArray> body = parts[p];
            restarted.Dispose(group, "s", body, 1, false);
        }
        EXPECT_EQ(outFiles(), QStringList{"j.jpg"}) << killedAfter;
        EXPECT_EQ(saved("j.jpg"), data) << killedAfter;
    }

    // Killed after the join was saved and the pointer moved on, before its
    // lines were cleared: the next join does not meet them.
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    QDir(store).removeRecursively();
    {
        TArticleDisposition killed{filters};
        killed.DeferReleases = true;
        ASSERT_TRUE(killed.OpenPartsStore(store));
        for (int p = 0; p < 3; ++p) {
            QList<QByteArray> body = parts[p];
            killed.Dispose(group, "s", body, 1, false);
            if (p < 2)
                killed.Committed();
        }
    }
    const QByteArray other = payload(1500, 4);
    const QList<QByteArray> next = UuencodeFile("k.jpg", other);
    TArticleDisposition restarted{filters};
    ASSERT_TRUE(restarted.OpenPartsStore(store));
    for (const QList<QByteArray> &part : {next.mid(0, next.size() / 2), next.mid(next.size() / 2)}) {
        QList<QByteArray> body = part;
        restarted.Dispose(group, "t", body, 1, false);
    }
    EXPECT_EQ(outFiles(), (QStringList{"j.jpg", "k.jpg"}));
    EXPECT_EQ(saved("j.jpg"), data);
    EXPECT_EQ(saved("k.jpg"), other);
}

TEST(ResumedInFlight, OnlyTheUnfinishedMarkedArticle)
{
    const TGroupMark open{"<m@x>", 7}, done{"<m@x>+", 7}, noId{"", 7};
    EXPECT_TRUE(ResumedInFlight(open, 7, "<m@x>"));
    EXPECT_TRUE(ResumedInFlight(noId, 7, "<m@x>"));
    EXPECT_FALSE(ResumedInFlight(open, 7, "<other@x>")); // renumbered by the server
    EXPECT_FALSE(ResumedInFlight(open, 8, "<m@x>"));
    EXPECT_FALSE(ResumedInFlight(done, 7, "<m@x>"));
}

} // namespace
