#include "TThumbnailQueue.h"

#include "PictureThumbnail.h"
#include "TDecodeWorkers.h"
#include "TGrabEngine.h"

#include <memory>
#include <utility>

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
    if (making_ || waiting_.isEmpty())
        return;
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
