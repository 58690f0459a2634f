#pragma once
#include <QByteArray>
#include <QString>

class FakeNntpServer;

// Settings for a search against server (listening on loopback), pictures
// into outDir, and the group alt.a it serves: 1 "a picture" (picture
// uuencoded as pic.jpg), 2 "just words". Shared by the engine's and the
// window's search tests.
void SetUpSearchOfAltA(FakeNntpServer &server, const QString &outDir, const QByteArray &picture);
