#include "TFrmMain.h"

#include "Decode.h"
#include "TDialogFactory.h"
#include "TGroupSearch.h"
#include "TJPEGImage.h"
#include "TRunReport.h"
#include "TTrayIcon.h"
#include "TWindowPlacement.h"
#include "TZqImage.h"
#include "TZqNNTP.h"
#include "ZqIniFile.h"
#include "ZqLinesFile.h"
#include "ZqListField.h"
#include "ZqMessageBox.h"
#include "ZqPasswordStore.h"
#include "ZqPaths.h"
#include "ZqStatistics.h"

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


// Keeps a flag set for the lifetime of a scope, restoring the old value.
class FlagScope {
public:
    explicit FlagScope(bool &flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = old_; }

private:
    bool &flag_;
    bool old_;
};

const QString kConnectFailed = QStringLiteral("Connection was not successful!");
const QString kLoginFailed = QStringLiteral("Login failed:");
const QString kLoginRequired =
    QStringLiteral("The server asks for a login: enter a user name and password in Options > Configuration");


} // namespace

TFrmMain::TFrmMain(QWidget *parent) : QMainWindow(parent), Search(std::make_unique<TGroupSearch>(*this))
{
    FormCreate();
}

TFrmMain::~TFrmMain()
{
    // A search can only be on the stack below us if someone deletes the window
    // from inside a nested wait; make sure nothing calls back into a dead window.
    if (NewsClient) {
        NewsClient->OnDocOutput = nullptr;
        NewsClient->OnStateChange = nullptr;
        NewsClient->OnConnectionLost = nullptr;
    }
    Disposition.OnPreview = nullptr;
}

void TFrmMain::FormCreate()
{
    ProgramDir = ProgramDirectory();

    setWindowTitle(QStringLiteral("Pixtrawl"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    SetupUi(this);
    bvOuter->installEventFilter(this);
    ConnectCommands();
    Report = new TRunReport(*this);

    NewsClient = new TZqNNTP(this);
    NewsClient->setObjectName(QStringLiteral("NewsClient"));
    NewsClient->OnDocOutput = [this](TZqNNTP *s, const QByteArray &out) { oNNTPDocOutput(s, out); };
    NewsClient->OnStateChange = [this](TZqNNTP *s, qint32 st) { oNNTPStateChange(s, st); };
    NewsClient->OnConnectionLost = [this](TZqNNTP *s) { oNNTPConnectionLost(s); };

    Preview = new TZqImage(pnPicture);
    Preview->setObjectName(QStringLiteral("Preview"));
    auto *fill = new QGridLayout(pnPicture);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(Preview, 0, 0);
    btPreview->raise();

    Disposition.OnPreview = [this](const QByteArray &data) { ShowPreviewFile(data); };
    PreviewEnabled = true;
    StopReason = StopNone;

    // Size: the designed client area below the menu bar, which is also the smallest.
    const QSize designed(DesignWidth,
                         DesignHeight + mnMain->sizeHint().height() + statusBar()->sizeHint().height());
    setMinimumSize(designed);
    resize(designed);

    LoadGroups();
    LoadFilters();
    pbGroup->setRange(0, GroupNames.size());
    pbGroup->setValue(0);
    if (const QRect stored = TWindowPlacement::Restore(*this); !stored.isNull())
        NormalBounds = stored;
    if (!IniReadBool("CONFIG", "PREVIEW", false))
        btPreviewClick();

    FormResize();
    SetState(StateOffline);
    ClearScreen();

    // Should the application quit underneath a running search (session end),
    // let the search unwind instead of waiting forever.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        closing_ = true;
        if (searching_) {
            StopReason = StopDisconnect;
            NewsClient->Disconnect();
        }
    });
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
        {miConfiguration, &TFrmMain::miConfigurationClick},
        {mnAbout, &TFrmMain::miAboutClick},
    };
    for (const auto &[action, slot] : items)
        connect(action, &QAction::triggered, this, [this, slot = slot] { (this->*slot)(); });
    connect(miConnect, &QAction::triggered, this, [this] { miConnectClick(); });
    connect(miExit, &QAction::triggered, this, [this] { close(); });
}

void TFrmMain::LoadGroups()
{
    GroupNames.clear();
    GroupMarks.clear();
    for (const QByteArray &name : ReadList(IniReadString("GROUPS", "LIST", QByteArray()))) {
        GroupNames.append(name);
        const QByteArray pointer = IniReadString("GROUPS", name, QByteArray());
        GroupMarks.append(TGroupMark{GetField(pointer, 2, ','), ToInt64Def(GetField(pointer, 1, ','), 0)});
    }
    if (GroupNames.isEmpty())
        miSearchAllGroups->setEnabled(false);
}

void TFrmMain::LoadFilters()
{
    const QByteArray exclude = IniReadString("FILTER", "EXCLUDE", QByteArray());
    Disposition.LoadChecksums(ZqPaths::DataDir() + QStringLiteral("CRC-32.dat"));
    Disposition.OpenPartsStore(ZqPaths::DataDir() + QStringLiteral("Parts"));
    if (exclude.isEmpty())
        FilterStrings = ReadLinesFile(ZqPaths::DataDir() + QStringLiteral("Filters.dat"));
    else
        FilterStrings = ReadList(exclude);
}

void TFrmMain::SetState(int state)
{
    if (state < StateOffline || state > StateSearching)
        return;
    state_ = state;
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
}

void TFrmMain::ClearScreen()
{
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

void TFrmMain::FormResize()
{
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized)))
        NormalBounds = QRect(x(), y(), width(), height());

    // The client area is what the menu bar leaves; before the first show the
    // main-window layout has not run yet, so work it out.
    if (layout())
        layout()->activate();
    LayOutUi();
}

// ---------------------------------------------------------------- activation

void TFrmMain::FormActivate()
{
    if (activating_ || closing_)
        return;
    FlagScope busy(activating_);
    QCoreApplication::processEvents();
    if (closing_)
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
    if (!IniReadBool("CONFIG", "AUTO_START", false))
        return;

    if (!miConnect->isEnabled())
        return;
    if (!miSearchAllGroups->isEnabled()) {
        miConnectClick();
        return;
    }
    // Nobody may be there to answer a box: a first connection that fails for
    // the network's sake is retried by the search as a lost one is.
    {
        FlagScope unattended(unattendedConnect_);
        connectOutcome_ = 0;
        quietConnect_ = false;
        // The search must not select a group before the connection is reported.
        if (StartConnect())
            WaitUntil([this] { return connectOutcome_ != 0 || closing_; });
    }
    if (closing_)
        return;
    if (connectOutcome_ == TZqNNTP::StateConnected && NewsClient->Connected)
        miSearchAllGroups->trigger();
    else if (RefusalText().isEmpty())
        RunSearch(); // starts offline: its reconnection takes over
}

void TFrmMain::WaitUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// ---------------------------------------------------------------- connection

bool TFrmMain::StartConnect()
{
    const QByteArray host = IniReadString("CONFIG", "HOST", QByteArray());
    const bool tls = ReadYesNo(IniReadString("CONFIG", "TLS", QByteArray()));
    const qint32 port = IniReadInteger("CONFIG", "PORT", tls ? 563 : 119);
    NewsClient->UseTls = tls;
    NewsClient->UserName = IniReadString("CONFIG", "USER", QByteArray());
    NewsClient->Password = NewsClient->UserName.isEmpty() ? QByteArray() : LoadPassword(NewsClient->UserName, host);
    // A certificate the user trusted is trusted for the host it came from only.
    const bool pinnedHere = IniReadString("CONFIG", "TLS_TRUSTED_HOST", QByteArray()) == host;
    NewsClient->TrustedSha256 = pinnedHere ? IniReadString("CONFIG", "TLS_TRUSTED_SHA256", QByteArray()) : QByteArray();
    return NewsClient->Connect(host, port);
}

bool TFrmMain::miConnectClick()
{
    connectOutcome_ = 0;
    quietConnect_ = false;
    if (!StartConnect()) {
        ZqMessageBox(kConnectFailed + '\n' + NewsClient->FailureText, QStringLiteral("Error"), MsgIcon::None,
                     MsgButtons::Ok, nullptr);
        SetState(StateOffline);
        return false;
    }
    return true;
}

// The words for a failure that needs the user; empty for a network failure.
QString TFrmMain::RefusalText() const
{
    switch (NewsClient->LastFailure) {
    case TZqNNTP::FailLogin:
        return kLoginFailed + '\n' + NewsClient->FailureText;
    case TZqNNTP::FailLoginRequired:
        return kLoginRequired + '\n' + NewsClient->FailureText;
    case TZqNNTP::FailCertificate:
        return kConnectFailed + '\n' + NewsClient->FailureText;
    default:
        return QString();
    }
}

void TFrmMain::oNNTPStateChange(TZqNNTP *, qint32 lState)
{
    if (quietConnect_ && (lState == 2 || lState == 4)) {
        // An automatic reconnection of a running search: the search decides,
        // and an unattended run must not stop at a message box.
        quietConnect_ = false;
        connectOutcome_ = lState;
        return;
    }
    if (lState == 2) {
        connectOutcome_ = lState;
        SetState(StateOnline);
    } else if (lState == 4) {
        SetState(StateOffline);
        if (NewsClient->LastFailure == TZqNNTP::FailCertificate && OfferTrust()) {
            // Straight on with the certificate now trusted; the outcome of
            // that attempt is what a waiting caller sees.
            miConnectClick();
            return;
        }
        const QString refusal = RefusalText();
        if (NewsClient->LastFailure != TZqNNTP::FailCertificate && !(unattendedConnect_ && refusal.isEmpty())) {
            ZqMessageBox(refusal.isEmpty() ? kConnectFailed + '\n' + NewsClient->FailureText : refusal,
                         QStringLiteral("Error"), MsgIcon::None, MsgButtons::Ok, nullptr);
        }
        SetState(StateOffline);
        connectOutcome_ = lState; // after the box, so a waiting search sees state 0
    }
}

bool TFrmMain::OfferTrust()
{
    const QByteArray fingerprint = NewsClient->PeerSha256;
    if (fingerprint.isEmpty()) {
        ZqMessageBox(kConnectFailed + '\n' + NewsClient->FailureText, QStringLiteral("Error"), MsgIcon::None,
                     MsgButtons::Ok, nullptr);
        return false;
    }
    QString shown;
    for (int i = 0; i < fingerprint.size(); i += 2)
        shown += (i ? QStringLiteral(":") : QString()) + QString::fromLatin1(fingerprint.mid(i, 2));
    const int answer = ZqMessageBox(kConnectFailed + '\n' + NewsClient->FailureText
                                        + QStringLiteral("\n\nTrust exactly this certificate from now on?\nSHA-256: ")
                                        + shown,
                                    QStringLiteral("Certificate"), MsgIcon::Warning, MsgButtons::YesNo, nullptr);
    if (answer != MsgYes || closing_)
        return false;
    IniWriteString("CONFIG", "TLS_TRUSTED_SHA256", fingerprint);
    IniWriteString("CONFIG", "TLS_TRUSTED_HOST", IniReadString("CONFIG", "HOST", QByteArray()));
    return true;
}

void TFrmMain::oNNTPConnectionLost(TZqNNTP *)
{
    // A running search takes the loss up itself after the request in hand.
    if (searching_ || closing_)
        return;
    SetState(StateOffline);
    const QString refusal = RefusalText();
    if (!refusal.isEmpty())
        ZqMessageBox(refusal, QStringLiteral("Error"), MsgIcon::None, MsgButtons::Ok, nullptr);
}

void TFrmMain::StopCommand(int reason)
{
    StopReason = reason;
    NewsClient->Disconnect();
    SetState(StateOffline);
}

void TFrmMain::miDisconnectClick() { StopCommand(StopDisconnect); }
void TFrmMain::btStopClick() { StopCommand(StopSearch); }
void TFrmMain::btSkipArticleClick() { StopCommand(StopSkipArticle); }
void TFrmMain::btSkipGroupClick() { StopCommand(StopSkipGroup); }

// ---------------------------------------------------------------- commands

void TFrmMain::miSearchAllGroupsClick()
{
    // A shortcut reaches the item even while its menu is disabled: one search
    // at a time, and only on an idle connection.
    if (searching_ || closing_ || state_ != StateOnline)
        return;
    RunSearch();
}

void TFrmMain::RunSearch()
{
    SetState(StateSearching);
    Report->RunStarted();
    DecodeGroups(0, false);
    if (!closing_)
        Report->RunEnded();
}

void TFrmMain::miConfigureGroupsClick()
{
    if (searching_ || state_ != StateOnline || !dialogs_)
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
    if (searching_ || state_ != StateOnline)
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

void TFrmMain::miStatisticsClick()
{
    if (dialogs_)
        dialogs_->ShowStatDialog(*this);
}

void TFrmMain::btPreviewClick()
{
    if (PreviewEnabled) {
        btPreview->setText(QStringLiteral("Enable &Preview"));
        Preview->ClearPicture();
    } else {
        btPreview->setText(QStringLiteral("Disable &Preview"));
    }
    PreviewEnabled = !PreviewEnabled;
}

void TFrmMain::ShowPreviewFile(const QByteArray &whole)
{
    // No picture is larger: what lies beyond would only be written and read.
    const QByteArray data = whole.size() > PreviewBodyLimitBytes ? whole.left(PreviewBodyLimitBytes) : whole;
    const QString path = ZqPaths::CacheDir() + QStringLiteral("current.jpg");
    // Overwritten in place, then cut to size: ext4 answers a truncation to
    // nothing with a flush at close, which costs more than a small preview.
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || f.write(data) != data.size() || !f.resize(data.size()))
        return;
    f.close();
    try {
        // Decoded no larger than the pane needs: a full-size decode of a
        // multi-megapixel picture costs more than fetching it.
        TJPEGImage jpeg;
        jpeg.LoadFromFile(path, Preview->size());
        Preview->SetPicture(jpeg.Bitmap(), jpeg.FullSize());
    } catch (const std::exception &) {
        // not a picture: the one shown before stays
    }
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
    if (closing_)
        return true;
    // A reason left while no search runs means nothing any more.
    if (!searching_)
        StopReason = StopNone;
    if (StopReason != StopNone) {
        // A search is about to take up a command: leave at once, and make sure
        // the search ends rather than reconnecting behind a closed window.
        closing_ = true;
        StopReason = StopDisconnect;
        NewsClient->Disconnect();
        return true;
    }
    if (!noPrompt_ && IniReadBool("CONFIG", "EXIT_PROMPT", true)) {
        const int answer = ZqMessageBox(QStringLiteral("Are you sure that you want to exit?"),
                                        QStringLiteral("Exit Warning"), MsgIcon::Question, MsgButtons::OkCancel,
                                        static_cast<QWidget *>(this));
        if (answer != MsgOk || closing_)
            return answer == MsgOk;
    }
    TWindowPlacement::Save(*this, NormalBounds);
    closing_ = true;
    StopReason = StopDisconnect;
    SetState(StateOffline);
    NewsClient->Disconnect();
    Disposition.SaveChecksums(ZqPaths::DataDir() + QStringLiteral("CRC-32.dat"));
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
    if (closing_ || !TrayAvailable || !TrayAvailable())
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

// ---------------------------------------------------------------- search

void TFrmMain::ReportSaveFailure()
{
    const QString folder = QDir::toNativeSeparators(Disposition.SaveFolder);
    laArticleName->setText(QStringLiteral("Search stopped: pictures cannot be saved"));
    ZqMessageBox(QStringLiteral("Pictures cannot be saved in the folder \"%1\": %2.\nThe search was stopped; "
                                "the picture will be fetched again by the next search.")
                     .arg(folder, Disposition.SaveError),
                 QStringLiteral("Error"), MsgIcon::Error, MsgButtons::Ok, static_cast<QWidget *>(this));
}

void TFrmMain::DecodeGroups(int firstGroup, bool oneGroup)
{
    if (searching_)
        return;
    FlagScope running(searching_);
    Search->Run(firstGroup, oneGroup);
}

void TFrmMain::oNNTPDocOutput(TZqNNTP *, const QByteArray &strOutput) { Search->DocOutput(strOutput); }
