// pixtrawl-sample-server SPOOL_DIR [PORT]
// Serves the spool's groups on 127.0.0.1 (an ephemeral port when none is
// given, written to standard output as "PORT=<n>") until it is killed. One
// client at a time, like the fixture it is built from.
#include "FakeNntpServer.h"
#include "SampleSpool.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SPOOL_DIR [PORT]\n", argv[0]);
        return 2;
    }
    FakeNntpServer server;
    server.groups = LoadSampleSpool(QString::fromLocal8Bit(argv[1]));
    server.pieceDelayMs = 0;
    server.greeting = "200 Pixtrawl sample news server ready";
    if (!server.Listen(argc > 2 ? quint16(QByteArray(argv[2]).toUInt()) : 0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    int articles = 0;
    for (const auto &g : server.groups)
        articles += int(g.articles.size());
    std::printf("PORT=%u\nserving %d groups, %d articles\n", unsigned(server.Port()),
                int(server.groups.size()), articles);
    std::fflush(stdout);
    return app.exec();
}
