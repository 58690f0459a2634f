#pragma once
#include "PictureThumbnail.h"
#include "TArticleDisposition.h"

#include <QObject>
#include <QUrl>

#include <functional>

class QAction;
class QMenu;
class QTimer;
class TFrmMain;
class TThumbnailStrip;

// What the window shows of a run: the summary line and thumbnails of the
// saved pictures while it goes, a desktop notification when it ends, and the
// File menu's "Open Output Folder". The window passes on what the engine
// reports; the counts are the engine's summary of the run.
class TRunReport : public QObject {
    Q_OBJECT
public:
    explicit TRunReport(TFrmMain &owner);

    TThumbnailStrip *Strip;         // below the picture, in the window's status bar
    QAction *miOpenOutputFolder;    // added to the File menu before its separator
    bool Running = false;

    void RunStarted();
    // Shows the summary and the pictures saved since the last update.
    void Update();
    // The counts changed: shown now, or within UpdateGapMs.
    void Changed();
    // path: where a saved file went, for its thumbnail; it joins the strip
    // with the next update, only the newest that the strip keeps.
    void Disposed(TArticleDisposition::Outcome outcome, const QString &path);
    // A saved picture's thumbnail as the workers made it.
    void Thumbnail(const QString &path, const TThumbnailPixels &pixels);
    // A failure told while the run went on; the first one is how it ended.
    void RunFailed(const QString &text);
    // walkedAll: every group was walked.
    void RunEnded(bool walkedAll);
    // "Search finished", "Search stopped by the user" or "Search failed: why".
    QString Ending;
    // Least time between two counts shown while a run goes on.
    qint64 UpdateGapMs = 100;

    void miOpenOutputFolderClick();
    // The folder saved files go to, as a file URL.
    static QUrl OutputFolderUrl();

    // Seams: the desktop's opener and notification; tests replace them.
    std::function<bool(const QUrl &)> OpenUrl;
    std::function<void(const QString &title, const QString &body)> Notify;

private:
    void NotifyDesktop(const QString &title, const QString &body);
    void addPictures();

    TFrmMain &Owner;
    QString failure_;
    qint64 shownNs_ = -1; // TMeasureClock time of the last update; -1: none yet
    QTimer *pending_;
    QStringList saved_; // saved since the strip was last updated, oldest first
};
