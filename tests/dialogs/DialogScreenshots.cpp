// Writes a picture of every dialog into the folder given as the argument
// (default: the current directory), rendered by the offscreen platform.
#include "AboutDlg.h"
#include "ClearDlg.h"
#include "ConfigDlg.h"
#include "FakeNntpServer.h"
#include "FilterDlg.h"
#include "RulesDlg.h"
#include "GroupDlg.h"
#include "MessageRecorder.h"
#include "SampleSpool.h"
#include "StatDlg.h"
#include "TFrmMain.h"
#include "TGroupListModel.h"
#include "TGroupListView.h"
#include "TRunReport.h"
#include "TStatusField.h"
#include "TTrayIcon.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QItemSelectionModel>
#include <QScreen>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QStyleFactory>
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

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(45, 45, 48));
    p.setColor(QPalette::WindowText, QColor(230, 230, 230));
    p.setColor(QPalette::Base, QColor(30, 30, 30));
    p.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    p.setColor(QPalette::Text, QColor(230, 230, 230));
    p.setColor(QPalette::Button, QColor(60, 60, 64));
    p.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(60, 60, 64));
    p.setColor(QPalette::ToolTipText, QColor(230, 230, 230));
    return p;
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
    if (argc > 2 && QByteArray(argv[2]) == "states") {
        // The main window's states, the group dialog and the Help menu with a
        // 15 pt font and a dark palette; argv[3] names the scale in the files.
        const QString scale = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("1");
        auto named = [&](const char *name) { return file(name).replace(QStringLiteral(".png"), "-x" + scale + ".png"); };
        QFont font = QApplication::font();
        font.setPointSize(15);
        QApplication::setFont(font);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
        MessageRecorder boxes;
        IniWriteString("GROUPS", "LIST", "alt.binaries.pictures.nature,alt.binaries.pictures.space,");
        TFrmMain w;
        w.Report->Notify = [](const QString &, const QString &) {};
        w.resize(700, 520);
        ok &= shoot(&w, named("main-idle.png"));
        w.laState->Connecting(QStringLiteral("news.example.com:563"));
        ok &= shoot(&w, named("main-connecting.png"));
        w.SetState(TFrmMain::StateSearching);
        w.GroupStarted(1, 2, "alt.binaries.pictures.space");
        w.GroupSelected(1, "alt.binaries.pictures.space", 27);
        w.ArticleStarted(4711, 1, 27, "alt.binaries.pictures.space");
        w.SubjectKnown("Andromeda from the garden (1/1) - andromeda.jpg");
        w.BodyProgress(120000, 42);
        ok &= shoot(&w, named("main-searching.png"));
        w.SetState(TFrmMain::StateOffline);
        w.ClearScreen();
        w.Failed(TGrabFailure::ConnectFailed,
                 QStringLiteral("Connection was not successful!\nnews.example.com:563: no greeting within 10 seconds"),
                 false);
        ok &= shoot(&w, named("main-offline.png"));
        w.mnHelp->popup(w.mapToGlobal(QPoint(200, 0)));
        settle();
        ok &= shoot(w.mnHelp, named("help-menu.png"));
        w.mnHelp->hide();

        QList<QByteArray> all;
        for (const char *tail : {"nature.landscapes.mountains.and.lakes", "nature.landscapes.mountains.and.rivers",
                                 "space.hubble.deep.field", "space.hubble.deep.field.reprocessed", "trains.steam"})
            all << "alt.binaries.pictures." + QByteArray(tail);
        TZqNNTP client;
        QList<QByteArray> chosen;
        TdlgGroup d(&w, chosen, client);
        d.lbAllGroups->Model->SetNames(all);
        d.resize(900, 420);
        for (int row : {0, 1, 3})
            d.lbAllGroups->selectionModel()->select(d.lbAllGroups->Model->index(row, 0), QItemSelectionModel::Select);
        d.btCopyClick();
        ok &= shoot(&d, named("group-resized.png"));
        d.resize(560, 320); // too narrow: the names keep both ends
        ok &= shoot(&d, named("group-narrow.png"));
        return ok ? 0 : 1;
    }
    if (argc > 2 && QByteArray(argv[2]) == "stat-only") {
        // For a run under QT_SCALE_FACTOR=2: does the window fit the screen?
        auto *d = new TdlgStat(&owner, groups);
        ok &= shoot(d, file("stat-scaled.png"));
        std::printf("screen %dx%d, window frame %dx%d\n", d->screen()->availableGeometry().width(),
                    d->screen()->availableGeometry().height(), d->frameGeometry().width(),
                    d->frameGeometry().height());
        d->close();
        return ok ? 0 : 1;
    }
    {
        // The main window after grabbing the sample corpus.
        MessageRecorder boxes;
        FakeNntpServer server;
        server.pieceDelayMs = 0;
        server.groups = LoadSampleSpool(QStringLiteral(PIXTRAWL_TESTS_DIR "/data/corpus/spool"));
        QByteArray list;
        for (const auto &g : server.groups)
            list += g.name + ',';
        QDir().mkpath(dir.path("out"));
        IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(dir.path("out/")));
        IniWriteString("CONFIG", "PREVIEW", "Y");
        IniWriteString("GROUPS", "LIST", list);
        if (server.Listen()) {
            IniWriteString("CONFIG", "HOST", "127.0.0.1");
            IniWriteInteger("CONFIG", "PORT", server.Port());
            TFrmMain w;
            w.Report->Notify = [](const QString &, const QString &) {};
            w.FilterStrings = {"SPAM"};
            w.resize(640, 480);
            w.show();
            settle();
            if (w.miConnectClick()) {
                QElapsedTimer t;
                t.start();
                while (w.State() != TFrmMain::StateOnline && t.elapsed() < 5000)
                    settle(10);
                w.miSearchAllGroupsClick();
            }
            ok &= shoot(&w, file("main-after-grab.png"));

            TTrayIcon tray(w);
            tray.Refresh();
            tray.pmTray->popup(QPoint(10, 10));
            settle();
            ok &= shoot(tray.pmTray, file("tray-menu.png"));
            tray.pmTray->hide();
            w.miDisconnectClick();
        }
        IniWriteString("CONFIG", "HOST", "news.example.com");
        IniWriteString("CONFIG", "OUTPUT_DIR", "/home/user/Pictures/");
    }
    {
        // 100,000 groups, filtered.
        QList<QByteArray> many;
        many.reserve(100000);
        const char *kinds[] = {"nature", "space", "trains", "boats", "flowers", "cats", "cars", "bridges"};
        for (int i = 0; i < 100000; ++i)
            many << "alt.binaries.pictures." + QByteArray(kinds[i % 8]) + ".archive" + QByteArray::number(i / 8);
        TZqNNTP client;
        TdlgGroup d(&owner, groups, client);
        d.lbAllGroups->Model->SetNames(many);
        d.edFilter->setText(QStringLiteral("trains.archive12"));
        d.lbAllGroups->setCurrentRow(0);
        ok &= shoot(&d, file("group-filter.png"));
    }
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
        QTemporaryDir rulesDir;
        const QString path = rulesDir.filePath(QStringLiteral("Rules.dat"));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write("# pictures only, nothing huge\nskip bytes > 20M\nonly ext is jpg\nskip size > 3\n");
        f.close();
        TdlgRules d(&owner, path);
        d.tbSubject->setText(QStringLiteral("[01/20] - \"sunset.jpg\" yEnc (1/5)"));
        d.tbSize->setText(QStringLiteral("300K"));
        ok &= shoot(&d, file("rules.png"));
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
    {
        QList<QByteArray> fresh{"alt.binaries.pictures.new"}; // no counters yet
        auto *d = new TdlgStat(&owner, fresh);
        d->cbGraphData->setCurrentIndex(1);
        ok &= shoot(d, file("stat-empty.png"));
        d->close();
    }
    // A dark palette: the chart and the about box must stay readable.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(darkPalette());
    {
        auto *d = new TdlgStat(&owner, groups);
        ok &= shoot(d, file("stat-dark.png"));
        d->close();
    }
    {
        TdlgAbout d(&owner);
        ok &= shoot(&d, file("about-dark.png"));
    }
    return ok ? 0 : 1;
}
