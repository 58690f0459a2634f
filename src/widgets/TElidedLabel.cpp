#include "TElidedLabel.h"

#include <QFontMetrics>
#include <QResizeEvent>

#include <climits>

TElidedLabel::TElidedLabel(int minChars, QWidget *parent) : QLabel(parent), minChars_(minChars)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void TElidedLabel::SetFullText(const QString &text)
{
    text_ = text;
    Elide();
    updateGeometry();
}

QSize TElidedLabel::minimumSizeHint() const
{
    return {qMin(sizeHint().width(), fontMetrics().averageCharWidth() * minChars_), QLabel::minimumSizeHint().height()};
}

QSize TElidedLabel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(text_) + 2 * margin() + 4, QLabel::sizeHint().height()};
}

void TElidedLabel::resizeEvent(QResizeEvent *e)
{
    QLabel::resizeEvent(e);
    Elide();
}

void TElidedLabel::Elide()
{
    // Not laid out yet: the whole text, until the first resize says how much fits.
    const int room = testAttribute(Qt::WA_Resized) || isVisible() ? contentsRect().width() - 2 * margin() : INT_MAX;
    const QString shown = room == INT_MAX ? text_ : fontMetrics().elidedText(text_, Qt::ElideRight, room);
    setText(shown);
    setToolTip(shown == text_ ? QString() : text_);
}
