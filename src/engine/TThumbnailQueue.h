#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

class TGrabEngine;

// Thumbnails of saved pictures, made on the workers when they have nothing
// to decode, told through the engine's events when they are. Only the
// newest wait: a strip shows no more.
class TThumbnailQueue {
public:
    explicit TThumbnailQueue(TGrabEngine &engine) : w_(engine) {}
    static constexpr int MaxWaiting = 12;

    void Add(const QByteArray &data, const QString &path);

private:
    void start();
    TGrabEngine &w_;
    QList<QPair<QString, QByteArray>> waiting_;
    bool making_ = false;
};
