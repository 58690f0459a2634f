#include "TStatusField.h"

#include <QFontMetrics>
#include <QResizeEvent>

TStatusField::TStatusField(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("laState"));
    setTextFormat(Qt::PlainText);
    Offline();
}

void TStatusField::Connecting(const QString &where)
{
    reason_.clear();
    Show(QStringLiteral("Connecting to %1...").arg(where));
}

void TStatusField::Failed(const QString &reason)
{
    // One line: the box's text may hold several.
    reason_ = reason.simplified();
}

void TStatusField::Disconnected() { reason_.clear(); }

void TStatusField::Offline()
{
    Show(reason_.isEmpty() ? QStringLiteral("Offline") : QStringLiteral("Offline: ") + reason_);
}

void TStatusField::Connected(const QString &host, bool tls, const QString &user)
{
    reason_.clear();
    QStringList how;
    if (tls)
        how << QStringLiteral("TLS");
    if (!user.isEmpty())
        how << QStringLiteral("as ") + user;
    Show(QStringLiteral("Connected to ") + host
         + (how.isEmpty() ? QString() : QStringLiteral(" (") + how.join(QStringLiteral(", ")) + ')'));
}

void TStatusField::Searching(int index, int count)
{
    Show(QStringLiteral("Searching group %1 of %2").arg(index + 1).arg(count));
}

QSize TStatusField::minimumSizeHint() const
{
    // Room for the gist (state, host, the start of a reason); the rest is
    // elided rather than widening the window.
    return {qMin(sizeHint().width(), fontMetrics().averageCharWidth() * 36), QLabel::minimumSizeHint().height()};
}

QSize TStatusField::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(text_) + 2 * margin() + 4, QLabel::sizeHint().height()};
}

void TStatusField::resizeEvent(QResizeEvent *e)
{
    QLabel::resizeEvent(e);
    Show(text_);
}

void TStatusField::Show(const QString &text)
{
    text_ = text;
    setToolTip(text);
    setText(fontMetrics().elidedText(text, Qt::ElideRight, qMax(width(), minimumSizeHint().width())));
    updateGeometry();
}
