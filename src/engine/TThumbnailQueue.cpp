#include "TThumbnailQueue.h"

#include "PictureThumbnail.h"
#include "TDecodeWorkers.h"
#include "TGrabEngine.h"
#include "TMeasureClock.h"

#include <memory>
#include <utility>

TThumbnailQueue::TThumbnailQueue(TGrabEngine &engine) : w_(engine)
{
    turn_.setSingleShot(true);
    QObject::connect(&turn_, &QTimer::timeout, &turn_, [this] { start(); });
}

void TThumbnailQueue::Add(const QByteArray &data, const QString &path)
{
    if (w_.Events().ThumbnailBox() <= 0 || data.isEmpty())
        return;
    waiting_.append({path, data});
    while (waiting_.size() > MaxWaiting)
        waiting_.removeFirst();
    start();
}

void TThumbnailQueue::start()
{
    if (making_ || waiting_.isEmpty() || turn_.isActive())
        return;
    const qint64 now = TMeasureClock::NowNs();
    const qint64 since = startedNs_ < 0 ? MinGapMs : (now - startedNs_) / 1000000;
    if (since < MinGapMs) {
        turn_.start(int(MinGapMs - since));
        return;
    }
    startedNs_ = now;
    making_ = true;
    const int box = w_.Events().ThumbnailBox();
    auto made = std::make_shared<QList<QPair<QString, TThumbnailPixels>>>();
    w_.Workers().Run(
        [made, box, pictures = std::exchange(waiting_, {})] {
            for (const auto &[path, data] : pictures)
                made->append({path, ::MakeThumbnail(data, box)});
        },
        [this, made] {
            making_ = false;
            for (const auto &[path, pixels] : *made)
                if (pixels.Valid())
                    w_.Events().ThumbnailReady(path, pixels);
            start();
        },
        TDecodeWorkers::Later);
}
