#pragma once
#include <QByteArray>
#include <QObject>

class QTimer;
class TDecodeWorkers;
class TZqImage;

// The picture pane's feed: pictures that come faster than a person can look
// are shown at most one per MinGapMs, always the newest in the end, each
// written to "current.jpg" and decoded at the size the pane shows. While a
// run goes on they are decoded on the workers, so the window's thread only
// shows them.
class TPreviewPane : public QObject {
    Q_OBJECT
public:
    // enabled and bodyLimitBytes: the engine's, read at each use. Without
    // workers every picture is decoded here.
    TPreviewPane(TZqImage &image, const bool &enabled, const qint64 &bodyLimitBytes, TDecodeWorkers *workers,
                 QObject *parent);

    // A picture (or the part of one that came) to show when its turn comes.
    void Offer(const QByteArray &data);
    // The one waiting, or the one still on the workers, now (a run's last
    // picture is shown at its end).
    void ShowWaiting();
    // Preview switched off: the pane empties and nothing waits.
    void Clear();
    // Writes data (no more of it than the body limit) to "current.jpg" and
    // shows it; any failure keeps the old picture.
    void ShowFile(const QByteArray &data);

    int MinGapMs = 200;
    int Shown = 0;

private:
    void showTurn();
    // data cut to the body limit and written to "current.jpg"; empty when it could not be.
    QByteArray writeCurrent(const QByteArray &whole);
    TZqImage &image_;
    const bool &enabled_;
    const qint64 &bodyLimitBytes_;
    TDecodeWorkers *workers_;
    QByteArray waiting_; // the newest picture waiting for its turn
    QByteArray decoding_; // the one on the workers
    quint64 sequence_ = 0; // of the newest picture given to the workers: older results are late
    qint64 shownAtNs_ = -1; // TMeasureClock time of the last picture shown; -1: none yet
    QTimer *turn_;
};
