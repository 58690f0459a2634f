#include "TZqImage.h"

#include <QPainter>
#include <QResizeEvent>

TZqImage::TZqImage(QWidget *parent) : QWidget(parent)
{
    resize(105, 105);
    PictureChanged();
}

const QImage &TZqImage::Picture() const
{
    return picture_;
}

void TZqImage::SetPicture(const QImage &picture, QSize fullSize)
{
    picture_ = picture;
    fullSize_ = picture.isNull() || fullSize.isEmpty() ? picture.size() : fullSize;
    PictureChanged();
}

void TZqImage::ClearPicture()
{
    picture_ = QImage();
    fullSize_ = QSize();
    PictureChanged();
}

bool TZqImage::Opaque() const
{
    // Computed rather than read from the attribute: a hidden widget gets its
    // resize event only when shown.
    return !picture_.isNull() && fullSize_.width() >= width() && fullSize_.height() >= height();
}

QRect TZqImage::FitRect(int W, int H, int w, int h)
{
    if (w <= 0 || h <= 0)
        return QRect();
    // 64-bit intermediates: a picture one pixel wide makes the width factor
    // huge, and factor times height would overflow an int.
    const qint64 fw = qint64(W) * 1000 / w;
    const qint64 hw = fw * h / 1000;
    if (hw > H) {
        const qint64 fh = qint64(H) * 1000 / h;
        const int drawnWidth = int(fh * w / 1000);
        return QRect((W - drawnWidth) / 2, 0, drawnWidth, H);
    }
    return QRect(0, int((H - hw) / 2), W, int(hw));
}

void TZqImage::PictureChanged()
{
    scaled_ = QImage();
    setAttribute(Qt::WA_OpaquePaintEvent, Opaque());
    update();
}

void TZqImage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    PictureChanged();
}

void TZqImage::paintEvent(QPaintEvent *)
{
    if (picture_.width() <= 0)
        return; // the parent's background shows through

    const int W = width(), H = height();
    const QRect r = FitRect(W, H, fullSize_.width(), fullSize_.height());
    QPainter p(this);
    // The rectangle spans the full width or the full height, so two of these
    // four strips are always empty.
    p.fillRect(0, 0, W, r.top(), Qt::black);
    p.fillRect(0, r.top() + r.height(), W, H - r.top() - r.height(), Qt::black);
    p.fillRect(0, r.top(), r.left(), r.height(), Qt::black);
    p.fillRect(r.left() + r.width(), r.top(), W - r.left() - r.width(), r.height(), Qt::black);
    if (r.isEmpty())
        return;
    if (scaled_.size() != r.size())
        scaled_ = picture_.scaled(r.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    p.drawImage(r.topLeft(), scaled_);
}
