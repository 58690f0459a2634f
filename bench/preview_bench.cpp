// One article of a very large body (default 300 MB on the wire) fetched by a
// whole headless search of the main window from the in-process fake news
// server at full loopback speed, with the preview on and off. The body is a
// real JPEG picture of a few MB, uuencoded and repeated, so every preview
// pass while it arrives decodes a picture. Prints the seconds of each run and
// the ratio on/off (goal: at most 1.5).
// Usage: preview_bench [body MB, default 300] [runs, default 1]
#include "TFrmMain.h"
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

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// A real JPEG picture of about the wanted size: noise does not compress.
QByteArray noiseJpeg(int side)
{
    QRandomGenerator rng(7);
    QImage image(side, side * 3 / 4, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = 0xff000000u | (rng.generate() & 0xffffffu);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

void waitFor(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One search of the group by a fresh window; seconds inside Search All Groups.
double grabRun(bool preview)
{
    IniWriteString("GROUPS", "bench.big", "");
    IniWriteBool("CONFIG", "PREVIEW", preview);
    TFrmMain w;
    qint32 outcome = 0;
    const TStateChangeEvent inner = w.NewsClient->OnStateChange;
    w.NewsClient->OnStateChange = [&, inner](TZqNNTP *c, qint32 st) {
        inner(c, st);
        outcome = st;
    };
    if (!w.miConnectClick())
        return -1;
    waitFor([&] { return outcome != 0; });
    if (w.State() != TFrmMain::StateOnline)
        return -1;
    QElapsedTimer t;
    t.start();
    w.miSearchAllGroups->trigger();
    const double s = t.nsecsElapsed() / 1e9;
    w.miDisconnectClick();
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const qint64 wantedMb = argc > 1 ? std::max(1, atoi(argv[1])) : 300;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 1;

    TempProgramDir dir;
    QDir().mkpath(dir.path(QStringLiteral("out")));
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.dir());

    // Whole uuencoded lines only, so the repeated blocks decode to the
    // picture's bytes again and again (a JPEG reader stops at the first end).
    QByteArray picture = noiseJpeg(1600);
    picture.append(QByteArray((45 - picture.size() % 45) % 45, '\0'));
    QByteArray block;
    for (const QByteArray &line : UuencodeData(picture))
        block += line + "\r\n";
    const qint64 repeats = std::max<qint64>(1, (wantedMb << 20) / block.size());

    FakeNntpServer server;
    server.pieceDelayMs = 0;
    if (!server.Listen()) {
        std::fprintf(stderr, "preview_bench: cannot listen\n");
        return 1;
    }
    FakeNntpServer::Group group;
    group.name = "bench.big";
    group.articles << FakeNntpServer::MakeArticle(1, "one huge picture", {"placeholder"});
    server.groups << group;
    const QByteArray messageId = group.articles[0].messageId;
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        if (command != "BODY 1")
            return false;
        QList<QByteArray> pieces{"222 1 " + messageId + " body\r\nbegin 644 huge.jpg\r\n"};
        for (qint64 i = 0; i < repeats; ++i)
            pieces << block; // shared, not copied
        pieces << "`\r\nend\r\n.\r\n";
        s.Send(pieces);
        return true;
    };

    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", server.Port());
    IniWriteString("CONFIG", "OUTPUT_DIR", dir.path(QStringLiteral("out/")).toLocal8Bit());
    IniWriteString("GROUPS", "LIST", "bench.big,");

    const double bodyMb = double(block.size()) * double(repeats) / 1048576.0;
    std::printf("preview_bench: one body of %.0f MB (a %lld-byte picture uuencoded, %lld times), %d run(s)\n", bodyMb,
                qlonglong(picture.size()), qlonglong(repeats), runs);
    std::fflush(stdout);

    std::vector<double> off, on;
    for (int r = 0; r < runs; ++r) {
        off.push_back(grabRun(false));
        std::printf("  preview off: %.2f s\n", off.back());
        std::fflush(stdout);
        on.push_back(grabRun(true));
        std::printf("  preview on : %.2f s\n", on.back());
        std::fflush(stdout);
    }
    if (*std::min_element(off.begin(), off.end()) <= 0 || *std::min_element(on.begin(), on.end()) <= 0) {
        std::fprintf(stderr, "preview_bench: a run failed to connect\n");
        return 1;
    }
    const qint64 savedSize = QFile(dir.path(QStringLiteral("out/huge.jpg"))).size();
    const bool saved = savedSize == picture.size() * repeats;
    std::printf("preview off %.2f s, preview on %.2f s: on/off %.2f (goal <= 1.5); file saved intact: %s\n",
                median(off), median(on), median(on) / median(off), saved ? "yes" : "NO");
    QDir::setCurrent(oldCwd);
    return saved ? 0 : 1;
}
