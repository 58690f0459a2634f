// Listing 100,000 groups (or argv[1]) from the fake news server: the bare
// client fetch against the group dialog's Get Group List, and one filter
// keystroke over the whole list. A plain timing program; prints milliseconds
// and the ratio of each step to the bare fetch, measured in the same run.
#include "FakeNntpServer.h"
#include "GroupDlg.h"
#include "TGroupListView.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "WaitUntil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>

#include <cstdio>

namespace {

// The LIST reply in reads of 1,000 lines, as a busy server sends it.
QList<QByteArray> listReply(int groups)
{
    QList<QByteArray> pieces{"215 list of newsgroups follows\r\n"};
    QByteArray piece;
    for (int i = 0; i < groups; ++i) {
        piece += "alt.binaries.pictures.bench.group" + QByteArray::number(i) + " 1000 1 y\r\n";
        if ((i + 1) % 1000 == 0) {
            pieces << piece;
            piece.clear();
        }
    }
    pieces << piece + ".\r\n";
    return pieces;
}

bool connectTo(FakeNntpServer &server, TZqNNTP &client)
{
    return client.Connect("127.0.0.1", server.Port()) && WaitUntil([&] { return client.Connected; }, 5000);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int groups = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    TempProgramDir dir;

    FakeNntpServer server;
    server.pieceDelayMs = 0;
    if (!server.Listen())
        return 1;
    server.Script("List", listReply(groups));

    TZqNNTP client;
    if (!connectTo(server, client))
        return 1;
    QList<QByteArray> names;
    QElapsedTimer t;
    t.start();
    client.GetGroupList(names);
    const double bare = double(t.nsecsElapsed()) / 1e6;

    QList<QByteArray> chosen;
    TdlgGroup dlg(nullptr, chosen, client);
    dlg.show();
    t.restart();
    dlg.btGetGroupListClick();
    const double dialog = double(t.nsecsElapsed()) / 1e6;
    const int listed = dlg.lbAllGroups->count();

    t.restart();
    dlg.edFilter->setText(QStringLiteral("group9999"));
    QCoreApplication::processEvents();
    const double filter = double(t.nsecsElapsed()) / 1e6;
    const int shown = dlg.lbAllGroups->count();

    std::printf("groups listed: client %lld, dialog %d, after filter %d\n", qint64(names.size()), listed, shown);
    std::printf("bare client fetch      %9.1f ms  1.00\n", bare);
    std::printf("dialog Get Group List  %9.1f ms  %.2f x bare\n", dialog, dialog / bare);
    std::printf("filter keystroke       %9.1f ms  %.2f x bare\n", filter, filter / bare);
    return listed == groups && names.size() == groups ? 0 : 1;
}
