#pragma once
#include "FakeNntpServer.h"
#include "TZqNNTP.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

// Blocks in the event loop until cond holds or ms have passed.
inline bool WaitUntil(const std::function<bool()> &cond, int ms)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(ms);
    while (!cond()) {
        if (!deadline.isActive())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A client connected to a fake server; a watchdog ends any command that a
// fault would leave waiting.
struct ConnectedClient {
    FakeNntpServer server;
    TZqNNTP client;
    QTimer watchdog;

    bool Connect()
    {
        if (!server.Listen() || !client.Connect("127.0.0.1", server.Port()))
            return false;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, &client, [this] { client.Disconnect(); });
        watchdog.start(15000);
        return WaitUntil([this] { return client.Connected; }, 5000);
    }

    static FakeNntpServer::Group Group(const QByteArray &name, qint32 first, qint32 last)
    {
        FakeNntpServer::Group g;
        g.name = name;
        g.first = first;
        g.last = last;
        g.count = last - first + 1;
        return g;
    }
};
