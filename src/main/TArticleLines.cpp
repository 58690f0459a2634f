#include "TArticleLines.h"

#include "TMeasureClock.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <utility>

TArticleLines::TArticleLines(QLabel &header, QProgressBar &bar, QLabel &caption, QLabel &subject, QObject *parent)
    : QObject(parent), header_(header), bar_(bar), caption_(caption), subject_(subject), turn_(new QTimer(this))
{
    turn_->setSingleShot(true);
    connect(turn_, &QTimer::timeout, this, &TArticleLines::Flush);
}

void TArticleLines::SetArticle(int value, const QString &header, const QString &caption, const QString &subject)
{
    value_ = value;
    headerText_ = header;
    captionText_ = caption;
    subjectText_ = subject;
    position_ = captionSet_ = subjectSet_ = true;
    changed();
}

void TArticleLines::SetCaption(const QString &text)
{
    captionText_ = text;
    captionSet_ = true;
    changed();
}

void TArticleLines::SetSubject(const QString &text)
{
    subjectText_ = text;
    subjectSet_ = true;
    changed();
}

void TArticleLines::changed()
{
    const qint64 since = shownAtNs_ < 0 ? MinGapMs : (TMeasureClock::NowNs() - shownAtNs_) / 1000000;
    if (since >= MinGapMs)
        Flush();
    else if (!turn_->isActive())
        turn_->start(int(MinGapMs - since));
}

void TArticleLines::Flush()
{
    turn_->stop();
    if (!position_ && !captionSet_ && !subjectSet_)
        return;
    shownAtNs_ = TMeasureClock::NowNs();
    if (std::exchange(position_, false)) {
        bar_.setValue(value_);
        header_.setText(headerText_);
    }
    if (std::exchange(captionSet_, false))
        caption_.setText(captionText_);
    if (std::exchange(subjectSet_, false))
        subject_.setText(subjectText_);
}

void TArticleLines::ShowStatus(const QString &text)
{
    Flush();
    caption_.setText(text);
    shownAtNs_ = -1;
}

void TArticleLines::Drop()
{
    turn_->stop();
    position_ = captionSet_ = subjectSet_ = false;
    shownAtNs_ = -1;
}
