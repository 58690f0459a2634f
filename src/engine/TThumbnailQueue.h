#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QTimer>

class TGrabEngine;

// Thumbnails of saved pictures, made on the workers when they have nothing
// to decode, told through the engine's events when they are. Only the
// newest wait: a strip shows no more. A batch starts at most every
// MinGapMs: pictures saved faster than that are seen in a strip for no
// longer, and making theirs would take the cores the walk needs.
class TThumbnailQueue {
public:
    explicit TThumbnailQueue(TGrabEngine &engine);
    static constexpr int MaxWaiting = 12;
    static constexpr qint64 MinGapMs = 200;

    void Add(const QByteArray &data, const QString &path);

private:
    void start();
    TGrabEngine &w_;
    QList<QPair<QString, QByteArray>> waiting_;
    bool making_ = false;
    qint64 startedNs_ = -1; // the last batch's start
    QTimer turn_;
};
