#pragma once
#include <QByteArray>

// Servers whose compressed stream broke in this run of the program, by host
// and port: their next connections go without compression, so one broken
// server is a failed connection, not a failure on every reconnection.
class TDeflateMemory {
public:
    static void RememberBroken(const QByteArray &host, quint16 port);
    static bool Broken(const QByteArray &host, quint16 port);
    // For tests: every server trusted again.
    static void Forget();
};
