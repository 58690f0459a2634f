#include "TempProgramDir.h"
#include "ZqIniFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

class IniTest : public ::testing::Test {
protected:
    TempProgramDir prog;
    QByteArray file() const { return prog.read(QStringLiteral("pixtrawl.ini")); }
    void setFile(const QByteArray &data) const { prog.write(QStringLiteral("pixtrawl.ini"), data); }
};

} // namespace

TEST(SettingsPath, ReplacesOrAppendsTheExtension)
{
    SetProgramFilePathOverride(QStringLiteral("/opt/px/pixtrawl"));
    EXPECT_EQ(SettingsFilePath(), QStringLiteral("/opt/px/pixtrawl.ini"));
    EXPECT_EQ(ProgramDirectory(), QStringLiteral("/opt/px/"));
    SetProgramFilePathOverride(QStringLiteral("/opt/px/pixtrawl.bin"));
    EXPECT_EQ(SettingsFilePath(), QStringLiteral("/opt/px/pixtrawl.ini"));
    SetProgramFilePathOverride(QStringLiteral("/opt/p.x/pixtrawl"));
    EXPECT_EQ(SettingsFilePath(), QStringLiteral("/opt/p.x/pixtrawl.ini"));
    SetProgramFilePathOverride(QString());
    EXPECT_TRUE(ProgramSettingsFilePath().endsWith(QStringLiteral("test_settings.ini")));
}

TEST_F(IniTest, NoFileGivesDefaultsAndFirstWriteCreatesIt)
{
    EXPECT_FALSE(QFile::exists(prog.iniPath()));
    EXPECT_EQ(IniReadString("CONFIG", "HOST", "dflt"), QByteArray("dflt"));
    EXPECT_TRUE(IniReadBool("CONFIG", "LOG", true));
    EXPECT_FALSE(IniReadBool("CONFIG", "LOG", false));
    EXPECT_EQ(IniReadInteger("CONFIG", "PORT", 119), 119);
    EXPECT_FALSE(QFile::exists(prog.iniPath()));

    EXPECT_TRUE(IniWriteString("CONFIG", "HOST", "news.example"));
    EXPECT_EQ(file(), QByteArray("[CONFIG]\r\nHOST=news.example\r\n"));
    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("news.example"));
}

TEST_F(IniTest, SectionsAndKeysIgnoreCaseAndBlanksAroundValuesAreTrimmed)
{
    setFile("[config]\nHost =  news.example  \n[Groups]\nalt.Pics=12,<a@b>+\n");
    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("news.example"));
    EXPECT_EQ(IniReadString("GROUPS", "ALT.PICS", ""), QByteArray("12,<a@b>+"));
    // A key of another section is not found.
    EXPECT_EQ(IniReadString("GROUPS", "HOST", "none"), QByteArray("none"));
}

TEST_F(IniTest, OneMatchingPairOfQuotesIsStripped)
{
    setFile("[S]\na=\"quoted\"\nb='single'\nc=\"mixed'\nd=\"\"\ne=\"\nf=\"\"x\"\"\n");
    EXPECT_EQ(IniReadString("S", "a", "?"), QByteArray("quoted"));
    EXPECT_EQ(IniReadString("S", "b", "?"), QByteArray("single"));
    EXPECT_EQ(IniReadString("S", "c", "?"), QByteArray("\"mixed'"));
    EXPECT_EQ(IniReadString("S", "d", "?"), QByteArray(""));
    EXPECT_EQ(IniReadString("S", "e", "?"), QByteArray("\""));
    EXPECT_EQ(IniReadString("S", "f", "?"), QByteArray("\"x\""));
}

TEST_F(IniTest, EmptyIsNotAbsent)
{
    setFile("[CONFIG]\nHOST=\nLOG=\nPORT=\n");
    EXPECT_EQ(IniReadString("CONFIG", "HOST", "dflt"), QByteArray(""));
    EXPECT_TRUE(IniReadBool("CONFIG", "LOG", false));
    EXPECT_EQ(IniReadInteger("CONFIG", "PORT", 119), 119);
}

TEST_F(IniTest, BooleanIsFalseOnlyForN)
{
    setFile("[C]\na=n\nb=N\nc=no\nd=0\ne=false\nf=Y\ng=  n  \n");
    EXPECT_FALSE(IniReadBool("C", "a", true));
    EXPECT_FALSE(IniReadBool("C", "b", true));
    EXPECT_TRUE(IniReadBool("C", "c", false));
    EXPECT_TRUE(IniReadBool("C", "d", false));
    EXPECT_TRUE(IniReadBool("C", "e", false));
    EXPECT_TRUE(IniReadBool("C", "f", false));
    EXPECT_FALSE(IniReadBool("C", "g", true));
    IniWriteBool("C", "h", false);
    IniWriteBool("C", "i", true);
    EXPECT_EQ(IniReadString("C", "h", ""), QByteArray("N"));
    EXPECT_EQ(IniReadString("C", "i", ""), QByteArray("Y"));
}

TEST_F(IniTest, IntegersOutsideThirtyTwoBitsOrNotNumbersGiveTheDefault)
{
    setFile("[C]\na=abc\nb=2147483648\nc=-2147483648\nd=42\ne=4294967297\n");
    EXPECT_EQ(IniReadInteger("C", "a", 119), 119);
    EXPECT_EQ(IniReadInteger("C", "b", 119), 119);
    EXPECT_EQ(IniReadInteger("C", "c", 119), INT32_MIN);
    EXPECT_EQ(IniReadInteger("C", "d", 119), 42);
    EXPECT_EQ(IniReadInteger("C", "e", 119), 119); // would wrap to 1
    IniWriteInteger("C", "f", -17);
    EXPECT_EQ(IniReadString("C", "f", ""), QByteArray("-17"));
}

TEST_F(IniTest, LongValuesAreReadWhole)
{
    // A list of 302 groups is far past the old 4095-byte cut.
    QByteArray big;
    for (int i = 0; i < 302; ++i)
        big += "alt.binaries.pictures.group" + QByteArray::number(i) + ',';
    IniWriteString("GROUPS", "LIST", big);
    EXPECT_EQ(IniReadString("GROUPS", "LIST", ""), big);
    // The file itself keeps the whole value.
    EXPECT_TRUE(file().contains(big));
}

TEST_F(IniTest, WritesReplaceInPlaceAddToTheirSectionAndKeepEverythingElse)
{
    setFile("; my settings\n[CONFIG]\nHOST=old\n# unknown=1\nCUSTOM=keep me\n\n[WINDOW]\nLEFT=3\n");
    IniWriteString("config", "host", "new");
    IniWriteString("CONFIG", "PORT", "119");
    IniWriteString("STATISTICS", "TIME", "5");
    EXPECT_EQ(file(), QByteArray("; my settings\r\n[CONFIG]\r\nhost=new\r\n# unknown=1\r\nCUSTOM=keep me\r\n"
                                 "PORT=119\r\n\r\n[WINDOW]\r\nLEFT=3\r\n\r\n[STATISTICS]\r\nTIME=5\r\n"));
}

TEST_F(IniTest, ValuesAreBytesWrittenBackUnchanged)
{
    const QByteArray latin1("gr\xfc\xdf" "e \xff\x80 end", 13);
    IniWriteString("GROUPS", "de.alt.b\xe4r", latin1);
    EXPECT_EQ(IniReadString("GROUPS", "de.alt.b\xe4r", ""), latin1);
}

TEST_F(IniTest, CommentedOutKeyIsNotRead)
{
    setFile("[C]\n;HOST=commented\n");
    EXPECT_EQ(IniReadString("C", "HOST", "d"), QByteArray("d"));
    EXPECT_EQ(IniReadString("C", ";HOST", "d"), QByteArray("d"));
}

TEST_F(IniTest, FailedWriteIsSilentAndChangesNothing)
{
    QDir().mkpath(prog.path(QStringLiteral("pixtrawl.ini"))); // a folder where the file should be
    EXPECT_FALSE(IniWriteString("C", "K", "V"));
    EXPECT_EQ(IniReadString("C", "K", "d"), QByteArray("d"));
}

// Rewriting in place could leave an empty file when killed: a folder no new
// file can be made in fails the write and keeps the file as it was.
TEST_F(IniTest, ReadOnlyFolderFailsTheWriteAndKeepsTheFile)
{
    IniWriteString("C", "K", "1");
    const auto all = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    const auto exec = QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    const auto write = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    QFile::setPermissions(prog.iniPath(), all | write);
    QFile::setPermissions(prog.dir(), all | exec); // nobody may create files here
    QStringList cmd;
    if (geteuid() == 0) // root ignores folder permissions: write as nobody
        cmd << QStringLiteral("setpriv") << QStringLiteral("--reuid=65534") << QStringLiteral("--regid=65534")
            << QStringLiteral("--clear-groups");
    cmd << QStringLiteral(INI_WRITER_CHILD) << prog.dir() + QStringLiteral("pixtrawl") << QStringLiteral("once")
        << QStringLiteral("K") << QStringLiteral("2");
    const int rc = QProcess::execute(cmd.takeFirst(), cmd);
    QFile::setPermissions(prog.dir(), all | exec | QFileDevice::WriteOwner);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(IniReadString("C", "K", ""), QByteArray("1"));
    EXPECT_EQ(QDir(prog.dir()).entryList(QDir::Files), QStringList{QStringLiteral("pixtrawl.ini")});
}

TEST_F(IniTest, WriteKeepsTheFilesPermissions)
{
    IniWriteString("C", "K", "1");
    QFile::setPermissions(prog.iniPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    IniWriteString("C", "K", "2");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(prog.iniPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// Replacements swap in a version written over the one swapped out before;
// that must never write through another name of the file, nor outlive us.
TEST_F(IniTest, ReplacementsLeaveHardLinksAloneAndNothingBehindAtExit)
{
    IniWriteString("C", "K", "1");
    const QString other = prog.dir() + QStringLiteral("kept.ini");
    ASSERT_EQ(::link(QFile::encodeName(prog.iniPath()).constData(), QFile::encodeName(other).constData()), 0);
    for (const char *v : {"2", "3", "4", "5"})
        IniWriteString("C", "K", v);
    EXPECT_EQ(prog.read(QStringLiteral("kept.ini")), QByteArray("[C]\r\nK=1\r\n"));
    EXPECT_EQ(file(), QByteArray("[C]\r\nK=5\r\n"));
    IniWriteString("C", "K", "a longer value than before");
    IniWriteString("C", "K", "6"); // overwrites the longer version: cut to size
    EXPECT_EQ(file(), QByteArray("[C]\r\nK=6\r\n"));

    QFile::remove(other);
    const QStringList args{prog.dir() + QStringLiteral("pixtrawl"), QStringLiteral("once"), QStringLiteral("K"),
                           QStringLiteral("7")};
    ASSERT_EQ(QProcess::execute(QStringLiteral(INI_WRITER_CHILD), args), 0);
    ASSERT_EQ(QProcess::execute(QStringLiteral(INI_WRITER_CHILD), args), 0);
    const QStringList left = QDir(prog.dir()).entryList(QDir::Files);
    EXPECT_EQ(left.size(), 2) << left.join(' ').toStdString(); // the settings and this process's spare
    EXPECT_TRUE(left.contains(QStringLiteral("pixtrawl.ini")));
}

// The swapped-out version is held open between replacements: a file put at
// its name meanwhile is neither written nor swapped into place.
TEST_F(IniTest, AFilePutAtTheSpareNameIsLeftAlone)
{
    for (const char *v : {"1", "2", "3"})
        IniWriteString("C", "K", v);
    const QStringList spares = QDir(prog.dir()).entryList({QStringLiteral("pixtrawl.ini.tmp-*")}, QDir::Files);
    ASSERT_EQ(spares.size(), 1);
    const QString spare = prog.dir() + spares.first();
    const QString mine = prog.dir() + QStringLiteral("mine.txt");
    {
        QFile f(mine);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not settings");
    }
    ASSERT_EQ(::rename(QFile::encodeName(mine).constData(), QFile::encodeName(spare).constData()), 0);
    for (const char *v : {"4", "5"})
        IniWriteString("C", "K", v);
    EXPECT_EQ(file(), QByteArray("[C]\r\nK=5\r\n"));
    EXPECT_EQ(prog.read(spares.first()), QByteArray("not settings"));
    EXPECT_EQ(IniReadString("C", "K", ""), QByteArray("5"));
}

TEST(Counter, ParsesAsFloatingPointAndRounds)
{
    EXPECT_EQ(CounterParse("12"), 12);
    EXPECT_EQ(CounterParse("x"), 0);
    EXPECT_EQ(CounterParse(""), 0);
    EXPECT_EQ(CounterParse("2.5"), 3);
    EXPECT_EQ(CounterParse("1.5e3"), 1500);
    EXPECT_EQ(CounterParse("-7"), -7);
    EXPECT_EQ(CounterParse("12abc"), 0);
    EXPECT_EQ(CounterParse("1e300"), 0);
    EXPECT_EQ(CounterFormat(42), QByteArray("42"));
    EXPECT_EQ(CounterFormat(999999999999999LL), QByteArray("999999999999999"));
    EXPECT_EQ(CounterFormat(5000000000LL), QByteArray("5000000000"));
    EXPECT_EQ(CounterFormat(-7), QByteArray("-7"));
    EXPECT_EQ(CounterFormat(1000000000000000LL), QByteArray("1e+15"));
    EXPECT_EQ(CounterParse(CounterFormat(1000000000000000LL)), 1000000000000000LL);
}

TEST_F(IniTest, KillDuringWritesLeavesAValidFile)
{
    QProcess child;
    child.start(QStringLiteral(INI_WRITER_CHILD), {prog.dir() + QStringLiteral("pixtrawl")});
    ASSERT_TRUE(child.waitForStarted());
    // A slow (sanitized, busy) machine may take a while over the first write:
    // half a minute only bounds a hang.
    for (int i = 0; i < 3000 && !QFile::exists(prog.iniPath()); ++i)
        QThread::msleep(10);
    ASSERT_TRUE(QFile::exists(prog.iniPath()));
    for (int round = 0; round < 5; ++round) {
        QThread::msleep(30 + QRandomGenerator::global()->bounded(40));
        ::kill(pid_t(child.processId()), SIGSTOP);
        // Whatever moment we stopped it at, the file parses fully.
        EXPECT_GE(IniReadString("STATISTICS", "SAVED_COUNT", "-1").toLongLong(), 0);
        for (int g = 0; g < 50; ++g) {
            const QByteArray v = IniReadString("GROUPS", "alt.binaries.test" + QByteArray::number(g), "?");
            if (v != "?") {
                EXPECT_EQ(v.size(), 2000);
            }
        }
        ::kill(pid_t(child.processId()), SIGCONT);
    }
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished();
    EXPECT_GE(IniReadString("STATISTICS", "SAVED_COUNT", "-1").toLongLong(), 0);
    const QByteArray data = file();
    EXPECT_TRUE(data.startsWith("[STATISTICS]\r\nSAVED_COUNT="));
    EXPECT_TRUE(data.endsWith("\r\n"));
    // No temporary files are left behind to pile up... apart from the one the kill interrupted.
    EXPECT_LE(QDir(prog.dir()).entryList(QDir::Files).size(), 2);
}

namespace {

// Past the coarse file clock's tick, so the copy in memory is trusted.
void settle() { QThread::msleep(60); }

ino_t inodeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

TEST_F(IniTest, HandEditIsSeenAtTheNextRead)
{
    setFile("[CONFIG]\nHOST=aaaa\n");
    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("aaaa"));
    settle();
    // Same size, rewritten in place: only the modification time tells.
    setFile("[CONFIG]\nHOST=bbbb\n");
    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("bbbb"));
    settle();
    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("bbbb"));
    // Same size and time, but a new file renamed over it (what editors do).
    struct stat before;
    ASSERT_EQ(::stat(QFile::encodeName(prog.iniPath()).constData(), &before), 0);
    const QString other = prog.iniPath() + QStringLiteral(".new");
    {
        QFile f(other);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[CONFIG]\nHOST=cccc\n");
    }
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(other).constData(), times, 0), 0);
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(prog.iniPath()).constData()), 0);
    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("cccc"));
    // A value added by hand to a file this program wrote.
    ASSERT_TRUE(IniWriteString("CONFIG", "PORT", "119"));
    settle();
    setFile(file() + "LOG=Y\r\n");
    EXPECT_TRUE(IniReadBool("CONFIG", "LOG", false));
    EXPECT_EQ(IniReadInteger("CONFIG", "PORT", 0), 119);
    // The settings a link to a file in another folder, edited there.
    QTemporaryDir elsewhere;
    const QString real = elsewhere.filePath(QStringLiteral("real.ini"));
    ASSERT_TRUE(QFile::rename(prog.iniPath(), real));
    ASSERT_TRUE(QFile::link(real, prog.iniPath()));
    settle();
    EXPECT_EQ(IniReadInteger("CONFIG", "PORT", 0), 119);
    {
        QFile f(real);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("USER=me\r\n");
    }
    EXPECT_EQ(IniReadString("CONFIG", "USER", ""), QByteArray("me"));
}

// What a read gives right after a write is what the file gives when read
// afresh, however the written line reads back.
TEST_F(IniTest, ReadsAfterWritesAgreeWithTheFile)
{
    setFile("[A]\nK=old\n[B]\nX=1\n[a]\nL=second\n;M=comment\n");
    EXPECT_EQ(IniReadString("a", "L", ""), QByteArray("second"));
    const struct {
        QByteArray section, key, value;
    } writes[] = {
        {"A", "K", "new"}, {"a", "L", "into the first"}, {"A", "M", " padded "}, {"A", "Q", "'quoted'"},
        {"B", " spaced ", "v"}, {"C", "K", ""}, {"A", "K", "\"half"},
    };
    for (const auto &w : writes) {
        const QByteArray keys[2] = {w.key, "2" + w.key};
        settle();
        IniReadString("A", "K", ""); // the file as this program last saw it, trusted
        IniWriteString(w.section, keys[0], w.value);
        IniGatherWrites();
        IniWriteString(w.section, keys[1], w.value);
        IniFlushWrites();
        QByteArray seen[2], afresh[2];
        for (int i = 0; i < 2; ++i)
            seen[i] = IniReadString(w.section, keys[i].trimmed(), "?");
        settle();
        setFile(file()); // the same bytes, read again
        for (int i = 0; i < 2; ++i) {
            afresh[i] = IniReadString(w.section, keys[i].trimmed(), "?");
            EXPECT_EQ(seen[i], afresh[i]) << w.section.constData() << '/' << w.key.constData();
        }
    }
}

TEST_F(IniTest, GatheredWritesAreReadAtOnceAndReplaceTheFileOnceAtTheFlush)
{
    setFile("[CONFIG]\nHOST=news\n");
    const ino_t start = inodeOf(prog.iniPath());
    IniGatherWrites();
    IniGatherWrites(); // nested: only the outer flush writes
    EXPECT_TRUE(IniWriteString("GROUPS", "alt.a", "5,<m@x>"));
    EXPECT_TRUE(IniWriteString("STATISTICS", "SAVED_COUNT", "1"));
    EXPECT_TRUE(IniWriteString("GROUPS", "alt.a", "5,<m@x>+"));
    EXPECT_EQ(IniReadString("GROUPS", "ALT.A", ""), QByteArray("5,<m@x>+"));
    EXPECT_TRUE(IniFlushWrites());
    EXPECT_EQ(inodeOf(prog.iniPath()), start); // nothing written yet
    EXPECT_EQ(file(), QByteArray("[CONFIG]\nHOST=news\n"));
    // An edit by hand while writes are held is kept, the held writes on top.
    settle();
    setFile("[CONFIG]\nHOST=other\nLOG=Y\n");
    EXPECT_TRUE(IniFlushWrites());
    EXPECT_EQ(file(), QByteArray("[CONFIG]\r\nHOST=other\r\nLOG=Y\r\n\r\n[GROUPS]\r\nalt.a=5,<m@x>+\r\n\r\n"
                                 "[STATISTICS]\r\nSAVED_COUNT=1\r\n"));
    EXPECT_EQ(IniReadString("STATISTICS", "SAVED_COUNT", ""), QByteArray("1"));
    // Outside gathering a write goes straight to the file.
    EXPECT_TRUE(IniWriteString("STATISTICS", "SAVED_COUNT", "2"));
    EXPECT_TRUE(file().contains("SAVED_COUNT=2"));
}

// A stretch of held writes reads the file as it first found it; its flush
// and every read after it see an edit made by hand meanwhile.
TEST_F(IniTest, AHeldStretchReadsOnceAndItsFlushSeesEditsMadeMeanwhile)
{
    setFile("[CONFIG]\nHOST=news\n");
    IniGatherWrites();
    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("news"));
    settle();
    setFile("[CONFIG]\nHOST=other\n");
    IniWriteString("GROUPS", "alt.a", "1,");
    EXPECT_TRUE(IniFlushWrites());
    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("other"));
    EXPECT_EQ(file(), QByteArray("[CONFIG]\r\nHOST=other\r\n\r\n[GROUPS]\r\nalt.a=1,\r\n"));
    settle();
    setFile("[CONFIG]\nHOST=third\n");
    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("third"));
}

TEST_F(IniTest, StartRemovesTemporaryFilesOfDeadWritersOnly)
{
    QProcess child;
    child.start(QStringLiteral(INI_WRITER_CHILD), {prog.dir() + QStringLiteral("pixtrawl")});
    ASSERT_TRUE(child.waitForStarted());
    for (int i = 0; i < 3000 && !QFile::exists(prog.iniPath()); ++i)
        QThread::msleep(10);
    const QByteArray dead = QByteArray::number(child.processId());
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished();

    auto make = [&](const QString &name, const QByteArray &data, int ageSeconds) {
        prog.write(name, data);
        QFile f(prog.path(name));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
    };
    const QByteArray live = QByteArray::number(QCoreApplication::applicationPid());
    make("pixtrawl.ini.tmp-" + dead + "-a1B2c3", "half", 0);     // the killed writer's
    make("pixtrawl.ini.tmp-" + live + "-a1B2c3", "", 7200);       // a running writer's
    make("pixtrawl.ini.Ab12Cd", "", 7200);                        // an earlier version's, long left
    make("pixtrawl.ini.Zz99Yy", "", 0);                           // ... or being written right now
    make("pixtrawl.ini.backup", "[CONFIG]\r\n", 7200);            // the user's own
    EXPECT_GE(IniRemoveStaleTemps(), 2);
    QStringList left = QDir(prog.dir()).entryList(QDir::Files);
    QStringList kept{"pixtrawl.ini", "pixtrawl.ini.backup", "pixtrawl.ini.tmp-" + live + "-a1B2c3",
                     "pixtrawl.ini.Zz99Yy"};
    left.sort();
    kept.sort();
    EXPECT_EQ(left, kept);
}
