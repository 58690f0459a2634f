#include "TReconnection.h"

#include "TConnectionPool.h"
#include "TGrabEngine.h"
#include "TZqNNTP.h"

#include <QLocale>
#include <QTime>
#include <QTimer>

#include <optional>
#include <utility>

TReconnection::TReconnection(TGrabEngine &engine) : w_(engine) {}

bool TReconnection::PauseUnlessCommanded(int ms)
{
    QTimer pause;
    pause.setSingleShot(true);
    pause.start(qMax(0, ms));
    w_.WaitUntil([&] { return !pause.isActive() || w_.StopReason != TGrabEngine::StopNone || w_.closing_; });
    return w_.StopReason == TGrabEngine::StopNone && !w_.closing_;
}

TReconnection::Resumed TReconnection::Resume(const QByteArray &group, int &attempts)
{
    auto commanded = [this] { return w_.StopReason != TGrabEngine::StopNone || w_.closing_; };
    // The server itself refused us (a login it wants or refused): no retry.
    if (!w_.RefusalText().isEmpty())
        return Resumed::Refused;
    const int most = int(w_.ReconnectDelaysMs.size());
    // An unattended run must not end because the server is away for a while:
    // after the quick attempts it goes on trying at a slow pace.
    for (;;) {
        int delay = w_.SlowReconnectDelayMs;
        if (attempts < most) {
            delay = w_.ReconnectDelaysMs[attempts];
            w_.Events().Status(
                QStringLiteral("Connection lost, reconnecting (attempt %1 of %2)").arg(attempts + 1).arg(most));
        } else {
            QString text = QStringLiteral("Connection lost; next try at %1")
                               .arg(QLocale().toString(QTime::currentTime().addMSecs(delay), QLocale::ShortFormat));
            if (!w_.NewsClient->FailureText.isEmpty())
                text += QStringLiteral(" (") + w_.NewsClient->FailureText + ')';
            w_.Events().Status(text);
        }
        ++attempts;
        if (!PauseUnlessCommanded(delay))
            return Resumed::Command;

        w_.connectOutcome_ = 0;
        w_.quietConnect_ = true;
        if (!w_.StartConnect()) {
            w_.quietConnect_ = false; // the name did not resolve: maybe next time
            continue;
        }
        w_.WaitUntil([&] { return w_.connectOutcome_ != 0 || commanded(); });
        if (const auto settled = Settled(group))
            return *settled;
    }
}

std::optional<TReconnection::Resumed> TReconnection::Settled(const QByteArray &group)
{
    auto commanded = [this] { return w_.StopReason != TGrabEngine::StopNone || w_.closing_; };
    if (commanded())
        return Resumed::Command;
    if (!w_.RefusalText().isEmpty())
        return Resumed::RefusedOnReconnect; // trying again would not help, or would hammer the server
    if (w_.connectOutcome_ != TZqNNTP::StateConnected || !w_.NewsClient->Connected)
        return std::nullopt;
    if (w_.NewsClient->SelectGroup(group))
        return Resumed::Selected;
    if (commanded())
        return Resumed::Command;
    if (w_.NewsClient->Connected)
        return Resumed::GroupRefused;
    return std::nullopt;
}

bool TReconnection::ReconnectAndWait()
{
    if (!w_.Connect())
        return false;
    // Nothing goes out before the client reports the connection; its own
    // ten-second guard bounds the wait.
    w_.WaitUntil([this] { return w_.connectOutcome_ != 0 || w_.closing_; });
    return w_.connectOutcome_ == TZqNNTP::StateConnected && w_.NewsClient->Connected && !w_.closing_;
}

bool TReconnection::CanHandOver(const Nntp::OverviewEntry *entry) const
{
    // The extras ask by message id: an article without one needs the
    // engine's own connection, and so does a loss the user commanded.
    return entry && Nntp::SendableMessageId(entry->messageId)
        && (w_.Pool().ExtrasUp() > 0 || w_.Pool().ExtrasComing() > 0)
        && !w_.NewsClient->Connected && w_.StopReason == TGrabEngine::StopNone && !w_.closing_
        && w_.RefusalText().isEmpty();
}

void TReconnection::HandOver()
{
    if (down_)
        return;
    down_ = true;
    reconnecting_ = false;
    attempts_ = 0;
    ScheduleRetry();
    // Handed over to extras that may still be on their way: say only what is so.
    w_.Events().Status(w_.Pool().ExtrasUp() > 0
                           ? QStringLiteral("Connection lost; the other connections carry on while it reconnects")
                           : QStringLiteral("Connection lost; reconnecting while the other connections are still opening"));
}

void TReconnection::ScheduleRetry()
{
    const int most = int(w_.ReconnectDelaysMs.size());
    const int delay = attempts_ < most ? w_.ReconnectDelaysMs[attempts_] : w_.SlowReconnectDelayMs;
    ++attempts_;
    retryAt_.setRemainingTime(qMax(0, delay));
}

bool TReconnection::Mind(const QByteArray &group)
{
    if (!down_ || w_.StopReason != TGrabEngine::StopNone || w_.closing_)
        return true;
    if (reconnecting_) {
        if (w_.connectOutcome_ == 0)
            return true; // still on its way: the walk does not wait for it
        reconnecting_ = false;
        if (!w_.RefusalText().isEmpty())
            return false;
        if (w_.connectOutcome_ == TZqNNTP::StateConnected && w_.NewsClient->Connected) {
            if (w_.NewsClient->SelectGroup(group)) {
                down_ = false;
                attempts_ = 0;
                return true;
            }
            // Without its group it can fetch nothing by number.
            if (w_.NewsClient->Connected && w_.StopReason == TGrabEngine::StopNone && !w_.closing_)
                w_.NewsClient->Disconnect();
        }
        ScheduleRetry();
        return true;
    }
    if (!retryAt_.hasExpired())
        return true;
    w_.connectOutcome_ = 0;
    w_.quietConnect_ = true;
    if (w_.StartConnect()) {
        reconnecting_ = true;
    } else {
        w_.quietConnect_ = false; // the name did not resolve: maybe next time
        ScheduleRetry();
    }
    return true;
}

TReconnection::Resumed TReconnection::Await(const QByteArray &group, int &attempts)
{
    if (std::exchange(down_, false)) {
        attempts = qMax(attempts, attempts_);
        attempts_ = 0;
        if (std::exchange(reconnecting_, false)) {
            auto commanded = [this] { return w_.StopReason != TGrabEngine::StopNone || w_.closing_; };
            w_.WaitUntil([&] { return w_.connectOutcome_ != 0 || commanded(); });
            if (const auto settled = Settled(group))
                return *settled;
        }
    }
    return Resume(group, attempts);
}

void TReconnection::Forget()
{
    down_ = false;
    reconnecting_ = false;
    attempts_ = 0;
}
