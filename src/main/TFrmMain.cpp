#include "TFrmMain.h"

#include "TThumbnailStrip.h"

#include "FlagScope.h"
#include "SafeText.h"
#include "TDialogFactory.h"
#include "TConnectionHint.h"
#include "THelpFile.h"
#include "TRunReport.h"
#include "TArticleLines.h"
#include "TPreviewPane.h"
#include "TStatusField.h"
#include "TTrayIcon.h"
#include "TWindowPlacement.h"
#include "TZqImage.h"
#include "TZqNNTP.h"
#include "ZqIniFile.h"
#include "ZqLinesFile.h"
#include "ZqListField.h"
#include "ZqMessageBox.h"
#include "ZqPaths.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <climits>
#include <utility>

namespace {

// Group names and subjects come from the server: shown, never obeyed.
QString shown(const QByteArray &bytes) { return SafeText::Shown(bytes); }

} // namespace

TFrmMain::TFrmMain(QWidget *parent) : QMainWindow(parent)
{
    FormCreate();
}

TFrmMain::~TFrmMain()
{
    // A search can only be on the stack below us if someone deletes the window
    // from inside a nested wait; make sure nothing calls back into a dead window.
    Engine.SetEvents(nullptr);
}

void TFrmMain::FormCreate()
{
    setWindowTitle(QStringLiteral("Pixtrawl"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);

    SetupUi(this);
    bvOuter->installEventFilter(this);
    ConnectCommands();
    Report = new TRunReport(*this);

    Engine.SetEvents(this);

    Preview = new TZqImage(pnPicture);
    Preview->setObjectName(QStringLiteral("Preview"));
    auto *fill = new QGridLayout(pnPicture);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(Preview, 0, 0);
    btPreview->raise();
    PreviewEnabled = true;
    Pane = new TPreviewPane(*Preview, PreviewEnabled, PreviewBodyLimitBytes, &Engine.Workers(), this);
    Lines = new TArticleLines(*laArticle, *pbArticle, *laArticleName, *laSubject, this);
    laState = new TStatusField(this);
    statusBar()->addPermanentWidget(laState); // its text's width; the summary takes the rest
    laSpeed = new QLabel(this);
    laSpeed->setObjectName(QStringLiteral("laSpeed"));
    statusBar()->addPermanentWidget(laSpeed);
    tmSpeed_ = new QTimer(this);
    tmSpeed_->setInterval(1000);
    connect(tmSpeed_, &QTimer::timeout, this, &TFrmMain::UpdateSpeed);

    // Size: the designed client area below the menu bar, which is also the smallest.
    const QSize designed(DesignWidth,
                         DesignHeight + mnMain->sizeHint().height() + statusBar()->sizeHint().height());
    setMinimumSize(designed);
    resize(designed);

    LoadGroups();
    Engine.LoadFilters();
    pbGroup->setRange(0, GroupNames.size());
    pbGroup->setValue(0);
    if (const QRect stored = TWindowPlacement::Restore(*this); !stored.isNull())
        NormalBounds = stored;
    if (!IniReadBool("CONFIG", "PREVIEW", false))
        btPreviewClick();

    FormResize();
    SetState(StateOffline);
    ClearScreen();
}

void TFrmMain::ConnectCommands()
{
    const std::pair<QPushButton *, void (TFrmMain::*)()> buttons[] = {
        {btSkipArticle, &TFrmMain::btSkipArticleClick},
        {btSkipGroup, &TFrmMain::btSkipGroupClick},
        {btStop, &TFrmMain::btStopClick},
        {btPreview, &TFrmMain::btPreviewClick},
    };
    for (const auto &[button, slot] : buttons)
        connect(button, &QPushButton::clicked, this, [this, slot = slot] { (this->*slot)(); });
    const std::pair<QAction *, void (TFrmMain::*)()> items[] = {
        {miDisconnect, &TFrmMain::miDisconnectClick},
        {miSearchAllGroups, &TFrmMain::miSearchAllGroupsClick},
        {miClearArticles, &TFrmMain::miClearArticlesClick},
        {miConfigureGroups, &TFrmMain::miConfigureGroupsClick},
        {miStatistics, &TFrmMain::miStatisticsClick},
        {miFilters, &TFrmMain::miFiltersClick},
        {miRules, &TFrmMain::miRulesClick},
        {miConfiguration, &TFrmMain::miConfigurationClick},
        {mnAbout, &TFrmMain::miAboutClick},
        {miHelp, &TFrmMain::miHelpClick},
    };
    for (const auto &[action, slot] : items)
        connect(action, &QAction::triggered, this, [this, slot = slot] { (this->*slot)(); });
    connect(miConnect, &QAction::triggered, this, [this] { miConnectClick(); });
    connect(miExit, &QAction::triggered, this, [this] { close(); });
}

void TFrmMain::LoadGroups()
{
    Engine.LoadGroups();
    if (GroupNames.isEmpty())
        miSearchAllGroups->setEnabled(false);
}

void TFrmMain::StateChanged(int state)
{
    if (state == StateOffline) {
        // Gone without anybody asking: say so until a failure says more.
        if (shownState_ != StateOffline && !userEnded_)
            laState->Failed(QStringLiteral("the connection was lost"));
        laState->Offline();
    } else if (state == StateOnline) {
        ShowConnected();
    } else {
        laState->Searching(groupIndex_, qMax(1, groupCount_));
    }
    if (state != StateOffline)
        userEnded_ = false;
    shownState_ = state;
    mnFile->setEnabled(true);
    mnFile->menuAction()->setEnabled(true);
    mnGroups->setEnabled(state == StateOnline);
    mnGroups->menuAction()->setEnabled(state == StateOnline);
    btSkipArticle->setEnabled(state == StateSearching);
    btSkipGroup->setEnabled(state == StateSearching);
    btStop->setEnabled(state == StateSearching);
    mnOptions->setEnabled(true);
    mnOptions->menuAction()->setEnabled(true);
    miConfiguration->setEnabled(state != StateSearching);
    miConnect->setEnabled(state == StateOffline);
    miDisconnect->setEnabled(state != StateOffline);
    miExit->setEnabled(true);
    miClearArticles->setEnabled(state == StateOnline);
}

void TFrmMain::ShowConnected()
{
    QString user = shown(NewsClient->UserName);
    laState->Connected(shown(NewsClient->Host()), NewsClient->UseTls, NewsClient->Compressing(), user);
}

QString TFrmMain::ConfiguredServer()
{
    const bool tls = ReadYesNo(IniReadString("CONFIG", "TLS", QByteArray()));
    return shown(IniReadString("CONFIG", "HOST", QByteArray())) + ':'
        + QString::number(IniReadInteger("CONFIG", "PORT", tls ? 563 : 119));
}

bool TFrmMain::miConnectClick()
{
    if (State() == StateOffline)
        laState->Connecting(ConfiguredServer());
    return Engine.Connect();
}

void TFrmMain::miDisconnectClick()
{
    userEnded_ = true;
    laState->Disconnected();
    Engine.Disconnect();
}

void TFrmMain::btStopClick()
{
    userEnded_ = true;
    Engine.Stop();
}

void TFrmMain::ConnectionCommandsHeld()
{
    mnFile->setEnabled(false);
    mnFile->menuAction()->setEnabled(false);
}

void TFrmMain::ClearScreen()
{
    Lines->Drop();
    laGroupName->clear();
    laArticleName->clear();
    laSubject->clear();
    laGroup->setText(QStringLiteral("Groups Completed"));
    laArticle->setText(QStringLiteral("Articles Completed"));
    pbGroup->setValue(0);
    pbArticle->setValue(0);
    // A range of 0 to 0 draws as busy: an idle bar shows empty instead.
    for (QProgressBar *bar : {pbGroup, pbArticle})
        if (bar->maximum() == 0)
            bar->setMaximum(1);
}

// ---------------------------------------------------------------- layout

bool TFrmMain::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate && !activating_)
        QMetaObject::invokeMethod(this, &TFrmMain::FormActivate, Qt::QueuedConnection);
    return QMainWindow::event(e);
}

bool TFrmMain::eventFilter(QObject *watched, QEvent *e)
{
    // The client area can change without the window changing (menu bar height).
    if (watched == bvOuter && e->type() == QEvent::Resize)
        FormResize();
    return QMainWindow::eventFilter(watched, e);
}

void TFrmMain::resizeEvent(QResizeEvent *e)
{
    QMainWindow::resizeEvent(e);
    FormResize();
}

void TFrmMain::moveEvent(QMoveEvent *e)
{
    QMainWindow::moveEvent(e);
    // A window dragged elsewhere opens there next time.
    RecordBounds();
}

void TFrmMain::RecordBounds()
{
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized)))
        NormalBounds = QRect(x(), y(), width(), height());
}

void TFrmMain::FormResize()
{
    RecordBounds();

    // The client area is what the menu bar leaves; before the first show the
    // main-window layout has not run yet, so work it out.
    if (layout())
        layout()->activate();
    LayOutUi();
}

// ---------------------------------------------------------------- activation

void TFrmMain::FormActivate()
{
    if (activating_ || Engine.Closing())
        return;
    FlagScope busy(activating_);
    QCoreApplication::processEvents();
    if (Engine.Closing())
        return;

    if (IniReadString("CONFIG", "HOST", QByteArray()).isEmpty()
        || IniReadString("CONFIG", "PORT", QByteArray()).isEmpty()) {
        // Settings that cannot be saved never get a host: asking again at
        // every activation would lock the user in (reported once at start).
        if (configOffered_ && !ZqPaths::SettingsWriteProblem().isEmpty())
            return;
        configOffered_ = true;
        miConfigurationClick();
        return;
    }
    // Auto start acts once per run, at the first activation that finds the
    // server configured; later activations (a dialog closing) do not repeat it.
    if (autoStartDone_)
        return;
    autoStartDone_ = true;
    if (IniReadBool("CONFIG", "AUTO_START", false)) {
        laState->Connecting(ConfiguredServer());
        Engine.AutoStart();
    }
}

// ---------------------------------------------------------------- what the engine reports

void TFrmMain::RunStarted()
{
    Report->RunStarted();
    groupIndex_ = 0;
    groupCount_ = GroupNames.size();
    laState->Searching(groupIndex_, qMax(1, groupCount_));
    speedBytes_ = 0;
    speedSince_.start();
    tmSpeed_->start();
    UpdateSpeed();
}

void TFrmMain::UpdateSpeed()
{
    const double seconds = speedSince_.isValid() ? qMax<qint64>(1, speedSince_.restart()) / 1000.0 : 1.0;
    const double mbPerSecond = double(speedBytes_) / 1048576.0 / seconds;
    speedBytes_ = 0;
    const int connections = Engine.ConnectionsInUse();
    laSpeed->setText(QStringLiteral("%1 MB/s, %2 connection%3")
                         .arg(mbPerSecond, 0, 'f', 1)
                         .arg(connections)
                         .arg(connections == 1 ? QString() : QStringLiteral("s")));
}

void TFrmMain::RunEnded(const TRunSummary &, bool walkedAll, const QString &)
{
    tmSpeed_->stop();
    laSpeed->clear();
    Lines->Flush();
    Pane->ShowWaiting(); // the run's last picture at its end, not a moment later
    Report->RunEnded(walkedAll);
}

void TFrmMain::GroupStarted(int index, int count, const QByteArray &name)
{
    laGroupName->setText(shown(name));
    groupIndex_ = index;
    groupCount_ = count;
    if (State() == StateSearching)
        laState->Searching(index, count);
    pbGroup->setRange(0, count);
    pbGroup->setValue(index);
    laGroup->setText(QStringLiteral("Searching Group %1 of %2").arg(index + 1).arg(pbGroup->maximum()));
}

void TFrmMain::GroupSelected(int, const QByteArray &, qint64 articles)
{
    Lines->Drop(); // the last group's article is over
    Report->Update();
    pbArticle->setRange(0, int(qBound(qint64(0), articles, qint64(INT_MAX))));
    pbArticle->setValue(0);
}

void TFrmMain::ArticleStarted(qint64 number, qint64 position, qint64, const QByteArray &group)
{
    ArticleCaption = QStringLiteral("Decoding Article %1 from %2").arg(number).arg(shown(group));
    // The article's number, as on the line below, and where it stands in the walk.
    Lines->SetArticle(int(qMin<qint64>(position, INT_MAX)),
                      QStringLiteral("Article %1 (%2 of %3)").arg(number).arg(position + 1).arg(pbArticle->maximum()),
                      ArticleCaption + QStringLiteral(" (0%)"), QStringLiteral("Retrieving Subject..."));
}

void TFrmMain::SubjectKnown(const QByteArray &subject) { Lines->SetSubject(shown(subject)); }

void TFrmMain::BodyProgress(qint64, qint64 percent)
{
    Lines->SetCaption(ArticleCaption + QStringLiteral(" (%1%)").arg(percent));
}

void TFrmMain::PreviewData(const QByteArray &data, bool) { Pane->Offer(data); }

void TFrmMain::ArticleFiltered(const QByteArray &) { Report->Changed(); }

void TFrmMain::ArticleDone(TArticleDisposition::Outcome outcome, const QByteArray &, const QString &path)
{
    Report->Disposed(outcome, path);
}

int TFrmMain::ThumbnailBox() const { return TThumbnailStrip::ThumbSize; }

void TFrmMain::ThumbnailReady(const QString &path, const TThumbnailPixels &pixels) { Report->Thumbnail(path, pixels); }

void TFrmMain::Status(const QString &text)
{
    Lines->ShowStatus(text);
}

void TFrmMain::Failed(TGrabFailure kind, const QString &text, bool mustAsk)
{
    Report->RunFailed(text);
    if (kind != TGrabFailure::SaveFailed) {
        // Its last line is the server's "host:port: reason".
        laState->Failed(text.trimmed().section(QLatin1Char('\n'), -1));
        if (State() == StateOffline)
            laState->Offline();
    }
    if (!mustAsk)
        return;
    if (kind == TGrabFailure::SaveFailed)
        ZqMessageBox(text, QStringLiteral("Error"), MsgIcon::Error, MsgButtons::Ok, static_cast<QWidget *>(this));
    else
        ZqMessageBox(text + TConnectionHint::For(kind, NewsClient->UseTls, NewsClient->Port(), NewsClient->FailureText),
                     QStringLiteral("Error"), MsgIcon::None, MsgButtons::Ok, nullptr);
}

bool TFrmMain::TrustCertificate(const QString &text, const QByteArray &)
{
    return ZqMessageBox(text, QStringLiteral("Certificate"), MsgIcon::Warning, MsgButtons::YesNo, nullptr) == MsgYes;
}

// ---------------------------------------------------------------- commands

void TFrmMain::miConfigureGroupsClick()
{
    if (Searching() || State() != StateOnline || !dialogs_)
        return;
    const bool wasConnected = NewsClient->Connected;
    if (dialogs_->ExecGroupDialog(*this)) {
        QByteArray list;
        for (const QByteArray &name : GroupNames)
            list += name + ',';
        IniWriteString("GROUPS", "LIST", list);
        LoadGroups();
    }
    if (wasConnected && !NewsClient->Connected) // a listing cancelled in the dialog drops the connection
        SetState(StateOffline);
    miSearchAllGroups->setEnabled(!GroupNames.isEmpty());
    pbGroup->setRange(0, GroupNames.size());
    ClearScreen();
}

void TFrmMain::miClearArticlesClick()
{
    if (Searching() || State() != StateOnline)
        return;
    if (GroupNames.isEmpty()) {
        ZqMessageBox(QStringLiteral("You must have groups defined!"), QStringLiteral("Group Error"), MsgIcon::Error,
                     MsgButtons::Ok, nullptr);
        return;
    }
    if (dialogs_)
        dialogs_->ExecClearDialog(*this);
}

void TFrmMain::miFiltersClick()
{
    if (!dialogs_)
        return;
    dialogs_->ExecFilterDialog(*this);
    WriteLinesFile(ZqPaths::DataDir() + QStringLiteral("Filters.dat"), FilterStrings);
}

void TFrmMain::miRulesClick()
{
    if (!dialogs_)
        return;
    dialogs_->ExecRulesDialog(*this);
    Engine.Rules.Refresh(); // a running search takes them up with its next article
}

void TFrmMain::miConfigurationClick()
{
    if (dialogs_)
        dialogs_->ExecConfigDialog(*this);
}

void TFrmMain::miAboutClick()
{
    if (dialogs_)
        dialogs_->ExecAboutDialog(*this);
}

void TFrmMain::miHelpClick()
{
    const QString manual = THelpFile::Path();
    if (manual.isEmpty() || !Report->OpenUrl(QUrl::fromLocalFile(manual)))
        ZqMessageBox(QStringLiteral("The manual could not be opened; see \"man pixtrawl\"."), QStringLiteral("Help"),
                     MsgIcon::Information, MsgButtons::Ok, static_cast<QWidget *>(this));
}

void TFrmMain::miStatisticsClick()
{
    if (dialogs_)
        dialogs_->ShowStatDialog(*this);
}

void TFrmMain::btPreviewClick()
{
    if (PreviewEnabled) {
        btPreview->setText(QStringLiteral("Enable &Preview"));
        Pane->Clear();
    } else {
        btPreview->setText(QStringLiteral("Disable &Preview"));
    }
    PreviewEnabled = !PreviewEnabled;
}

// ---------------------------------------------------------------- closing

void TFrmMain::closeEvent(QCloseEvent *e)
{
    if (FormClose())
        e->accept();
    else
        e->ignore();
}

void TFrmMain::CloseWithoutPrompt()
{
    noPrompt_ = true;
    // An exit prompt already open must not hold the close up.
    if (QWidget *modal = QApplication::activeModalWidget())
        modal->close();
    close();
}

bool TFrmMain::FormClose()
{
    if (Engine.Closing())
        return true;
    if (Engine.CommandPending()) {
        // A search is about to take up a command: leave at once, and make sure
        // the search ends rather than reconnecting behind a closed window.
        Engine.Close(false);
        return true;
    }
    if (!noPrompt_ && IniReadBool("CONFIG", "EXIT_PROMPT", true)) {
        const int answer = ZqMessageBox(QStringLiteral("Are you sure that you want to exit?"),
                                        QStringLiteral("Exit Warning"), MsgIcon::Question, MsgButtons::OkCancel,
                                        static_cast<QWidget *>(this));
        if (answer != MsgOk || Engine.Closing())
            return answer == MsgOk;
    }
    TWindowPlacement::Save(*this, NormalBounds);
    Engine.Close(true);
    if (TrayIcon)
        TrayIcon->hide();
    return true;
}

// ---------------------------------------------------------------- tray icon

void TFrmMain::changeEvent(QEvent *e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        FormMinimize();
}

void TFrmMain::FormMinimize()
{
    // Without a tray there would be no way back to a hidden window.
    if (Engine.Closing() || !TrayAvailable || !TrayAvailable())
        return;
    if (!TrayIcon) {
        TrayIcon = new TTrayIcon(*this);
        QIcon icon = QApplication::windowIcon();
        if (icon.isNull())
            icon = style()->standardIcon(QStyle::SP_DesktopIcon);
        TrayIcon->setIcon(icon);
    }
    TrayIcon->show();
    TrayIcon->Refresh();
    // Hide once the state change has been dealt with.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if ((windowState() & Qt::WindowMinimized) && TrayIcon && TrayIcon->isVisible())
                hide();
        },
        Qt::QueuedConnection);
}

void TFrmMain::TrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    // Status-notifier trays (Plasma, GNOME's AppIndicator) report single clicks only.
    if ((reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger) || !TrayIcon)
        return;
    TrayIcon->hide();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

