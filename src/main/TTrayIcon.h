#pragma once
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QTimer;
class TFrmMain;

// The main window's tray icon while it is minimized: a menu with Restore,
// Stop Searching and Exit, and a tip that adds the search's progress.
class TTrayIcon : public QSystemTrayIcon {
    Q_OBJECT
public:
    explicit TTrayIcon(TFrmMain &owner);
    ~TTrayIcon() override;

    QMenu *pmTray;
    QAction *miRestore;
    QAction *miStopSearching;
    QAction *miExit;

    // "Wow, Dude", then the group and article lines while a search runs.
    QString TipText() const;
    void Refresh();

private:
    TFrmMain &Owner;
    QTimer *tmTip;
};
