#include "TStatusField.h"

// Room for the gist (state, host, the start of a reason) before it elides.
TStatusField::TStatusField(QWidget *parent) : TElidedLabel(36, parent)
{
    setObjectName(QStringLiteral("laState"));
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

void TStatusField::Connected(const QString &host, bool tls, bool compressed, const QString &user)
{
    reason_.clear();
    QStringList how;
    if (tls)
        how << QStringLiteral("TLS");
    if (compressed)
        how << QStringLiteral("compressed");
    if (!user.isEmpty())
        how << QStringLiteral("as ") + user;
    Show(QStringLiteral("Connected to ") + host
         + (how.isEmpty() ? QString() : QStringLiteral(" (") + how.join(QStringLiteral(", ")) + ')'));
}

void TStatusField::Searching(int index, int count)
{
    Show(QStringLiteral("Searching group %1 of %2").arg(index + 1).arg(count));
}
