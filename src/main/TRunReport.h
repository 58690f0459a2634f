#pragma once
#include "TArticleDisposition.h"
#include "TRunSummary.h"

#include <QObject>
#include <QUrl>

#include <functional>

class QAction;
class QMenu;
class TThumbnailStrip;
class TFrmMain;

// What the window shows of a run: the summary line and thumbnails of the
// saved pictures while it goes, a desktop notification when it ends, and the
// File menu's "Open Output Folder". The search reports to it through the
// Run/Group/Filtered/Disposed calls.
class TRunReport : public QObject {
    Q_OBJECT
public:
    explicit TRunReport(TFrmMain &owner);

    TThumbnailStrip *Strip;         // below the picture, in the window's status bar
    QAction *miOpenOutputFolder;    // added to the File menu before its separator
    TRunSummary Summary;            // of the current or last run
    bool Running = false;

    void RunStarted();
    void GroupStarted();
    void Filtered();
    void Disposed(TArticleDisposition::Outcome outcome, const QByteArray &savedName);
    void RunEnded();

    void miOpenOutputFolderClick();
    // The folder saved files go to, as a file URL.
    static QUrl OutputFolderUrl();

    // Seams: the desktop's opener and notification; tests replace them.
    std::function<bool(const QUrl &)> OpenUrl;
    std::function<void(const QString &title, const QString &body)> Notify;

private:
    void Show();
    void NotifyDesktop(const QString &title, const QString &body);

    TFrmMain &Owner;
};
