#include "TGrabEngine.h"

#include "FlagScope.h"
#include "TConnectionPool.h"
#include "TGroupSearch.h"
#include "TDecodeWorkers.h"
#include "TOutputFolder.h"
#include "TZqNNTP.h"
#include "ZqIniFile.h"
#include "ZqLinesFile.h"
#include "ZqListField.h"
#include "ZqPasswordStore.h"
#include "SafeText.h"
#include "ZqPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>

namespace {

const QString kConnectFailed = QStringLiteral("Connection was not successful!");
const QString kLoginFailed = QStringLiteral("Login failed:");
const QString kLoginRequired =
    QStringLiteral("The server asks for a login: enter a user name and password in Options > Configuration");

} // namespace

TGrabEngine::TGrabEngine(QObject *parent)
    : QObject(parent), workers_(std::make_unique<TDecodeWorkers>()), search_(std::make_unique<TGroupSearch>(*this))
{
    ProgramDir = ProgramDirectory();
    NewsClient = new TZqNNTP(this);
    NewsClient->setObjectName(QStringLiteral("NewsClient"));
    NewsClient->OnDocOutput = [this](TZqNNTP *, const QByteArray &out) { ClientOutput(out); };
    NewsClient->OnStateChange = [this](TZqNNTP *, qint32 st) { ClientStateChange(st); };
    NewsClient->OnConnectionLost = [this](TZqNNTP *) { ClientConnectionLost(); };
    pool_ = std::make_unique<TConnectionPool>(*NewsClient);
    pool_->OnOutput = [this](TZqNNTP *client, const QByteArray &out) { search_->DocOutput(client, out); };
    const auto ahead = [this](TZqNNTP *client, qint64 number, const QList<QByteArray> &body) {
        search_->BodyAhead(client, number, body);
    };
    NewsClient->OnBodyAhead = ahead;
    pool_->OnBodyAhead = ahead;
    Disposition.OnPreview = [this](const QByteArray &data) { Events().PreviewData(data, true); };
    Disposition.DeferReleases = true;

    // Should the application quit underneath a running search (session end),
    // let the search unwind instead of waiting forever.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            closing_ = true;
            if (searching_) {
                StopReason = StopDisconnect;
                pool_->Close(false);
                NewsClient->Disconnect();
            }
        });
    }
}

TGrabEngine::~TGrabEngine()
{
    // A search can only be on the stack below us if someone deletes the
    // engine from inside a nested wait: nothing may call back into it.
    NewsClient->OnDocOutput = nullptr;
    NewsClient->OnStateChange = nullptr;
    NewsClient->OnConnectionLost = nullptr;
    pool_->OnOutput = nullptr;
    pool_->OnNote = nullptr;
    NewsClient->OnBodyAhead = nullptr;
    pool_->OnBodyAhead = nullptr;
    Disposition.OnPreview = nullptr;
    events_ = nullptr;
}

void TGrabEngine::LoadGroups()
{
    GroupNames.clear();
    GroupMarks.clear();
    for (const QByteArray &name : ReadList(IniReadString("GROUPS", "LIST", QByteArray()))) {
        GroupNames.append(name);
        const QByteArray pointer = IniReadString("GROUPS", name, QByteArray());
        GroupMarks.append(TGroupMark{GetField(pointer, 2, ','), ToInt64Def(GetField(pointer, 1, ','), 0)});
    }
}

void TGrabEngine::LoadFilters()
{
    const QByteArray exclude = IniReadString("FILTER", "EXCLUDE", QByteArray());
    Disposition.LoadChecksums(ZqPaths::DataDir() + QStringLiteral("CRC-32.dat"));
    Disposition.Similar.Open(ZqPaths::DataDir() + QStringLiteral("Similar.dat"));
    Disposition.OpenPartsStore(ZqPaths::DataDir() + QStringLiteral("Parts"));
    if (exclude.isEmpty())
        FilterStrings = ReadLinesFile(ZqPaths::DataDir() + QStringLiteral("Filters.dat"));
    else
        FilterStrings = ReadList(exclude);
    Rules.Load(ZqPaths::DataDir() + QStringLiteral("Rules.dat"));
}

bool TGrabEngine::SaveChecksums()
{
    return Disposition.SaveChecksums(ZqPaths::DataDir() + QStringLiteral("CRC-32.dat"));
}

void TGrabEngine::SetState(int state)
{
    if (state < StateOffline || state > StateSearching)
        return;
    state_ = state;
    Events().StateChanged(state);
}

void TGrabEngine::WaitUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// ---------------------------------------------------------------- connection

bool TGrabEngine::StartConnect()
{
    const QByteArray host = IniReadString("CONFIG", "HOST", QByteArray());
    const bool tls = ReadYesNo(IniReadString("CONFIG", "TLS", QByteArray()));
    const qint32 port = IniReadInteger("CONFIG", "PORT", tls ? 563 : 119);
    NewsClient->UseTls = tls;
    // On unless turned off: a server that does not offer it is not asked.
    const QByteArray compress = IniReadString("CONFIG", "COMPRESS", QByteArray()).trimmed();
    NewsClient->UseCompression = compress.isEmpty() || ReadYesNo(compress);
    NewsClient->UserName = IniReadString("CONFIG", "USER", QByteArray());
    NewsClient->Password = NewsClient->UserName.isEmpty() ? QByteArray() : LoadPassword(NewsClient->UserName, host);
    // A certificate the user trusted is trusted for the host it came from only.
    const bool pinnedHere = IniReadString("CONFIG", "TLS_TRUSTED_HOST", QByteArray()) == host;
    NewsClient->TrustedSha256 = pinnedHere ? IniReadString("CONFIG", "TLS_TRUSTED_SHA256", QByteArray()) : QByteArray();
    return NewsClient->Connect(host, port);
}

bool TGrabEngine::Connect()
{
    connectOutcome_ = 0;
    quietConnect_ = false;
    if (!StartConnect()) {
        Events().Failed(TGrabFailure::ConnectFailed, kConnectFailed + '\n' + NewsClient->FailureText, true);
        SetState(StateOffline);
        return false;
    }
    return true;
}

QString TGrabEngine::RefusalText() const
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

TGrabFailure TGrabEngine::RefusalKind() const
{
    switch (NewsClient->LastFailure) {
    case TZqNNTP::FailLogin:
        return TGrabFailure::LoginFailed;
    case TZqNNTP::FailLoginRequired:
        return TGrabFailure::LoginRequired;
    case TZqNNTP::FailCertificate:
        return TGrabFailure::Certificate;
    default:
        return TGrabFailure::ConnectFailed;
    }
}

void TGrabEngine::ClientStateChange(qint32 state)
{
    if (quietConnect_ && (state == TZqNNTP::StateConnected || state == TZqNNTP::StateAttemptFailed)) {
        // An automatic reconnection of a running search: the search decides,
        // and an unattended run must not stop at a question.
        quietConnect_ = false;
        connectOutcome_ = state;
        return;
    }
    if (state == TZqNNTP::StateConnected) {
        connectOutcome_ = state;
        SetState(StateOnline);
    } else if (state == TZqNNTP::StateAttemptFailed) {
        SetState(StateOffline);
        if (NewsClient->LastFailure == TZqNNTP::FailCertificate && OfferTrust()) {
            // Straight on with the certificate now trusted; the outcome of
            // that attempt is what a waiting caller sees.
            Connect();
            return;
        }
        const QString refusal = RefusalText();
        if (NewsClient->LastFailure != TZqNNTP::FailCertificate) {
            const bool ask = !(unattendedConnect_ && refusal.isEmpty());
            Events().Failed(RefusalKind(), refusal.isEmpty() ? kConnectFailed + '\n' + NewsClient->FailureText : refusal,
                            ask);
        }
        SetState(StateOffline);
        connectOutcome_ = state; // after the failure is told, so a waiting search sees state 0
    }
}

bool TGrabEngine::OfferTrust()
{
    const QByteArray fingerprint = NewsClient->PeerSha256;
    const QString why = kConnectFailed + '\n' + NewsClient->FailureText;
    if (fingerprint.isEmpty()) {
        Events().Failed(TGrabFailure::Certificate, why, true);
        return false;
    }
    QString shown;
    for (int i = 0; i < fingerprint.size(); i += 2)
        shown += (i ? QStringLiteral(":") : QString()) + QString::fromLatin1(fingerprint.mid(i, 2));
    const bool trusted = Events().TrustCertificate(
        why + QStringLiteral("\n\nTrust exactly this certificate from now on?\nSHA-256: ") + shown, fingerprint);
    if (!trusted || closing_) {
        // Asked already (or nobody to ask): told, not asked again.
        Events().Failed(TGrabFailure::Certificate, why, false);
        return false;
    }
    IniWriteString("CONFIG", "TLS_TRUSTED_SHA256", fingerprint);
    IniWriteString("CONFIG", "TLS_TRUSTED_HOST", IniReadString("CONFIG", "HOST", QByteArray()));
    return true;
}

void TGrabEngine::ClientConnectionLost()
{
    // A running search takes the loss up itself after the request in hand.
    if (searching_ || closing_)
        return;
    SetState(StateOffline);
    const QString refusal = RefusalText();
    if (!refusal.isEmpty())
        Events().Failed(RefusalKind(), refusal, true);
}

void TGrabEngine::StopCommand(int reason)
{
    StopReason = reason;
    pool_->Close(false);
    NewsClient->Disconnect();
    SetState(StateOffline);
}

// ---------------------------------------------------------------- search

void TGrabEngine::SearchAllGroups()
{
    if (searching_ || closing_ || state_ != StateOnline)
        return;
    RunSearch(0, false);
}

void TGrabEngine::SearchGroup(int index)
{
    if (searching_ || closing_ || state_ != StateOnline || index < 0 || index >= GroupNames.size())
        return;
    RunSearch(index, true);
}

void TGrabEngine::AutoStart()
{
    if (state_ != StateOffline || closing_)
        return;
    if (GroupNames.isEmpty()) {
        Connect();
        return;
    }
    // Nobody may be there to answer: a first connection that fails for the
    // network's sake is retried by the search as a lost one is.
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
        SearchAllGroups();
    else if (RefusalText().isEmpty())
        RunSearch(0, false); // starts offline: its reconnection takes over
}

void TGrabEngine::RunSearch(int firstGroup, bool oneGroup)
{
    // A copy killed while writing a picture leaves its temporary behind.
    TOutputFolder::RemoveStaleTemporaries(TArticleDisposition::OutputDir());
    SetState(StateSearching);
    Summary = TRunSummary();
    walkedAll_ = false;
    endReason_.clear();
    Events().RunStarted();
    DecodeGroups(firstGroup, oneGroup);
    if (!closing_)
        Events().RunEnded(Summary, walkedAll_, endReason_);
}

void TGrabEngine::DecodeGroups(int firstGroup, bool oneGroup)
{
    if (searching_)
        return;
    FlagScope running(searching_);
    pool_->ReconnectDelaysMs = ReconnectDelaysMs;
    pool_->SlowReconnectDelayMs = SlowReconnectDelayMs;
    search_->Run(firstGroup, oneGroup);
    // The extra connections are the run's; the engine's own stays.
    pool_->Close(true);
}

void TGrabEngine::EndEarly(const QString &why)
{
    if (endReason_.isEmpty())
        endReason_ = why;
}

void TGrabEngine::GroupRefused(const QByteArray &group)
{
    // The server's own words after the status code, e.g. "no such group".
    const QByteArray status = NewsClient->LastStatus.trimmed();
    QString why = SafeText::Shown(status.mid(status.indexOf(' ') + 1).trimmed());
    if (status.indexOf(' ') < 0 || why.isEmpty())
        why = QStringLiteral("refused by the server");
    Summary.Skipped.append({group, why});
    Disposition.LogNote(group, "The server refused the group (" + status + "); the group was skipped.");
    Events().Status(QStringLiteral("Group %1 skipped: %2").arg(SafeText::Shown(group), why));
}

QString TGrabEngine::SaveFailureText() const
{
    return QStringLiteral("Pictures cannot be saved in the folder \"%1\": %2.\nThe search was stopped; "
                          "the picture will be fetched again by the next search.")
        .arg(SafeText::Shown(QDir::toNativeSeparators(Disposition.SaveFolder)), Disposition.SaveError);
}

void TGrabEngine::ReportSaveFailure()
{
    Events().Status(QStringLiteral("Search stopped: pictures cannot be saved"));
    Events().Failed(TGrabFailure::SaveFailed, SaveFailureText(), true);
}

int TGrabEngine::ConnectionsInUse() const { return pool_->Up(); }

void TGrabEngine::ClientOutput(const QByteArray &chunk) { search_->DocOutput(NewsClient, chunk); }

// ---------------------------------------------------------------- closing

bool TGrabEngine::CommandPending()
{
    // A reason left while no search runs means nothing any more.
    if (!searching_)
        StopReason = StopNone;
    return StopReason != StopNone;
}

void TGrabEngine::Close(bool orderly)
{
    closing_ = true;
    StopReason = StopDisconnect;
    if (orderly)
        SetState(StateOffline);
    pool_->Close(false);
    NewsClient->Disconnect();
    if (orderly)
        SaveChecksums();
}
