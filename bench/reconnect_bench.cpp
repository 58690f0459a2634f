// A whole headless search over N small articles served by the fake news
// server, with K connections closed by the server in the middle of a body
// against none. The pause before each reconnection is set to 200 ms.
#include "FakeNntpServer.h"
#include "TestBodies.h"
#include "MessageRecorder.h"
#include "TFrmMain.h"
#include "TZqNNTP.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QApplication>
#include <QDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// One run; returns the number of files saved (to check the run was whole).
int Run(int articles, int drops)
{
    TempProgramDir dir;
    MessageRecorder boxes;
    FakeNntpServer server;
    if (!server.Listen())
        return -1;
    server.pieceDelayMs = 0;
    FakeNntpServer::Group g;
    g.name = "alt.bench";
    for (int i = 1; i <= articles; ++i)
        g.articles << FakeNntpServer::MakeArticle(
            i, "file " + QByteArray::number(i),
            UuencodeFile("f" + QByteArray::number(i) + ".bin", Noise(3000, quint32(i))));
    server.groups << g;

    // Article numbers whose first body request loses the connection half-way.
    auto pending = std::make_shared<QList<QByteArray>>();
    for (int k = 0; k < drops; ++k)
        *pending << "BODY " + QByteArray::number(articles * (2 * k + 1) / (2 * drops));
    server.responder = [pending, &server](FakeNntpServer &s, const QByteArray &command) {
        if (!pending->removeOne(command))
            return false;
        const qint32 n = command.mid(5).toInt();
        const FakeNntpServer::Article &a = server.groups[0].articles[n - 1];
        QByteArray wire = FakeNntpServer::Stuffed(a.body.mid(0, a.body.size() / 2));
        wire.chop(3);
        s.Send(QList<QByteArray>{"222 " + command.mid(5) + ' ' + a.messageId + " body\r\n" + wire, QByteArray()});
        return true;
    };

    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", server.Port());
    QDir().mkpath(dir.path("out"));
    IniWriteString("CONFIG", "OUTPUT_DIR", dir.path("out/").toLocal8Bit());
    IniWriteString("GROUPS", "LIST", "alt.bench,");

    TFrmMain w;
    w.ReconnectDelaysMs = {200, 200, 200, 200, 200};
    if (!w.miConnectClick() || !QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 10000))
        return -1;
    w.miSearchAllGroupsClick();
    return int(QDir(dir.path("out")).entryList(QDir::Files).size());
}

void BM_SearchWithDisconnects(benchmark::State &state)
{
    const int articles = int(state.range(0));
    const int drops = int(state.range(1));
    for (auto _ : state) {
        const int saved = Run(articles, drops);
        if (saved != articles)
            state.SkipWithError("the run did not save every file");
    }
    state.counters["articles_per_s"] =
        benchmark::Counter(double(articles), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SearchWithDisconnects)
    ->Args({100, 0})
    ->Args({100, 5})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
