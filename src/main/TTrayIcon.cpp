#include "TTrayIcon.h"

#include "TFrmMain.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

TTrayIcon::TTrayIcon(TFrmMain &owner) : QSystemTrayIcon(&owner), Owner(owner)
{
    setObjectName(QStringLiteral("TrayIcon"));
    // Not a child of the window: a menu owned by a hidden window may not show.
    pmTray = new QMenu();
    pmTray->setObjectName(QStringLiteral("pmTray"));
    miRestore = pmTray->addAction(QStringLiteral("&Restore"));
    miRestore->setObjectName(QStringLiteral("miRestore"));
    miStopSearching = pmTray->addAction(QStringLiteral("&Stop Searching"));
    miStopSearching->setObjectName(QStringLiteral("miStopSearching"));
    pmTray->addSeparator();
    miExit = pmTray->addAction(QStringLiteral("E&xit"));
    miExit->setObjectName(QStringLiteral("miExit"));
    pmTray->setDefaultAction(miRestore);
    setContextMenu(pmTray);

    connect(miRestore, &QAction::triggered, &owner, [this] { Owner.TrayIconActivated(DoubleClick); });
    connect(miStopSearching, &QAction::triggered, &owner, [this] {
        if (Owner.btStop->isEnabled())
            Owner.btStopClick();
    });
    connect(miExit, &QAction::triggered, &owner, [this] {
        Owner.TrayIconActivated(DoubleClick); // the exit prompt needs a window to belong to
        Owner.close();
    });
    connect(pmTray, &QMenu::aboutToShow, this, &TTrayIcon::Refresh);

    // The search writes its progress into the window's labels; the tip
    // follows them while the icon shows.
    tmTip = new QTimer(this);
    tmTip->setInterval(1000);
    connect(tmTip, &QTimer::timeout, this, &TTrayIcon::Refresh);
    connect(this, &QSystemTrayIcon::activated, &owner,
            [this](ActivationReason r) { Owner.TrayIconActivated(r); });
}

TTrayIcon::~TTrayIcon() { delete pmTray; }

QString TTrayIcon::TipText() const
{
    QString tip = QStringLiteral("Wow, Dude");
    if (Owner.Searching())
        tip += QLatin1Char('\n') + Owner.laGroup->text() + QLatin1Char('\n') + Owner.laArticle->text();
    return tip;
}

void TTrayIcon::Refresh()
{
    miStopSearching->setEnabled(Owner.btStop->isEnabled());
    setToolTip(TipText());
    if (isVisible() && !tmTip->isActive())
        tmTip->start();
    else if (!isVisible())
        tmTip->stop();
}
