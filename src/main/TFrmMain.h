#pragma once
#include "TFrmMainUi.h"
#include "TGrabEngine.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QRect>
#include <QSystemTrayIcon>

#include <functional>

class QSystemTrayIcon;
class QLabel;
class QTimer;
class TDialogFactory;
class TRunReport;
class TArticleLines;
class TPreviewPane;
class TStatusField;
class TTrayIcon;
class TZqImage;
class TZqNNTP;

// The program's only top-level window: a view of the grab engine and the
// source of the user's commands. It owns the engine, the preview, the tray
// icon and the dialogs' seam; what a search does reaches it as TGrabEvents.
class TFrmMain : public QMainWindow, public TFrmMainUi, public TGrabEvents {
    Q_OBJECT
public:
    enum {
        StateOffline = TGrabEngine::StateOffline,
        StateOnline = TGrabEngine::StateOnline,
        StateSearching = TGrabEngine::StateSearching
    };
    enum {
        StopNone = TGrabEngine::StopNone,
        StopDisconnect = TGrabEngine::StopDisconnect,
        StopSearch = TGrabEngine::StopSearch,
        StopSkipArticle = TGrabEngine::StopSkipArticle,
        StopSkipGroup = TGrabEngine::StopSkipGroup
    };

    // Designed client area (below the menu bar); also the smallest size the
    // window can be given.
    static constexpr int DesignWidth = 492;
    static constexpr int DesignHeight = 329;

    explicit TFrmMain(QWidget *parent = nullptr);
    ~TFrmMain() override;

    // Dialogs are created through this; null means the commands open nothing.
    void SetDialogFactory(TDialogFactory *factory) { dialogs_ = factory; }
    TDialogFactory *DialogFactory() const { return dialogs_; }

    // Tray availability; replaceable so the tray path can be exercised headless.
    std::function<bool()> TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    // The grab this window shows and commands.
    TGrabEngine Engine;
    // The engine's lists and settings under the names the window's dialogs
    // and commands use.
    QString &ProgramDir = Engine.ProgramDir;
    TZqNNTP *&NewsClient = Engine.NewsClient;
    QList<QByteArray> &GroupNames = Engine.GroupNames;
    QList<TGroupMark> &GroupMarks = Engine.GroupMarks;
    QList<QByteArray> &FilterStrings = Engine.FilterStrings;
    TArticleDisposition &Disposition = Engine.Disposition;
    QList<int> &ReconnectDelaysMs = Engine.ReconnectDelaysMs;
    int &SlowReconnectDelayMs = Engine.SlowReconnectDelayMs;
    qint64 &PreviewIntervalMs = Engine.PreviewIntervalMs;
    qint64 &PreviewBodyLimitBytes = Engine.PreviewBodyLimitBytes;
    bool &PreviewEnabled = Engine.PreviewEnabled;
    qint32 &StopReason = Engine.StopReason;
    qint32 &ProgressPhase = Engine.ProgressPhase;

    TZqImage *Preview = nullptr;
    QString ArticleCaption; // "Decoding Article n from group", before its percentage
    QRect NormalBounds;

    TRunReport *Report = nullptr; // summary line, thumbnails, notification, Open Output Folder
    TTrayIcon *TrayIcon = nullptr; // made at the first minimize to the tray

    // --- operations ---
    void SetState(int state) { Engine.SetState(state); }
    int State() const { return Engine.State(); }
    void ClearScreen();
    void DecodeGroups(int firstGroup, bool oneGroup) { Engine.DecodeGroups(firstGroup, oneGroup); }
    bool Searching() const { return Engine.Searching(); }
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
    void btSkipArticleClick() { userEnded_ = true; Engine.SkipArticle(); }
    void btSkipGroupClick() { userEnded_ = true; Engine.SkipGroup(); }
    void miSearchAllGroupsClick() { Engine.SearchAllGroups(); }
    void miConfigureGroupsClick();
    void miClearArticlesClick();
    void miFiltersClick();
    void miRulesClick();
    void miConfigurationClick();
    void miAboutClick();
    void miHelpClick(); // the manual in the desktop's viewer
    void miStatisticsClick();
    void btPreviewClick();

    // Paces the pictures shown and writes "current.jpg".
    TPreviewPane *Pane = nullptr;
    TArticleLines *Lines = nullptr;
    // While a run goes on: its download speed and the connections in use,
    // new every second, in the status bar.
    QLabel *laSpeed = nullptr;
    void UpdateSpeed();
    // Offline (and why), connecting, connected or searching, in the status bar.
    TStatusField *laState = nullptr;

    // --- what the engine reports ---
    void StateChanged(int state) override;
    void BytesReceived(qint64 bytes) override { speedBytes_ += bytes; }
    void ConnectionCommandsHeld() override;
    void ProgressCleared() override { ClearScreen(); }
    void RunStarted() override;
    void RunEnded(const TRunSummary &summary, bool walkedAll, const QString &why) override;
    void GroupStarted(int index, int count, const QByteArray &name) override;
    void GroupSelected(int index, const QByteArray &name, qint64 articles) override;
    void ArticleStarted(qint64 number, qint64 position, qint64 count, const QByteArray &group) override;
    void SubjectKnown(const QByteArray &subject) override;
    void BodyProgress(qint64 bytes, qint64 percent) override;
    void PreviewData(const QByteArray &data, bool finished) override;
    void ArticleFiltered(const QByteArray &subject) override;
    void ArticleDone(TArticleDisposition::Outcome outcome, const QByteArray &fileName, const QString &path) override;
    int ThumbnailBox() const override;
    void ThumbnailReady(const QString &path, const TThumbnailPixels &pixels) override;
    void Status(const QString &text) override;
    void Failed(TGrabFailure kind, const QString &text, bool mustAsk) override;
    bool TrustCertificate(const QString &text, const QByteArray &sha256Hex) override;

protected:
    bool event(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;
    void changeEvent(QEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void moveEvent(QMoveEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    void FormCreate();
    void ConnectCommands();
    void ShowConnected();
    void RecordBounds();
    // "host:port" of the configured server.
    static QString ConfiguredServer();

    QTimer *tmSpeed_ = nullptr;
    qint64 speedBytes_ = 0; // received since the last speed shown
    QElapsedTimer speedSince_;

    TDialogFactory *dialogs_ = nullptr;
    bool noPrompt_ = false;
    bool activating_ = false;
    bool autoStartDone_ = false;
    bool configOffered_ = false; // the activation check has opened the configuration once
    int shownState_ = StateOffline;
    bool userEnded_ = false; // the user ended the connection: going offline is no failure
    int groupIndex_ = 0, groupCount_ = 0; // of the search in hand
};
