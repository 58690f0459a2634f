// Times a whole headless grab from the local INN2 server:
//   inn_grab_bench [plain|tls] [articles, default 200]
// Posts the articles to a fresh group (a tenth of them filtered by subject,
// 3 in 10 uuencoded pictures of about 100 KB, the rest text), then lets the
// main window search it and prints the seconds the search took.
#include "InnServer.h"
#include "TFrmMain.h"
#include "TestBodies.h"
#include "ZqIniFile.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    const bool tls = args.value(1) == QLatin1String("tls");
    const int count = args.size() > 2 ? args[2].toInt() : 200;
    if (InnServer::Port() == 0 || (tls && InnServer::TlsPort() == 0)) {
        std::fprintf(stderr, "no INN server: run tests/inn/start_inn.sh as root\n");
        return 1;
    }

    const QByteArray group = InnServer::UniqueGroupName("pixtrawl.bench");
    QList<InnServer::Article> articles;
    for (int i = 0; i < count; ++i) {
        InnServer::Article a;
        if (i % 10 == 3) {
            a.subject = "spam offer " + QByteArray::number(i);
            a.body = {"buy now"};
        } else if (i % 10 == 1 || i % 10 == 5 || i % 10 == 8) {
            a.subject = "picture " + QByteArray::number(i);
            a.body = UuencodeFile("p" + QByteArray::number(i) + ".jpg", Noise(100000, quint32(i)));
        } else {
            a.subject = "words " + QByteArray::number(i);
            a.body = {"some text", "and more"};
        }
        articles << a;
    }
    QString error;
    if (!InnServer::CreateGroupWithArticles(group, articles, &error)) {
        std::fprintf(stderr, "posting failed: %s\n", qPrintable(error));
        return 1;
    }

    QTemporaryDir dir;
    SetProgramFilePathOverride(dir.filePath(QStringLiteral("pixtrawl")));
    QDir().mkpath(dir.filePath(QStringLiteral("out")));
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", tls ? InnServer::TlsPort() : InnServer::Port());
    if (tls) {
        IniWriteString("CONFIG", "TLS", "yes");
        IniWriteString("CONFIG", "USER", InnServer::Setting("PIXTRAWL_INN_USER"));
        IniWriteString("CONFIG", "PASSWORD", InnServer::Setting("PIXTRAWL_INN_PASSWORD"));
        IniWriteString("CONFIG", "TLS_TRUSTED_SHA256", InnServer::Setting("PIXTRAWL_INN_TLS_SHA256"));
        IniWriteString("CONFIG", "TLS_TRUSTED_HOST", "127.0.0.1");
    }
    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(dir.filePath(QStringLiteral("out/"))));
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    IniWriteString("FILTER", "EXCLUDE", "spam,");
    IniWriteString("GROUPS", "LIST", group + ',');

    TFrmMain w;
    QElapsedTimer connecting;
    connecting.start();
    if (!w.miConnectClick() || !QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 20000)) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }
    const qint64 connectMs = connecting.elapsed();
    QElapsedTimer t;
    t.start();
    w.miSearchAllGroups->trigger();
    const double seconds = double(t.elapsed()) / 1000.0;
    const int saved = QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::Files).size();
    std::printf("%s: %d articles in %.2f s (connect %lld ms), %d pictures saved\n", tls ? "tls+login" : "plain",
                count, seconds, connectMs, saved);
    w.close();
    return saved == count * 3 / 10 ? 0 : 1;
}
