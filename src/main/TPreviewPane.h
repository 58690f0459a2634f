#pragma once
#include <QByteArray>
#include <QObject>

class QTimer;
class TZqImage;

// The picture pane's feed: pictures that come faster than a person can look
// are shown at most one per MinGapMs, always the newest in the end, each
// written to "current.jpg" and decoded at the size the pane shows.
class TPreviewPane : public QObject {
    Q_OBJECT
public:
    // enabled and bodyLimitBytes: the engine's, read at each use.
    TPreviewPane(TZqImage &image, const bool &enabled, const qint64 &bodyLimitBytes, QObject *parent);

    // A picture (or the part of one that came) to show when its turn comes.
    void Offer(const QByteArray &data);
    // The one waiting, now (a run's last picture is shown at its end).
    void ShowWaiting();
    // Preview switched off: the pane empties and nothing waits.
    void Clear();
    // Writes data (no more of it than the body limit) to "current.jpg" and
    // shows it; any failure keeps the old picture.
    void ShowFile(const QByteArray &data);

    int MinGapMs = 200;
    int Shown = 0;

private:
    TZqImage &image_;
    const bool &enabled_;
    const qint64 &bodyLimitBytes_;
    QByteArray waiting_; // the newest picture waiting for its turn
    qint64 shownAtNs_ = -1; // TMeasureClock time of the last picture shown; -1: none yet
    QTimer *turn_;
};
