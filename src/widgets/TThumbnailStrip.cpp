#include "TThumbnailStrip.h"

#include "TElidedLabel.h"
#include "TPictureReader.h"

#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QPixmap thumbnail(const QString &path, int size)
{
    const QSize box(size, size);
    QImage img;
    QSize full;
    if (!TPictureReader::ReadFile(path, box, &img, &full))
        return QPixmap();
    return QPixmap::fromImage(img.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

} // namespace

TThumbnailStrip::TThumbnailStrip(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("pnThumbnails"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 2, 4, 2);
    column->setSpacing(2);
    laSummary = new TElidedLabel(24, this);
    laSummary->setObjectName(QStringLiteral("laSummary"));
    column->addWidget(laSummary);
    row_ = new QHBoxLayout;
    row_->setSpacing(4);
    row_->addStretch(1);
    column->addLayout(row_);
    setMinimumHeight(ThumbSize + 8 + laSummary->sizeHint().height() + 6);
}

void TThumbnailStrip::SetSummary(const QString &text) { laSummary->SetFullText(text); }

void TThumbnailStrip::AddPicture(const QString &path)
{
    // The oldest button is reused once the strip is full: a fast grab would
    // otherwise make and destroy a widget for every picture.
    QToolButton *b = nullptr;
    if (thumbs_.size() >= MaxThumbs) {
        b = thumbs_.takeLast();
        row_->removeWidget(b);
    } else {
        b = new QToolButton(this);
        b->setAutoRaise(true);
        b->setIconSize(QSize(ThumbSize, ThumbSize));
        b->setFixedSize(ThumbSize + 6, ThumbSize + 6);
        b->installEventFilter(this);
        connect(b, &QToolButton::clicked, this, [this, b] {
            if (OnOpen)
                OnOpen(b->property("path").toString());
        });
    }
    // Decoded when first painted: a grab that saves faster than the screen
    // shows (or with the window hidden) decodes only what is seen.
    b->setIcon(fileIcon());
    b->setProperty("pending", true);
    b->setToolTip(QFileInfo(path).fileName());
    b->setProperty("path", path);
    row_->insertWidget(0, b);
    thumbs_.prepend(b);
}

bool TThumbnailStrip::eventFilter(QObject *watched, QEvent *event)
{
    auto *b = qobject_cast<QToolButton *>(watched);
    if (event->type() == QEvent::Paint && b && DecodeOnPaint && b->property("pending").toBool()) {
        b->setProperty("pending", false);
        const QPixmap pm = thumbnail(b->property("path").toString(), ThumbSize);
        if (!pm.isNull())
            b->setIcon(QIcon(pm));
    }
    return QFrame::eventFilter(watched, event);
}

void TThumbnailStrip::SetThumbnail(const QString &path, const QImage &image)
{
    for (QToolButton *b : std::as_const(thumbs_)) {
        if (!b->property("pending").toBool() || b->property("path").toString() != path)
            continue;
        b->setProperty("pending", false);
        const QSize box(ThumbSize, ThumbSize);
        b->setIcon(QIcon(QPixmap::fromImage(image.size().boundedTo(box) == image.size()
                                                ? image
                                                : image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation))));
        return;
    }
}

const QIcon &TThumbnailStrip::fileIcon()
{
    // The style loads it from a compressed image each time it is asked.
    if (fileIcon_.isNull())
        fileIcon_ = style()->standardIcon(QStyle::SP_FileIcon);
    return fileIcon_;
}

QStringList TThumbnailStrip::Pictures() const
{
    QStringList out;
    for (const QToolButton *b : thumbs_)
        out << b->property("path").toString();
    return out;
}

QToolButton *TThumbnailStrip::Thumb(int i) const { return i >= 0 && i < thumbs_.size() ? thumbs_[i] : nullptr; }
