#include "TRunReport.h"

#include "TFrmMain.h"
#include "TMeasureClock.h"
#include "TThumbnailStrip.h"
#include "TTrayIcon.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"

#include <QAction>
#include <utility>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>

TRunReport::TRunReport(TFrmMain &owner) : QObject(&owner), Owner(owner)
{
    setObjectName(QStringLiteral("RunReport"));
    OpenUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    Notify = [this](const QString &title, const QString &body) { NotifyDesktop(title, body); };

    pending_ = new QTimer(this);
    pending_->setSingleShot(true);
    connect(pending_, &QTimer::timeout, this, &TRunReport::Update);
    Strip = new TThumbnailStrip(&owner);
    Strip->SetSummary(QStringLiteral("Nothing grabbed yet"));
    Strip->OnOpen = [this](const QString &path) { OpenUrl(QUrl::fromLocalFile(path)); };
    Strip->DecodeOnPaint = false; // the engine's workers make them
    QStatusBar *bar = owner.statusBar();
    bar->setSizeGripEnabled(true);
    bar->addWidget(Strip, 1);

    miOpenOutputFolder = new QAction(QStringLiteral("&Open Output Folder"), &owner);
    miOpenOutputFolder->setObjectName(QStringLiteral("miOpenOutputFolder"));
    QAction *before = nullptr;
    for (QAction *a : owner.mnFile->actions())
        if (a->isSeparator())
            before = a;
    owner.mnFile->insertAction(before, miOpenOutputFolder);
    connect(miOpenOutputFolder, &QAction::triggered, this, &TRunReport::miOpenOutputFolderClick);
}

QUrl TRunReport::OutputFolderUrl()
{
    return QUrl::fromLocalFile(
        QFile::decodeName(IniReadString("CONFIG", "OUTPUT_DIR", QFile::encodeName(ZqPaths::DefaultOutputDir()))));
}

void TRunReport::miOpenOutputFolderClick() { OpenUrl(OutputFolderUrl()); }

void TRunReport::RunStarted()
{
    Running = true;
    Ending.clear();
    failure_.clear();
    Update();
}

void TRunReport::addPictures()
{
    for (const QString &path : std::exchange(saved_, {}))
        Strip->AddPicture(path);
}

void TRunReport::Update()
{
    pending_->stop();
    addPictures();
    shownNs_ = TMeasureClock::NowNs();
    const QString summary = Owner.Engine.Summary.Text();
    Strip->SetSummary(Ending.isEmpty() ? summary : Ending + QStringLiteral(". ") + summary);
}

void TRunReport::RunFailed(const QString &text)
{
    if (Running && failure_.isEmpty())
        failure_ = text.simplified();
}

void TRunReport::Disposed(TArticleDisposition::Outcome outcome, const QString &path)
{
    // Moving the strip's buttons along costs a layout: pictures saved faster
    // than the counts are shown join it together.
    if (outcome == TArticleDisposition::OutcomeSaved) {
        saved_.append(path);
        if (saved_.size() > TThumbnailStrip::MaxThumbs)
            saved_.removeFirst();
    }
    Changed();
}

void TRunReport::Thumbnail(const QString &path, const TThumbnailPixels &pixels)
{
    addPictures(); // its button first
    // The pixels are copied: the image must not outlive the vector it would read.
    const QImage image(pixels.Rgb.data(), pixels.Width, pixels.Height, pixels.Width * 3, QImage::Format_RGB888);
    Strip->SetThumbnail(path, image.copy());
}

void TRunReport::Changed()
{
    // Eliding the line costs more than disposing of a small article: when
    // articles go by faster than anyone reads, the count follows in steps.
    const qint64 since = shownNs_ < 0 ? UpdateGapMs : (TMeasureClock::NowNs() - shownNs_) / 1000000;
    if (since >= UpdateGapMs)
        Update();
    else if (!pending_->isActive())
        pending_->start(int(UpdateGapMs - since));
}

void TRunReport::RunEnded(bool walkedAll)
{
    if (!Running)
        return;
    Running = false;
    // A run that did not walk every group and met no failure was ended by a command.
    if (!failure_.isEmpty())
        Ending = QStringLiteral("Search failed: ") + failure_;
    else if (!walkedAll)
        Ending = QStringLiteral("Search stopped by the user");
    else
        Ending = QStringLiteral("Search finished");
    Update();
    const QString title = failure_.isEmpty() ? (walkedAll ? QStringLiteral("Pixtrawl: search finished")
                                                          : QStringLiteral("Pixtrawl: search stopped by the user"))
                                             : QStringLiteral("Pixtrawl: search failed");
    const QString summary = Owner.Engine.Summary.Text();
    Notify(title, failure_.isEmpty() ? summary : failure_ + '\n' + summary);
}

void TRunReport::NotifyDesktop(const QString &title, const QString &body)
{
    // The freedesktop notification service; without a session bus the tray
    // icon's balloon, when there is one. Sent without waiting for a reply.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        m << QStringLiteral("Pixtrawl") << 0u << QStringLiteral("org.pixtrawl.Pixtrawl") << title << body
          << QStringList() << QVariantMap() << -1;
        if (bus.send(m))
            return;
    }
    if (Owner.TrayIcon && Owner.TrayIcon->isVisible())
        Owner.TrayIcon->showMessage(title, body);
}
