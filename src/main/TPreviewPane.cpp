#include "TPreviewPane.h"

#include "TMeasureClock.h"
#include "TPictureReader.h"
#include "TZqImage.h"
#include "ZqPaths.h"

#include <QFile>
#include <QImage>
#include <QTimer>

#include <utility>

TPreviewPane::TPreviewPane(TZqImage &image, const bool &enabled, const qint64 &bodyLimitBytes, QObject *parent)
    : QObject(parent), image_(image), enabled_(enabled), bodyLimitBytes_(bodyLimitBytes), turn_(new QTimer(this))
{
    turn_->setSingleShot(true);
    connect(turn_, &QTimer::timeout, this, &TPreviewPane::ShowWaiting);
}

void TPreviewPane::Offer(const QByteArray &data)
{
    waiting_ = data;
    const qint64 since = shownAtNs_ < 0 ? MinGapMs : (TMeasureClock::NowNs() - shownAtNs_) / 1000000;
    if (since >= MinGapMs)
        ShowWaiting();
    else if (!turn_->isActive())
        turn_->start(int(MinGapMs - since));
}

void TPreviewPane::ShowWaiting()
{
    turn_->stop();
    if (waiting_.isNull())
        return;
    const QByteArray data = std::exchange(waiting_, QByteArray());
    shownAtNs_ = TMeasureClock::NowNs();
    if (enabled_)
        ShowFile(data);
}

void TPreviewPane::Clear()
{
    image_.ClearPicture();
    waiting_.clear();
    turn_->stop();
}

void TPreviewPane::ShowFile(const QByteArray &whole)
{
    // No picture is larger: what lies beyond would only be written and read.
    const QByteArray data = whole.size() > bodyLimitBytes_ ? whole.left(bodyLimitBytes_) : whole;
    const QString path = ZqPaths::CacheDir() + QStringLiteral("current.jpg");
    // Overwritten in place, then cut to size: ext4 answers a truncation to
    // nothing with a flush at close, which costs more than a small preview.
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || f.write(data) != data.size() || !f.resize(data.size()))
        return;
    f.close();
    ++Shown;
    // Decoded no larger than the pane needs: a full-size decode of a
    // multi-megapixel picture costs more than fetching it. Not a picture:
    // the one shown before stays.
    QImage picture;
    QSize fullSize;
    if (TPictureReader::ReadFile(path, image_.size(), &picture, &fullSize))
        image_.SetPicture(picture, fullSize);
}
