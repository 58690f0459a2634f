#pragma once
#include "TArticleDisposition.h"
#include "TFrmMainUi.h"
#include "TGroupMark.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QRect>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QSystemTrayIcon;
class TDialogFactory;
class TGroupSearch;
class TRunReport;
class TTrayIcon;
class TZqImage;
class TZqNNTP;

// The program's only top-level window and its controller: owns the news
// client, the preview and every list a search works from, and carries all
// user commands. A running search lives inside miSearchAllGroupsClick; the
// commands reach it only through StopReason plus NewsClient->Disconnect().
class TFrmMain : public QMainWindow, public TFrmMainUi {
    Q_OBJECT
public:
    enum { StateOffline = 0, StateOnline = 1, StateSearching = 2 };
    enum { StopNone = 0, StopDisconnect = 1, StopSearch = 2, StopSkipArticle = 3, StopSkipGroup = 4 };

    // Designed client area (below the menu bar); also the smallest size the
    // window can be given.
    static constexpr int DesignWidth = 492;
    static constexpr int DesignHeight = 329;

    explicit TFrmMain(QWidget *parent = nullptr);
    ~TFrmMain() override;

    // Dialogs are created through this; null means the commands open nothing.
    void SetDialogFactory(TDialogFactory *factory) { dialogs_ = factory; }
    TDialogFactory *DialogFactory() const { return dialogs_; }

    // Pause before each of the quick automatic reconnection attempts of a
    // search whose connection was lost (or, with auto start, never came up).
    QList<int> ReconnectDelaysMs{5000, 15000, 45000, 60000, 60000};
    // After those the run keeps trying at this pace until a command ends it.
    int SlowReconnectDelayMs = 10 * 60 * 1000;

    // Tray availability; replaceable so the tray path can be exercised headless.
    std::function<bool()> TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    // --- state ---
    QString ProgramDir;
    TZqNNTP *NewsClient = nullptr;
    TZqImage *Preview = nullptr;
    QList<QByteArray> GroupNames;
    QList<TGroupMark> GroupMarks;
    QList<QByteArray> FilterStrings;
    TArticleDisposition Disposition{FilterStrings};
    QString ArticleCaption;
    qint32 ProgressPhase = 0;
    qint32 PreviewMark = 0;
    // Least time between the body request or the end of the last preview of a
    // body still arriving and the next one.
    qint64 PreviewIntervalMs = 250;
    // A body past this is no picture's: its preview stops growing.
    qint64 PreviewBodyLimitBytes = qint64(64) << 20;
    qint64 ArticleBytes = 0;
    bool PreviewEnabled = true;
    qint32 StopReason = StopNone;
    qint64 CurrentFirst = 0;
    qint64 CurrentLast = 0;
    QRect NormalBounds;

    TRunReport *Report = nullptr; // summary line, thumbnails, notification, Open Output Folder
    TTrayIcon *TrayIcon = nullptr; // made at the first minimize to the tray

    // --- operations ---
    void SetState(int state);
    int State() const { return state_; }
    void ClearScreen();
    void DecodeGroups(int firstGroup, bool oneGroup);
    bool Searching() const { return searching_; }
    void LoadGroups();

    // --- event handlers ---
    void FormActivate();
    void FormResize();
    bool FormClose(); // true when the window may close
    // File > Exit without the exit prompt (a session's end, a signal).
    void CloseWithoutPrompt();
    void FormMinimize();
    void TrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    bool miConnectClick(); // true when a connection attempt was started
    void miDisconnectClick();
    void btStopClick();
    void btSkipArticleClick();
    void btSkipGroupClick();
    void miSearchAllGroupsClick();
    void miConfigureGroupsClick();
    void miClearArticlesClick();
    void miFiltersClick();
    void miConfigurationClick();
    void miAboutClick();
    void miStatisticsClick();
    void btPreviewClick();
    void oNNTPStateChange(TZqNNTP *Sender, qint32 lState);
    void oNNTPDocOutput(TZqNNTP *Sender, const QByteArray &strOutput);
    void oNNTPConnectionLost(TZqNNTP *Sender);

    // Writes data (no more of it than PreviewBodyLimitBytes) to "current.jpg"
    // and shows it; any failure keeps the old picture.
    void ShowPreviewFile(const QByteArray &data);

protected:
    bool event(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;
    void changeEvent(QEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    friend class TGroupSearch;
    void FormCreate();
    void ConnectCommands();
    void LoadFilters();
    void StopCommand(int reason);
    bool StartConnect(); // hands the configured server to the client and starts the attempt
    QString RefusalText() const;
    bool OfferTrust();
    void ReportSaveFailure(); // the box after a save failed, naming folder and reason
    void WaitUntil(const std::function<bool()> &done);
    void RunSearch();

    TDialogFactory *dialogs_ = nullptr;
    int state_ = StateOffline;
    bool searching_ = false;
    bool closing_ = false;
    bool noPrompt_ = false;
    bool activating_ = false;
    bool autoStartDone_ = false;
    bool configOffered_ = false; // the activation check has opened the configuration once
    qint32 connectOutcome_ = 0; // last OnStateChange value since the last Connect command
    bool quietConnect_ = false;  // an automatic reconnection awaits its outcome: no box, no state change
    bool unattendedConnect_ = false; // auto start's first attempt: a network failure shows no box
    std::unique_ptr<TGroupSearch> Search;
};
