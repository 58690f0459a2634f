// Whole headless grabbing runs of the main window against the in-process fake
// news server on loopback (no delay between pieces):
//  - N small articles (a uuencoded picture of a few KB each): articles per
//    second, against a bare fetch of the same articles (GROUP, HEAD, BODY with
//    the news client in a plain loop, nothing decoded) in the same process;
//  - the same with every reply held back a few milliseconds, as a real
//    server's round trip would;
//  - one 5 MB picture in one article, with the preview on and off, and the
//    cost of the one preview of the finished picture that every saved file
//    gets, so what the previews while the body arrives add can be told apart.
// Each figure is the median of a few runs. Usage: grab_bench [N] [runs]
// N 0 leaves the small articles out (to profile the big one alone).
#include "TFrmMain.h"
#include "TPreviewPane.h"
#include "TestBodies.h"

#include "FakeNntpServer.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

// A real JPEG picture of about the wanted size: noise does not compress.
QByteArray bigJpeg(qsizetype wanted)
{
    QRandomGenerator rng(42);
    int side = 800;
    QByteArray bytes;
    for (int attempt = 0; attempt < 20; ++attempt) {
        QImage image(side, side * 3 / 4, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] = 0xff000000u | (rng.generate() & 0xffffffu);
        }
        bytes.clear();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", 90);
        if (bytes.size() >= wanted * 9 / 10)
            break;
        side = int(side * 1.08);
    }
    return bytes;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The client's own connect guard ends every wait for a connection.
void waitFor(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// One whole search over the listed groups by a fresh window, pointers
// cleared first; returns seconds spent inside Search All Groups.
double grabRun(const QList<QByteArray> &groups, bool preview)
{
    QByteArray list;
    for (const QByteArray &g : groups) {
        list += g + ',';
        IniWriteString("GROUPS", g, "");
    }
    IniWriteString("GROUPS", "LIST", list);
    IniWriteBool("CONFIG", "PREVIEW", preview);
    TFrmMain w;
    if (!w.miConnectClick())
        return -1;
    waitFor([&] { return w.State() == TFrmMain::StateOnline; });
    if (w.State() != TFrmMain::StateOnline)
        return -1;
    QElapsedTimer t;
    t.start();
    w.miSearchAllGroups->trigger();
    const double s = t.nsecsElapsed() / 1e9;
    w.miDisconnectClick();
    return s;
}

// GROUP, then HEAD and BODY of every article, nothing else; seconds.
double bareFetch(quint16 port, const QByteArray &group, qint32 first, qint32 last)
{
    TZqNNTP client;
    qint32 state = 0;
    client.OnStateChange = [&](TZqNNTP *, qint32 s) { state = s; };
    if (!client.Connect("127.0.0.1", port))
        return -1;
    waitFor([&] { return state != 0; });
    if (state != TZqNNTP::StateConnected)
        return -1;
    QElapsedTimer t;
    t.start();
    client.SelectGroup(group);
    for (qint32 n = first; n <= last; ++n) {
        client.GetHeader(n);
        client.GetBody(n);
    }
    const double s = t.nsecsElapsed() / 1e9;
    client.Disconnect();
    return s;
}

// Answers GROUP, HEAD and BODY from the server's table like the server does,
// each reply held back by latencyMs.
void delayReplies(FakeNntpServer &server, int latencyMs)
{
    auto group = std::make_shared<QByteArray>();
    server.responder = [=](FakeNntpServer &s, const QByteArray &command) {
        const QList<QByteArray> f = command.split(' ');
        QByteArray reply;
        if (f[0] == "GROUP") {
            for (const auto &g : std::as_const(s.groups))
                if (g.name == f.value(1)) {
                    *group = g.name;
                    reply = s.GroupReply(g) + "\r\n";
                }
        } else if (f[0] == "HEAD" || f[0] == "BODY") {
            for (const auto &g : std::as_const(s.groups)) {
                if (g.name != *group)
                    continue;
                for (const auto &a : g.articles) {
                    if (a.number != f.value(1).toInt())
                        continue;
                    const QByteArray id = QByteArray::number(a.number) + ' ' + a.messageId;
                    if (f[0] == "HEAD")
                        reply = "221 " + id + " head\r\n" +
                                FakeNntpServer::Stuffed({"Subject: " + a.subject, "Message-ID: " + a.messageId,
                                                         "Lines: " + QByteArray::number(a.body.size())});
                    else
                        reply = "222 " + id + " body\r\n" + FakeNntpServer::Stuffed(a.body);
                }
            }
        }
        if (reply.isEmpty())
            return false;
        QTimer::singleShot(latencyMs, Qt::PreciseTimer, &s, [&s, reply] { s.Send(reply); });
        return true;
    };
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int n = argc > 1 ? std::max(0, atoi(argv[1])) : 300;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;

    TempProgramDir dir;
    QDir().mkpath(dir.path(QStringLiteral("out")));
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.dir());

    QFile small(QStringLiteral(PIXTRAWL_TEST_DATA "/corpus/pictures/sunset.jpg"));
    if (!small.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "grab_bench: %s missing\n", qPrintable(small.fileName()));
        return 1;
    }
    const QByteArray smallPicture = small.readAll();
    const QByteArray big = bigJpeg(5 * 1024 * 1024);

    FakeNntpServer server;
    server.pieceDelayMs = 0;
    if (!server.Listen()) {
        std::fprintf(stderr, "grab_bench: cannot listen\n");
        return 1;
    }
    FakeNntpServer::Group smallGroup;
    smallGroup.name = "bench.small";
    for (int i = 1; i <= n; ++i)
        smallGroup.articles << FakeNntpServer::MakeArticle(
            i, "picture " + QByteArray::number(i), UuencodeFile("p" + QByteArray::number(i) + ".jpg", smallPicture));
    FakeNntpServer::Group bigGroup;
    bigGroup.name = "bench.big";
    bigGroup.articles << FakeNntpServer::MakeArticle(1, "one big picture", UuencodeFile("big.jpg", big));
    server.groups << smallGroup << bigGroup;

    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", server.Port());
    IniWriteString("CONFIG", "OUTPUT_DIR", dir.path(QStringLiteral("out/")).toLocal8Bit());

    const qsizetype smallWire = n > 0 ? FakeNntpServer::Stuffed(smallGroup.articles[0].body).size() : 0;
    std::printf("grab_bench: %d small articles (%lld bytes of body each, a %lld-byte picture), "
                "one article of %lld bytes of body (a %lld-byte picture), median of %d runs\n",
                n, qlonglong(smallWire), qlonglong(smallPicture.size()),
                qlonglong(FakeNntpServer::Stuffed(bigGroup.articles[0].body).size()), qlonglong(big.size()), runs);

    const int latencyMs = 2;
    std::vector<double> grabOn, grabOff, bare, bigOn, bigOff, finalPreview, slowBare, slowGrab;
    for (int r = 0; r < runs; ++r) {
        if (n > 0) {
            bare.push_back(bareFetch(server.Port(), "bench.small", 1, n));
            grabOff.push_back(grabRun({"bench.small"}, false));
            grabOn.push_back(grabRun({"bench.small"}, true));
        } else {
            bare.push_back(1), grabOff.push_back(1), grabOn.push_back(1);
        }
        bigOff.push_back(grabRun({"bench.big"}, false));
        bigOn.push_back(grabRun({"bench.big"}, true));
        {
            TFrmMain w;
            QElapsedTimer t;
            t.start();
            w.Pane->ShowFile(big);
            finalPreview.push_back(t.nsecsElapsed() / 1e9);
        }
        if (n > 0) {
            delayReplies(server, latencyMs);
            slowBare.push_back(bareFetch(server.Port(), "bench.small", 1, n));
            slowGrab.push_back(grabRun({"bench.small"}, false));
            server.responder = nullptr;
        } else {
            slowBare.push_back(1), slowGrab.push_back(1);
        }
    }
    for (const auto *v : {&grabOn, &grabOff, &bare, &bigOn, &bigOff, &slowBare, &slowGrab})
        if (*std::min_element(v->begin(), v->end()) <= 0) {
            std::fprintf(stderr, "grab_bench: a run failed to connect\n");
            return 1;
        }
    const bool savedBig = QFile(dir.path(QStringLiteral("out/big.jpg"))).size() == big.size();
    const bool savedSmall = n == 0 || QFile(dir.path(QStringLiteral("out/p%1.jpg").arg(n))).size() == smallPicture.size();

    if (n > 0) {
        const double bareRate = n / median(bare);
        const double offRate = n / median(grabOff);
        const double onRate = n / median(grabOn);
        std::printf("small, bare fetch (GROUP/HEAD/BODY) : %8.1f articles/s\n", bareRate);
        std::printf("small, grab, preview off            : %8.1f articles/s   ratio to bare %.2f (goal >= 0.5)\n",
                    offRate, offRate / bareRate);
        std::printf("small, grab, preview on             : %8.1f articles/s   ratio to bare %.2f\n", onRate,
                    onRate / bareRate);
        const double slowBareRate = n / median(slowBare), slowGrabRate = n / median(slowGrab);
        std::printf("small, %d ms per reply, bare fetch   : %8.1f articles/s\n", latencyMs, slowBareRate);
        std::printf("small, %d ms per reply, grab         : %8.1f articles/s   ratio to bare %.2f\n", latencyMs,
                    slowGrabRate, slowGrabRate / slowBareRate);
    }
    std::printf("5 MB article, preview off           : %8.3f s\n", median(bigOff));
    std::printf("5 MB article, preview on            : %8.3f s   on/off %.2f (goal <= 1.5)\n", median(bigOn),
                median(bigOn) / median(bigOff));
    std::printf("  of which the finished picture's preview : %.3f s; the rest of on/off %.2f\n",
                median(finalPreview), (median(bigOn) - median(finalPreview)) / median(bigOff));
    std::printf("files saved intact: small %s, big %s\n", savedSmall ? "yes" : "NO", savedBig ? "yes" : "NO");
    QDir::setCurrent(oldCwd);
    return savedBig && savedSmall ? 0 : 1;
}
