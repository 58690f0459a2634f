#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// An installed program with a home of its own, in the XDG layout.
class XdgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = {{"HOME", qgetenv("HOME")}, {"XDG_CONFIG_HOME", qgetenv("XDG_CONFIG_HOME")},
                  {"XDG_DATA_HOME", qgetenv("XDG_DATA_HOME")}, {"XDG_CACHE_HOME", qgetenv("XDG_CACHE_HOME")},
                  {"XDG_STATE_HOME", qgetenv("XDG_STATE_HOME")}};
        for (const auto &[name, value] : saved_)
            qunsetenv(name);
        qputenv("HOME", QFile::encodeName(home.path()));
        ZqPaths::SetLayout(ZqPaths::Xdg);
    }
    void TearDown() override
    {
        for (const auto &[name, value] : saved_)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    QString inHome(const QString &rel) const { return home.path() + QLatin1Char('/') + rel; }

    TempProgramDir prog; // the program's own folder
    QTemporaryDir home;
    std::vector<std::pair<const char *, QByteArray>> saved_;
};

} // namespace

TEST(Layout, PortableOnlyWhenTheProgramFolderHoldsWritableSettings)
{
    QTemporaryDir d;
    const QString exe = d.path() + QStringLiteral("/pixtrawl");
    EXPECT_EQ(ZqPaths::LayoutFor(exe), ZqPaths::Xdg);
    QDir().mkdir(d.path() + QStringLiteral("/pixtrawl.ini"));
    EXPECT_EQ(ZqPaths::LayoutFor(exe), ZqPaths::Xdg); // a folder of that name is no settings file
    QDir().rmdir(d.path() + QStringLiteral("/pixtrawl.ini"));
    QFile f(d.path() + QStringLiteral("/pixtrawl.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(ZqPaths::LayoutFor(exe), ZqPaths::Portable);
    if (geteuid() != 0) { // root may write anywhere; the install test covers it as nobody
        QFile::setPermissions(d.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_EQ(ZqPaths::LayoutFor(exe), ZqPaths::Xdg);
        QFile::setPermissions(d.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

TEST_F(XdgTest, EveryFileInItsPlaceAndFirstStartProposesThePicturesFolder)
{
    // An administrator's settings beside the program are where a new user starts.
    prog.write(QStringLiteral("pixtrawl.ini"), "[CONFIG]\r\nHOST=news.site.example\r\n");
    EXPECT_EQ(ZqPaths::Prepare(), QString());

    EXPECT_EQ(SettingsFilePath(), inHome(QStringLiteral(".config/pixtrawl/pixtrawl.ini")));
    EXPECT_EQ(ZqPaths::DataDir(), inHome(QStringLiteral(".local/share/pixtrawl/")));
    EXPECT_EQ(ZqPaths::CacheDir(), inHome(QStringLiteral(".cache/pixtrawl/")));
    EXPECT_EQ(ZqPaths::LogFile(), inHome(QStringLiteral(".local/state/pixtrawl/pixtrawl.log")));
    for (const QString &dir : {ZqPaths::DataDir(), ZqPaths::CacheDir(), ZqPaths::StateDir()})
        EXPECT_TRUE(QFileInfo(dir).isDir()) << dir.toStdString();

    EXPECT_EQ(IniReadString("CONFIG", "HOST", ""), QByteArray("news.site.example"));
    const QByteArray pictures = QFile::encodeName(inHome(QStringLiteral("Pictures/Pixtrawl/")));
    EXPECT_EQ(IniReadString("CONFIG", "OUTPUT_DIR", ""), pictures);
    EXPECT_TRUE(QFileInfo(QFile::decodeName(pictures)).isDir());

    // Later starts keep what the user chose.
    IniWriteString("CONFIG", "OUTPUT_DIR", "/srv/pics/");
    ZqPaths::Prepare();
    EXPECT_EQ(IniReadString("CONFIG", "OUTPUT_DIR", ""), QByteArray("/srv/pics/"));
    // The program folder's file is left alone.
    EXPECT_EQ(prog.read(QStringLiteral("pixtrawl.ini")), QByteArray("[CONFIG]\r\nHOST=news.site.example\r\n"));
}

// A settings file made at the first start screens known files and numbers
// clashing names; an administrator's choice in the seed stays, and a file
// that already exists gets no keys it did not have.
TEST_F(XdgTest, ANewSettingsFileStartsWithScreeningAndRenamingOn)
{
    struct Case {
        const char *name;
        QByteArray seed, existing; // empty: none
        const char *screening, *renaming; // as read back; "" for missing
    };
    const QList<Case> cases{
        {"new", "", "", "Y", "Y"},
        {"seeded", "[CONFIG]\r\nHOST=h\r\nFILE_SCREENING=N\r\n", "", "N", "Y"},
        {"existing", "", "[CONFIG]\r\nHOST=h\r\n", "", ""},
    };
    for (const Case &c : cases) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(inHome(QString::fromLatin1(c.name))));
        QFile::remove(prog.path(QStringLiteral("pixtrawl.ini")));
        if (!c.seed.isEmpty())
            prog.write(QStringLiteral("pixtrawl.ini"), c.seed);
        if (!c.existing.isEmpty()) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(SettingsFilePath()).absolutePath()));
            QFile f(SettingsFilePath());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.existing);
        }
        EXPECT_EQ(ZqPaths::Prepare(), QString());
        EXPECT_EQ(IniReadString("CONFIG", "FILE_SCREENING", ""), QByteArray(c.screening)) << c.name;
        EXPECT_EQ(IniReadString("CONFIG", "RENAME_DUPLICATES", ""), QByteArray(c.renaming)) << c.name;
        // A second start changes nothing.
        IniWriteBool("CONFIG", "RENAME_DUPLICATES", false);
        ZqPaths::Prepare();
        EXPECT_FALSE(IniReadBool("CONFIG", "RENAME_DUPLICATES", true)) << c.name;
    }
}

TEST_F(XdgTest, StateFolderFromTheEnvironmentOnlyWhenAbsolute)
{
    qputenv("XDG_STATE_HOME", "relative/state");
    EXPECT_EQ(ZqPaths::StateDir(), inHome(QStringLiteral(".local/state/pixtrawl/")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(inHome(QStringLiteral("st"))));
    EXPECT_EQ(ZqPaths::StateDir(), inHome(QStringLiteral("st/pixtrawl/")));
}

TEST_F(XdgTest, UnwritableSettingsAreNamedWithTheReason)
{
    // The configuration home is a plain file: no folder can be made in it.
    const QString blocker = inHome(QStringLiteral("config-file"));
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker));

    const QString problem = ZqPaths::Prepare();
    EXPECT_TRUE(problem.contains(blocker + QStringLiteral("/pixtrawl"))) << problem.toStdString();
    EXPECT_TRUE(problem.contains(QStringLiteral("Not a directory"))) << problem.toStdString();
    EXPECT_FALSE(IniWriteString("CONFIG", "HOST", "x"));
    EXPECT_EQ(ZqPaths::SettingsWriteProblem(), problem);
}
