#include "TConnectionPool.h"

#include <QHash>

#include <algorithm>

namespace {

// Refusals that another try in the same run would only repeat: a full
// server, a login it does not take, a certificate the user was not asked about.
bool Refusal(TZqNNTP::Failure f)
{
    return f == TZqNNTP::FailServer || f == TZqNNTP::FailLogin || f == TZqNNTP::FailLoginRequired
        || f == TZqNNTP::FailCertificate;
}

} // namespace

TConnectionPool::TConnectionPool(TZqNNTP &primary, QObject *parent) : QObject(parent), primary_(primary) {}

TConnectionPool::~TConnectionPool()
{
    for (auto &e : extras_) {
        e->client->OnStateChange = nullptr;
        e->client->OnConnectionLost = nullptr;
        e->client->OnDocOutput = nullptr;
        e->client->OnBodyAhead = nullptr;
    }
}

void TConnectionPool::Open(int connections)
{
    wantedExtras_ = qBound(1, connections, MaxConnections) - 1;
    while (int(extras_.size()) < wantedExtras_) {
        auto e = std::make_unique<Extra>();
        Extra *raw = e.get();
        e->client = std::make_unique<TZqNNTP>();
        e->client->setObjectName(QStringLiteral("ExtraClient%1").arg(extras_.size() + 1));
        e->client->ByMessageId = true;
        e->client->OnStateChange = [this, raw](TZqNNTP *, qint32 st) { StateChanged(*raw, st); };
        e->client->OnConnectionLost = [this, raw](TZqNNTP *) { Lost(*raw); };
        e->client->OnDocOutput = [this](TZqNNTP *c, const QByteArray &chunk) {
            if (OnOutput)
                OnOutput(c, chunk);
        };
        e->client->OnBodyAhead = [this](TZqNNTP *c, qint64 number, const QList<QByteArray> &body) {
            if (OnBodyAhead)
                OnBodyAhead(c, number, body);
        };
        e->retry.setSingleShot(true);
        connect(&e->retry, &QTimer::timeout, this, [this, raw] { Start(*raw); });
        extras_.push_back(std::move(e));
    }
    for (int i = 0; i < int(extras_.size()); ++i) {
        Extra &e = *extras_[size_t(i)];
        if (i >= wantedExtras_) {
            e.retry.stop();
            if (e.client->Connected || e.connecting)
                e.client->Disconnect();
            e.connecting = false;
            continue;
        }
        if (!e.refused && !e.connecting && !e.client->Connected && !e.retry.isActive())
            Start(e);
    }
}

void TConnectionPool::Start(Extra &e)
{
    if (!primary_.Connected || e.refused)
        return;
    TZqNNTP &c = *e.client;
    // The same server and login as the engine's client; the password was
    // fetched once for it.
    c.UseTls = primary_.UseTls;
    // Bodies only: yEnc does not shrink, and deflating it cost a local INN
    // more than twice the grab's own time. Overviews are compressed on the
    // engine's client.
    c.UseCompression = false;
    c.UserName = primary_.UserName;
    c.Password = primary_.Password;
    c.TrustedSha256 = primary_.TrustedSha256;
    c.ReplyTimeoutMs = primary_.ReplyTimeoutMs;
    c.ReplyMinBytes = primary_.ReplyMinBytes;
    c.MaxReplyBytes = primary_.MaxReplyBytes;
    e.connecting = c.Connect(primary_.Host(), primary_.Port());
    if (!e.connecting)
        ScheduleRetry(e);
}

void TConnectionPool::StateChanged(Extra &e, qint32 state)
{
    if (state == TZqNNTP::StateConnected) {
        e.connecting = false;
        e.attempts = 0;
        Refill();
    } else if (state == TZqNNTP::StateAttemptFailed) {
        e.connecting = false;
        if (Refusal(e.client->LastFailure)) {
            // No retry in this run: the server said no, not the network.
            e.refused = true;
            refusalSeen_ = true;
        } else {
            ScheduleRetry(e);
        }
    }
    NoteRefusals();
}

void TConnectionPool::NoteRefusals()
{
    if (!refusalSeen_ || refusalNoted_)
        return;
    for (const auto &e : extras_)
        if (e->connecting)
            return; // the count is known once every attempt has ended
    refusalNoted_ = true;
    if (OnNote)
        OnNote(QStringLiteral("The server allows %1 connections").arg(Up()));
}

void TConnectionPool::Lost(Extra &e)
{
    e.connecting = false;
    sentThrough_ = LLONG_MIN; // back before the next Send, it holds none of them
    // Its requests are nobody's now: they go to the others at once.
    QTimer::singleShot(0, this, [this] { Refill(); });
    ScheduleRetry(e);
}

void TConnectionPool::ScheduleRetry(Extra &e)
{
    const int most = int(ReconnectDelaysMs.size());
    const int delay = e.attempts < most ? ReconnectDelaysMs[e.attempts] : SlowReconnectDelayMs;
    ++e.attempts;
    e.retry.start(qMax(0, delay));
}

void TConnectionPool::Close(bool endOfRun)
{
    for (auto &e : extras_) {
        e->retry.stop();
        e->connecting = false;
        if (e->client->Connected || e->client->ConnectionState != TZqNNTP::StateClosed)
            e->client->Disconnect();
        e->client->ConnectionState = TZqNNTP::StateClosed;
        if (endOfRun) {
            e->refused = false;
            e->attempts = 0;
        }
    }
    ForgetWindow();
    if (endOfRun) {
        refusalSeen_ = false;
        refusalNoted_ = false;
    }
}

int TConnectionPool::ExtrasUp() const
{
    int up = 0;
    for (const auto &e : extras_)
        up += e->client->Connected ? 1 : 0;
    return up;
}

int TConnectionPool::ExtrasComing() const
{
    int coming = 0;
    for (const auto &e : extras_)
        coming += e->connecting ? 1 : 0;
    return coming;
}

TZqNNTP *TConnectionPool::Holder(qint64 number) const
{
    const auto it = assigned_.constFind(number);
    if (it == assigned_.cend() || !*it)
        return nullptr;
    TZqNNTP *c = *it;
    return c->Connected && c->HasRequest(number) ? c : nullptr;
}

qint64 TConnectionPool::BytesWaiting() const
{
    qint64 bytes = primary_.BytesWaiting();
    for (const auto &e : extras_)
        if (e->client->Connected)
            bytes += e->client->BytesWaiting();
    return bytes;
}

QList<TZqNNTP *> TConnectionPool::Extras() const
{
    QList<TZqNNTP *> list;
    for (const auto &e : extras_)
        list.append(e->client.get());
    return list;
}

void TConnectionPool::Refill()
{
    if (!window_.empty())
        Send(lastDepth_, lastByteLimit_, false);
}

void TConnectionPool::ForgetWindow()
{
    assigned_.clear();
    window_.clear();
    sentThrough_ = LLONG_MIN;
    lastUp_.clear();
    forgottenBelow_ = LLONG_MIN;
}

void TConnectionPool::Forget()
{
    for (const auto &e : extras_)
        e->client->DropRequests();
    ForgetWindow();
}

void TConnectionPool::Fill(const QList<TZqNNTP::Want> &wants, int depth, qint64 byteLimit, bool primaryToo)
{
    if (wants.isEmpty())
        return;
    const TZqNNTP::Want &awaited = wants.first();
    while (!window_.empty() && window_.front().number < awaited.number)
        window_.pop_front();
    if (!window_.empty() && window_.front().number == awaited.number)
        window_.front() = awaited;
    else
        window_.push_front(awaited);
    for (qsizetype i = 1; i < wants.size(); ++i)
        if (wants[i].number > window_.back().number)
            window_.push_back(wants[i]);
    lastDepth_ = depth;
    lastByteLimit_ = byteLimit;
    Send(depth, byteLimit, primaryToo);
}

void TConnectionPool::Send(int depth, qint64 byteLimit, bool primaryToo)
{
    depth = qMax(1, depth);
    QList<TZqNNTP *> up;
    if (primaryToo && primary_.Connected)
        up.append(&primary_);
    for (const auto &e : extras_)
        if (e->client->Connected)
            up.append(e->client.get());
    if (up.isEmpty())
        return;
    if (up != lastUp_) {
        sentThrough_ = LLONG_MIN;
        lastUp_ = up;
    }
    QHash<TZqNNTP *, int> room;
    for (TZqNNTP *c : std::as_const(up)) {
        room.insert(c, depth - c->RequestsWanted());
        c->MaxReplyBytes = primary_.MaxReplyBytes; // read per group
    }
    QHash<TZqNNTP *, QList<TZqNNTP::Want>> batches;
    qint64 waiting = BytesWaiting();

    // The first is the one the walk waits for; of the rest, those up to
    // sentThrough_ are out already.
    const auto firstNew = std::upper_bound(window_.cbegin() + 1, window_.cend(), sentThrough_,
                                           [](qint64 n, const TZqNNTP::Want &w) { return n < w.number; });
    const size_t start = size_t(firstNew - window_.cbegin());
    size_t i = 0;
    for (; i < window_.size(); i = i == 0 ? start : i + 1) {
        const TZqNNTP::Want &w = window_[i];
        // Trusted while its connection is up; only the one the walk waits
        // for is looked up in its pipeline (a search per request ahead
        // would cost the window times the depth per article).
        const auto held = assigned_.constFind(w.number);
        if (held != assigned_.cend() && *held && (*held)->Connected && (i > 0 || (*held)->HasRequest(w.number)))
            continue;
        // Past the bound only the article the walk waits for goes out, so
        // bodies that came ahead cannot pile up without end.
        if (i > 0 && waiting >= byteLimit)
            break;
        const bool byId = Nntp::SendableMessageId(w.id);
        TZqNNTP *best = nullptr;
        for (TZqNNTP *c : std::as_const(up)) {
            if (!byId && c != &primary_)
                continue;
            if (!best || room.value(c) > room.value(best))
                best = c;
        }
        // The article the walk waits for goes out whatever the room: asked
        // for later on a connection with requests ahead of it, it would
        // push those out of its pipeline. Kept off the engine's client, it
        // waits for room unless that client is down.
        const bool awaited = i == 0 && (primaryToo || !primary_.Connected);
        if (!best || (!awaited && room.value(best) <= 0))
            break;
        batches[best].append(w);
        --room[best];
        assigned_.insert(w.number, best);
    }
    // Everything before where the pass stopped is out now.
    if (i >= window_.size())
        sentThrough_ = window_.back().number;
    else if (i > start)
        sentThrough_ = qMax(sentThrough_, window_[i - 1].number);
    for (auto it = batches.cbegin(); it != batches.cend(); ++it) {
        // Checked again: an earlier write may have ended a connection.
        if (it.key()->Connected)
            it.key()->RequestBodies(it.value());
    }
    // Requests of articles already behind the walk are forgotten, one by
    // one as the walk passes them.
    const qint64 oldest = window_.front().number;
    if (forgottenBelow_ == LLONG_MIN || oldest - forgottenBelow_ > assigned_.size()) {
        for (auto it = assigned_.begin(); it != assigned_.end();)
            it = it.key() < oldest ? assigned_.erase(it) : std::next(it);
    } else {
        for (qint64 n = forgottenBelow_; n < oldest; ++n)
            assigned_.remove(n);
    }
    forgottenBelow_ = qMax(forgottenBelow_, oldest);
}
