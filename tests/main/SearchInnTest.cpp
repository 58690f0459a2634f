// The corpus of tests/data/corpus posted to a real INN2 server
// (tests/inn/start_inn.sh) and grabbed from it by the main window.
#include "TFrmMain.h"

#include "InnServer.h"
#include "MessageRecorder.h"
#include "SampleSpool.h"
#include "TStatusField.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <ostream>

void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << '"' << QByteArray(bytes).replace("\r", "\\r").replace("\n", "\\n").constData() << '"';
}

namespace {

const QString Corpus = QStringLiteral(PIXTRAWL_TEST_DATA "/corpus");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray original(const char *name) { return readFile(Corpus + QStringLiteral("/pictures/") + QLatin1String(name)); }

// Run over the open reader, and over the one that speaks TLS and wants a
// login; each compressed (INN offers it) and with COMPRESS=N.
class SearchInn : public ::testing::TestWithParam<std::tuple<bool, bool>> {
protected:
    // The spool's two groups, posted in order under fresh names; INN numbers
    // them 1, 2, ... without the spool's gap.
    static void SetUpTestSuite()
    {
        setupError_.clear();
        posted_[0].clear();
        posted_[1].clear();
        if (InnServer::Port() == 0)
            return;
        const QList<FakeNntpServer::Group> spool = LoadSampleSpool(Corpus + QStringLiteral("/spool"));
        if (spool.size() != 2) {
            setupError_ = "corpus spool not found";
            return;
        }
        for (int g = 0; g < 2; ++g) {
            names_[g] = InnServer::UniqueGroupName(g == 0 ? "pixtrawl.e2e.one" : "pixtrawl.e2e.two");
            for (const FakeNntpServer::Article &a : spool[g].articles) {
                InnServer::Article posted;
                posted.subject = a.subject;
                posted.body = a.body;
                posted_[g] << posted;
            }
            QString error;
            if (!InnServer::CreateGroupWithArticles(names_[g], posted_[g], &error)) {
                setupError_ = error.toStdString();
                return;
            }
        }
    }

    void SetUp() override
    {
        if (InnServer::Port() == 0)
            GTEST_SKIP() << InnServer::SkipReason().toStdString();
        ASSERT_TRUE(setupError_.empty()) << setupError_;
        QApplication::setQuitOnLastWindowClosed(false);
        oldCwd_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work.path()));
        IniWriteString("CONFIG", "HOST", "127.0.0.1");
        IniWriteInteger("CONFIG", "PORT", InnServer::Port());
        if (!compressed())
            IniWriteString("CONFIG", "COMPRESS", "N");
        if (tls()) {
            ASSERT_NE(InnServer::TlsPort(), 0) << "start_inn.sh started no TLS reader";
            IniWriteString("CONFIG", "TLS", "yes");
            IniWriteInteger("CONFIG", "PORT", InnServer::TlsPort());
            IniWriteString("CONFIG", "USER", InnServer::Setting("PIXTRAWL_INN_USER"));
            IniWriteString("CONFIG", "PASSWORD", InnServer::Setting("PIXTRAWL_INN_PASSWORD"));
            // Its certificate is self-signed: trusted as the user would, by fingerprint.
            IniWriteString("CONFIG", "TLS_TRUSTED_SHA256", InnServer::Setting("PIXTRAWL_INN_TLS_SHA256"));
            IniWriteString("CONFIG", "TLS_TRUSTED_HOST", "127.0.0.1");
        }
        QDir().mkpath(dir.path(QStringLiteral("out")));
        IniWriteString("CONFIG", "OUTPUT_DIR", out().toLocal8Bit());
        IniWriteBool("CONFIG", "LOG", true);
        IniWriteBool("CONFIG", "EXIT_PROMPT", false);
        IniWriteBool("CONFIG", "FILE_SCREENING", true);
        IniWriteString("GROUPS", "LIST", names_[0] + ',' + names_[1] + ',');
        IniWriteString("FILTER", "EXCLUDE", "spam,");
    }
    void TearDown() override
    {
        if (!oldCwd_.isEmpty())
            QDir::setCurrent(oldCwd_);
    }

    static bool tls() { return std::get<0>(GetParam()); }
    static bool compressed() { return std::get<1>(GetParam()); }
    QString out() const { return dir.path(QStringLiteral("out/")); }
    void expectCorpusGrabbed(const QString &logPath, const QString &crcPath);

    static QByteArray names_[2];
    static QList<InnServer::Article> posted_[2];
    static std::string setupError_;

    QTemporaryDir work;
    TempProgramDir dir;
    MessageRecorder boxes;

private:
    QString oldCwd_;
};

QByteArray SearchInn::names_[2];
QList<InnServer::Article> SearchInn::posted_[2];
std::string SearchInn::setupError_;

// What a grab of the posted corpus leaves, whoever drives it: pictures,
// counters, pointers, log and "CRC-32.dat".
void SearchInn::expectCorpusGrabbed(const QString &logPath, const QString &crcPath)
{
    QList<QByteArray> files;
    for (const QString &f : QDir(out()).entryList(QDir::Files | QDir::Hidden, QDir::Name))
        files << f.toLocal8Bit();
    EXPECT_EQ(files, (QList<QByteArray>{"bigcity.jpg", "evil.jpg", "forest.jpg", "harbour.jpg",
                                        "meadow.jpg", "sunset.jpg"}));
    for (const char *name : {"bigcity.jpg", "evil.jpg", "harbour.jpg", "meadow.jpg", "sunset.jpg"})
        EXPECT_EQ(readFile(out() + QLatin1String(name)), original(name)) << name;
    EXPECT_EQ(readFile(out() + QStringLiteral("forest.jpg")), original("forest.jpg"));

    // one: 4 pictures (one of them in three parts), a text, a filtered article.
    const QByteArray one = names_[0], two = names_[1];
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", one), 4);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", one), 4);
    EXPECT_EQ(ReadStatistic("FILTERED_COUNT", one), 1);
    EXPECT_EQ(ReadStatistic("DUPLICATE_COUNT", one), 0);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", two), 2);
    EXPECT_EQ(ReadStatistic("DUPLICATE_COUNT", two), 1);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", two), 0);
    // At least the encoded bodies of the three one-part pictures (the header is no longer fetched).
    EXPECT_GT(ReadStatistic("SAVED_BYTES", one),
              (original("sunset.jpg").size() + original("harbour.jpg").size() + original("meadow.jpg").size()) * 4 / 3);
    EXPECT_GT(ReadStatistic("DUPLICATE_BYTES", two), original("sunset.jpg").size() * 4 / 3);
    EXPECT_GT(ReadStatistic("FILTERED_BYTES", one), 0);
    EXPECT_LT(ReadStatistic("FILTERED_BYTES", one), ReadStatistic("EMPTY_BYTES", one));
    for (const QByteArray &g : {one, two})
        EXPECT_NE(IniReadString("STATISTICS", g + "TIME", "absent"), "absent") << g.constData();

    EXPECT_EQ(IniReadString("GROUPS", one, ""), "8," + posted_[0].last().messageId + '+');
    EXPECT_EQ(IniReadString("GROUPS", two, ""), "3," + posted_[1].last().messageId + '+');

    const QByteArray log = readFile(logPath);
    EXPECT_TRUE(log.contains("-" + one + "-5-bigcity.jpg (1/3)\r\nThere was nothing to decode.\r\n"));
    EXPECT_TRUE(log.contains("Article was saved as 'bigcity.jpg' at " +
                             QByteArray::number(original("bigcity.jpg").size()) + " bytes.\r\n"));
    EXPECT_TRUE(log.contains("File 'sunset-copy.jpg' was a duplicate - CRC-32 = " +
                             TArticleDisposition::ChecksumKey(original("sunset.jpg")) + "\r\n"));
    EXPECT_TRUE(log.contains("Article was filtered out because the subject contained 'spam'\r\n"));

    QList<QByteArray> keys;
    for (const char *name : {"bigcity.jpg", "evil.jpg", "forest.jpg", "harbour.jpg", "meadow.jpg", "sunset.jpg"})
        keys << TArticleDisposition::ChecksumKey(original(name));
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(readFile(crcPath), keys.join("\r\n") + "\r\n");

}

TEST_P(SearchInn, GrabsThePostedCorpus)
{
    {
        TFrmMain w;
        ASSERT_TRUE(w.miConnectClick());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 15000));
        EXPECT_EQ(w.NewsClient->Compressing(), compressed());
        EXPECT_EQ(w.laState->FullText().contains(QStringLiteral("compressed")), compressed());
        w.miSearchAllGroups->trigger();
        EXPECT_FALSE(w.Searching());
        EXPECT_EQ(w.State(), TFrmMain::StateOnline);
        EXPECT_TRUE(w.close());
    }
    EXPECT_TRUE(boxes.shown().isEmpty());

    expectCorpusGrabbed(work.filePath(QStringLiteral("pixtrawl.log")), dir.path(QStringLiteral("CRC-32.dat")));

    // Nothing new: a second window walks nothing and counts nothing more.
    {
        TFrmMain w;
        ASSERT_TRUE(w.miConnectClick());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 15000));
        w.miSearchAllGroups->trigger();
        EXPECT_TRUE(w.close());
    }
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 6);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", ""), 4);
}

// "pixtrawl --grab" on the same settings, with no display, gives what the
// window's run gives.
TEST_P(SearchInn, GrabCommandGivesWhatTheWindowGives)
{
    QTemporaryDir copy;
    const QString program = copy.filePath(QStringLiteral("pixtrawl"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(PIXTRAWL_BINARY), program));
    ASSERT_TRUE(QFile::copy(dir.iniPath(), copy.filePath(QStringLiteral("pixtrawl.ini"))));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(copy.path());
    p.start(program, {QStringLiteral("--grab")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    EXPECT_TRUE(p.readAllStandardOutput().endsWith("Saved 6 pictures, 1 duplicate, 1 filtered in 2 groups\n"));
    // The counters and pointers are in the copy's settings.
    SetProgramFilePathOverride(program);
    expectCorpusGrabbed(copy.filePath(QStringLiteral("pixtrawl.log")), copy.filePath(QStringLiteral("CRC-32.dat")));
    SetProgramFilePathOverride(dir.path(QStringLiteral("pixtrawl")));
}

TEST(SearchInnGrab, ARefusedLoginEndsTheRunWithItsReason)
{
    if (InnServer::TlsPort() == 0)
        GTEST_SKIP() << "no TLS reader: " << InnServer::SkipReason().toStdString();
    QTemporaryDir copy;
    const QString program = copy.filePath(QStringLiteral("pixtrawl"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(PIXTRAWL_BINARY), program));
    QFile ini(copy.filePath(QStringLiteral("pixtrawl.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[CONFIG]\nHOST=127.0.0.1\nTLS=Y\nPORT=" + QByteArray::number(InnServer::TlsPort()) + "\nUSER="
              + InnServer::Setting("PIXTRAWL_INN_USER") + "\nPASSWORD=not-the-password\nTLS_TRUSTED_HOST=127.0.0.1\n"
              "TLS_TRUSTED_SHA256=" + InnServer::Setting("PIXTRAWL_INN_TLS_SHA256") + "\n[GROUPS]\nLIST=any.group,\n");
    ini.close();
    QProcess p;
    p.setWorkingDirectory(copy.path());
    p.start(program, {QStringLiteral("--grab")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 1);
    const QByteArray err = p.readAllStandardError();
    EXPECT_TRUE(err.contains("pixtrawl: Login failed: 127.0.0.1:")) << err.constData();
    EXPECT_TRUE(err.contains("the run ended early")) << err.constData();
}

// A certificate that does not verify: the user is told why and may trust
// exactly it; afterwards it is accepted without asking.
TEST(SearchInnTls, UntrustedCertificateIsOfferedForTrustAndThenAccepted)
{
    if (InnServer::TlsPort() == 0)
        GTEST_SKIP() << "no TLS reader: " << InnServer::SkipReason().toStdString();
    TempProgramDir dir;
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteString("CONFIG", "TLS", "yes");
    IniWriteInteger("CONFIG", "PORT", InnServer::TlsPort());
    IniWriteString("CONFIG", "USER", InnServer::Setting("PIXTRAWL_INN_USER"));
    IniWriteString("CONFIG", "PASSWORD", InnServer::Setting("PIXTRAWL_INN_PASSWORD"));
    MessageRecorder boxes;
    boxes.answer(MsgYes);
    TFrmMain w;
    ASSERT_TRUE(w.miConnectClick());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 20000));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].caption, "Certificate");
    EXPECT_TRUE(boxes.shown()[0].text.startsWith("Connection was not successful!\n127.0.0.1:"));
    EXPECT_TRUE(boxes.shown()[0].text.contains("self-signed"));
    EXPECT_EQ(IniReadString("CONFIG", "TLS_TRUSTED_SHA256", ""), InnServer::Setting("PIXTRAWL_INN_TLS_SHA256"));
    EXPECT_EQ(IniReadString("CONFIG", "TLS_TRUSTED_HOST", ""), "127.0.0.1");

    w.miDisconnectClick();
    ASSERT_TRUE(w.miConnectClick());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 20000));
    EXPECT_EQ(boxes.shown().size(), 1);
    w.miDisconnectClick();
}

INSTANTIATE_TEST_SUITE_P(Reader, SearchInn, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>> &info) {
                             return std::string(std::get<0>(info.param) ? "TlsWithLogin" : "Plain")
                                    + (std::get<1>(info.param) ? "" : "Uncompressed");
                         });

} // namespace
