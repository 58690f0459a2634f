// Writes a picture of every dialog into the folder given as the argument
// (default: the current directory), rendered by the offscreen platform.
#include "AboutDlg.h"
#include "ClearDlg.h"
#include "ConfigDlg.h"
#include "FakeNntpServer.h"
#include "FilterDlg.h"
#include "GroupDlg.h"
#include "StatDlg.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

namespace {
void settle(int ms = 50)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QTimer wake;
        wake.start(10);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

bool shoot(QWidget *w, const QString &path)
{
    w->show();
    settle();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out);
    auto file = [&](const char *name) { return out + QLatin1Char('/') + QLatin1String(name); };

    TempProgramDir dir;
    dir.write("Groups.dbf", "alt.binaries.pictures\r\nalt.binaries.pictures.nature\r\n"
                            "alt.binaries.pictures.space\r\nalt.binaries.pictures.trains\r\n");
    IniWriteString("CONFIG", "HOST", "news.example.com");
    IniWriteString("CONFIG", "OUTPUT_DIR", "/home/user/Pictures/");
    QList<QByteArray> groups{"alt.binaries.pictures.nature", "alt.binaries.pictures.space",
                             "alt.binaries.pictures.trains"};
    QList<TGroupMark> marks(groups.size());
    QList<QByteArray> filters{"REQ", "spam", "Holiday", "wallpaper"};

    const qint64 counts[3][4] = {{12, 20, 310, 45}, {3, 8, 120, 9}, {0, 2, 64, 30}};
    for (int g = 0; g < 3; ++g) {
        const char *names[] = {"EMPTY", "DUPLICATE", "SAVED", "FILTERED"};
        for (int k = 0; k < 4; ++k) {
            AddStatistic(QByteArray(names[k]) + "_COUNT", groups[g], counts[g][k]);
            AddStatistic(QByteArray(names[k]) + "_BYTES", groups[g], counts[g][k] * (k == 2 ? 180000 : 4000));
        }
        AddStatistic("TIME", groups[g], 3600 * (g + 1) + 900);
    }

    QWidget owner;
    owner.setGeometry(0, 0, 800, 600);
    bool ok = true;
    {
        TZqNNTP client;
        TdlgGroup d(&owner, groups, client);
        ok &= shoot(&d, file("group.png"));
    }
    {
        TdlgFilter d(&owner, filters);
        ok &= shoot(&d, file("filter.png"));
        d.btAddClick();
        ok &= shoot(&d, file("filter-adding.png"));
    }
    {
        TdlgConfig d(&owner);
        ok &= shoot(&d, file("config.png"));
    }
    {
        FakeNntpServer server;
        FakeNntpServer::Group g;
        g.name = groups[0];
        g.first = 1200;
        g.last = 4711;
        g.count = g.last - g.first + 1;
        server.groups << g;
        TZqNNTP client;
        if (server.Listen() && client.Connect("127.0.0.1", server.Port())) {
            QElapsedTimer t;
            t.start();
            while (!client.Connected && t.elapsed() < 5000)
                settle(10);
        }
        TfrmClearDlg d(&owner, groups, marks, client);
        ok &= shoot(&d, file("clear.png"));
    }
    for (int type = 0; type < 3; ++type) {
        auto *d = new TdlgStat(&owner, groups);
        d->cbGraphType->setCurrentIndex(type);
        const char *names[] = {"stat-articles.png", "stat-bytes.png", "stat-time.png"};
        ok &= shoot(d, file(names[type]));
        d->close();
    }
    {
        TdlgAbout d(&owner);
        ok &= shoot(&d, file("about.png"));
    }
    return ok ? 0 : 1;
}
