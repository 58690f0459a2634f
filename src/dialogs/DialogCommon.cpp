#include "DialogCommon.h"

#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QListWidget>

QPoint CentredTopLeft(const QRect &owner, const QSize &own)
{
    // C++ integer division truncates toward zero, as wanted for negative halves.
    int left = owner.x() + (owner.width() - own.width()) / 2;
    int top = owner.y() + (owner.height() - own.height()) / 2;
    return QPoint(left < 0 ? 0 : left, top < 0 ? 0 : top);
}

void CentreOverOwner(QWidget *dialog, QWidget *owner)
{
    if (!owner)
        return;
    dialog->move(CentredTopLeft(owner->frameGeometry(), dialog->frameGeometry().size()));
}

void SetFixedDialogFrame(QDialog *dialog, int width, int height, bool closeButton)
{
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (closeButton)
        flags |= Qt::WindowCloseButtonHint;
    dialog->setWindowFlags(flags);
    dialog->setFixedSize(width, height);
}

void FitFixedDialog(QDialog *dialog, int width, int height, bool closeButton)
{
    QSize size(width, height);
    if (QLayout *l = dialog->layout()) {
        l->activate();
        size = size.expandedTo(l->totalMinimumSize());
    }
    const QScreen *screen = dialog->screen() ? dialog->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        // Leave room for the window frame and title.
        const QSize room = screen->availableGeometry().size() - QSize(16, 48);
        size = size.boundedTo(room);
    }
    SetFixedDialogFrame(dialog, size.width(), size.height(), closeButton);
}

void AppendItem(QListWidget *list, const QByteArray &bytes)
{
    InsertItem(list, list->count(), bytes);
}

void InsertItem(QListWidget *list, int row, const QByteArray &bytes)
{
    auto *item = new QListWidgetItem(QString::fromUtf8(bytes));
    item->setData(Qt::UserRole, bytes);
    item->setToolTip(item->text()); // names too long for the list show whole
    list->insertItem(row, item);
}

QByteArray ItemBytes(const QListWidget *list, int row)
{
    const QListWidgetItem *item = list->item(row);
    return item ? item->data(Qt::UserRole).toByteArray() : QByteArray();
}

QList<QByteArray> AllItemBytes(const QListWidget *list)
{
    QList<QByteArray> out;
    out.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        out.append(ItemBytes(list, i));
    return out;
}

QFrame *MakeOkPanel(QWidget *owner, int margin, QPushButton *&ok)
{
    auto *panel = new QFrame(owner);
    panel->setObjectName(QStringLiteral("pnButtons"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    ok = new QPushButton(QStringLiteral("&Ok"), panel);
    ok->setObjectName(QStringLiteral("btOk"));
    ok->setDefault(true);
    auto *row = new QHBoxLayout(panel);
    row->setContentsMargins(4, margin, 4, margin);
    row->addStretch(1);
    row->addWidget(ok);
    row->addStretch(1);
    return panel;
}
