#pragma once
#include "FakeNntpServer.h"
#include "WaitUntil.h"
#include "TZqNNTP.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

// A client connected to a fake server; a watchdog ends any command that a
// fault would leave waiting.
struct ConnectedClient {
    FakeNntpServer server;
    TZqNNTP client;
    QTimer watchdog;
    bool watchdogFired = false;

    bool Connect()
    {
        if (!server.Listen() || !client.Connect("127.0.0.1", server.Port()))
            return false;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, &client, [this] {
            watchdogFired = true;
            client.Disconnect();
        });
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
