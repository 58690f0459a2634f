#pragma once

#include <QSize>

class QAction;
class QFrame;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;

// The main window's controls as designed: made, named and placed here, so
// the window class is left with what they do.
class TFrmMainUi {
public:
    QFrame *bvOuter = nullptr;
    QFrame *pnToolbar = nullptr;
    QFrame *pnStatus = nullptr;
    QFrame *pnArticle = nullptr;
    QLabel *laGroup = nullptr;
    QProgressBar *pbGroup = nullptr;
    QLabel *laArticle = nullptr;
    QProgressBar *pbArticle = nullptr;
    QLabel *laArticleName = nullptr;
    QLabel *laSubject = nullptr;
    QLabel *laGroupName = nullptr;
    QFrame *pnData = nullptr;
    QFrame *pnPicture = nullptr;
    QPushButton *btPreview = nullptr;
    QFrame *pnButtons = nullptr;
    QPushButton *btSkipArticle = nullptr;
    QPushButton *btSkipGroup = nullptr;
    QPushButton *btStop = nullptr;
    QMenuBar *mnMain = nullptr;
    QMenu *mnFile = nullptr;
    QAction *miConnect = nullptr;
    QAction *miDisconnect = nullptr;
    QAction *miExit = nullptr;
    QMenu *mnGroups = nullptr;
    QAction *miSearchAllGroups = nullptr;
    QAction *miClearArticles = nullptr;
    QAction *miConfigureGroups = nullptr;
    QMenu *mnOptions = nullptr;
    QAction *miStatistics = nullptr;
    QAction *miFilters = nullptr;
    QAction *miRules = nullptr;
    QAction *miConfiguration = nullptr;
    QMenu *mnHelp = nullptr;
    QAction *miHelp = nullptr;  // F1: the manual in the desktop's viewer
    QAction *mnAbout = nullptr; // in the Help menu

protected:
    // Makes the controls and menus in window; nothing is connected yet.
    void SetupUi(QMainWindow *window);
    // Places the controls in the client area bvOuter has now.
    void LayOutUi();
    // A text line of the status panel, and the panel, for the font in use.
    int LineHeight() const;
    int StatusHeight() const;
    QSize ButtonSize() const;
};
