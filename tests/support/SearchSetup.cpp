#include "SearchSetup.h"

#include "FakeNntpServer.h"
#include "TestBodies.h"
#include "ZqIniFile.h"

#include <QDir>

void SetUpSearchOfAltA(FakeNntpServer &server, const QString &outDir, const QByteArray &picture)
{
    server.pieceDelayMs = 0;
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", server.Port());
    // What goes over one connection is checked here; several have tests of their own.
    IniWriteInteger("CONFIG", "CONNECTIONS", 1);
    QDir().mkpath(outDir);
    IniWriteString("CONFIG", "OUTPUT_DIR", outDir.toLocal8Bit());
    IniWriteString("GROUPS", "LIST", "alt.a,");
    FakeNntpServer::Group g;
    g.name = "alt.a";
    g.articles << FakeNntpServer::MakeArticle(1, "a picture", UuencodeFile("pic.jpg", picture))
               << FakeNntpServer::MakeArticle(2, "just words", {"hello", "world"});
    server.groups << g;
}
