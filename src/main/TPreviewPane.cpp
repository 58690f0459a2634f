#include "TPreviewPane.h"

#include "TDecodeWorkers.h"
#include "TMeasureClock.h"
#include "TPictureReader.h"
#include "TZqImage.h"
#include "ZqPaths.h"

#include <QFile>
#include <QImage>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <utility>

TPreviewPane::TPreviewPane(TZqImage &image, const bool &enabled, const qint64 &bodyLimitBytes,
                           TDecodeWorkers *workers, QObject *parent)
    : QObject(parent), image_(image), enabled_(enabled), bodyLimitBytes_(bodyLimitBytes), workers_(workers),
      turn_(new QTimer(this))
{
    turn_->setSingleShot(true);
    connect(turn_, &QTimer::timeout, this, &TPreviewPane::showTurn);
}

void TPreviewPane::Offer(const QByteArray &data)
{
    waiting_ = data;
    const qint64 since = shownAtNs_ < 0 ? MinGapMs : (TMeasureClock::NowNs() - shownAtNs_) / 1000000;
    if (since >= MinGapMs)
        showTurn();
    else if (!turn_->isActive())
        turn_->start(int(MinGapMs - since));
}

void TPreviewPane::showTurn()
{
    turn_->stop();
    if (waiting_.isNull())
        return;
    const QByteArray whole = std::exchange(waiting_, QByteArray());
    shownAtNs_ = TMeasureClock::NowNs();
    if (!enabled_)
        return;
    if (!workers_) {
        ShowFile(whole);
        return;
    }
    const QByteArray data = writeCurrent(whole);
    if (data.isNull())
        return;
    ++Shown;
    decoding_ = data;
    const quint64 sequence = ++sequence_;
    struct Result {
        QImage picture;
        QSize fullSize;
        bool ok = false;
    };
    auto result = std::make_shared<Result>();
    const QSize box = image_.size();
    const QPointer<TPreviewPane> self(this);
    workers_->Run([result, data, box] { result->ok = TPictureReader::Read(data, box, &result->picture, &result->fullSize); },
                  [self, result, sequence] {
                      if (!self || sequence != self->sequence_)
                          return;
                      self->decoding_.clear();
                      if (result->ok && self->enabled_)
                          self->image_.SetPicture(result->picture, result->fullSize);
                  });
}

void TPreviewPane::ShowWaiting()
{
    if (!waiting_.isNull()) {
        turn_->stop();
        shownAtNs_ = TMeasureClock::NowNs();
        ++sequence_; // what the workers still decode is older
        decoding_.clear();
        if (enabled_)
            ShowFile(std::exchange(waiting_, QByteArray()));
        waiting_.clear();
    } else if (!decoding_.isNull()) {
        // Not yet back from the workers: shown now, theirs comes too late.
        ++sequence_;
        const QByteArray data = std::exchange(decoding_, QByteArray());
        QImage picture;
        QSize fullSize;
        if (enabled_ && TPictureReader::Read(data, image_.size(), &picture, &fullSize))
            image_.SetPicture(picture, fullSize);
    }
}

void TPreviewPane::Clear()
{
    image_.ClearPicture();
    waiting_.clear();
    decoding_.clear();
    ++sequence_;
    turn_->stop();
}

QByteArray TPreviewPane::writeCurrent(const QByteArray &whole)
{
    // No picture is larger: what lies beyond would only be written and read.
    const QByteArray data = whole.size() > bodyLimitBytes_ ? whole.left(bodyLimitBytes_) : whole;
    const QString path = ZqPaths::CacheDir() + QStringLiteral("current.jpg");
    // Overwritten in place, then cut to size: ext4 answers a truncation to
    // nothing with a flush at close, which costs more than a small preview.
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || f.write(data) != data.size() || !f.resize(data.size()))
        return {};
    return data.isNull() ? QByteArray("") : data;
}

void TPreviewPane::ShowFile(const QByteArray &whole)
{
    const QByteArray data = writeCurrent(whole);
    if (data.isNull())
        return;
    ++Shown;
    // Decoded no larger than the pane needs: a full-size decode of a
    // multi-megapixel picture costs more than fetching it. Not a picture:
    // the one shown before stays.
    QImage picture;
    QSize fullSize;
    if (TPictureReader::Read(data, image_.size(), &picture, &fullSize))
        image_.SetPicture(picture, fullSize);
}
