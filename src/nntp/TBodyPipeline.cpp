#include "TBodyPipeline.h"

#include <algorithm>

#include "TMeasureClock.h"

void TBodyPipeline::RouteTo(Pending &p, const Nntp::LineSinks &current, qint32 &mode, Nntp::LineSinks &sinks)
{
    mode = Nntp::RouteBody;
    sinks.reply = p.current ? current.reply : &p.reply;
    sinks.body = p.discard || p.oversize ? nullptr : p.current ? current.body : &p.body;
    sinks.groups = nullptr;
}

TBodyPipeline::FeedResult TBodyPipeline::Feed(Nntp::LineCutter &cutter, QByteArray chunk,
                                              const Nntp::LineSinks &current, qint32 restMode,
                                              const Nntp::LineSinks &rest, qint64 maxReplyBytes,
                                              qint64 maxLineBytes)
{
    FeedResult result;
    Pending *target = FirstUnfinished();
    if (!target) {
        result.strayBytes = chunk.size();
        cutter.Feed(std::move(chunk), restMode, rest);
        return result;
    }
    qint32 mode = Nntp::RouteBody;
    Nntp::LineSinks sinks;
    RouteTo(*target, current, mode, sinks);
    const qint64 now = TMeasureClock::NowNs();

    const Nntp::LineCutter::AfterLine after = [&](qsizetype wire, qint32 &m, Nntp::LineSinks &k) {
        if (!target) {
            result.strayBytes += wire;
            return;
        }
        if (target->bytes == 0)
            target->firstByteNs = now;
        target->bytes += wire;
        target->lastByteNs = now;
        if (Nntp::JudgeMultiLineReply(*k.reply) != Nntp::ReplyState::Waiting) {
            target->done = true;
            if (!target->current && !target->discard && !target->oversize)
                result.endedAhead.append(target->number);
            target = FirstUnfinished();
            if (target) {
                RouteTo(*target, current, m, k);
            } else {
                m = restMode;
                k = rest;
            }
        } else if (target->bytes > maxReplyBytes && !target->oversize) {
            target->oversize = true;
            target->body.clear();
            if (target->current && k.body)
                k.body->clear();
            k.body = nullptr;
            result.currentOversize = result.currentOversize || target->current;
        }
    };
    cutter.Feed(std::move(chunk), mode, sinks, after);

    // The line still coming counts too: one that never ends must not pass.
    if (Pending *open = FirstUnfinished()) {
        const QList<QByteArray> &reply = open->current ? *current.reply : open->reply;
        const qint64 pending = cutter.Pending().size();
        if (reply.isEmpty() && pending > maxLineBytes) {
            result.statusTooLong = true;
        } else if (!open->oversize && open->bytes + pending > maxReplyBytes) {
            open->oversize = true;
            open->body.clear();
            if (open->current && current.body)
                current.body->clear();
        }
        result.currentOversize = result.currentOversize || (open->current && open->oversize);
    }
    DropFinishedDiscards();
    return result;
}

TBodyPipeline::Pending &TBodyPipeline::Add(qint64 number)
{
    Pending &p = inflight_.emplace_back();
    p.number = number;
    return p;
}

QByteArray TBodyPipeline::Ask(qint64 number, const QByteArray &id)
{
    if (Find(number))
        return {};
    Add(number);
    return Nntp::SendableMessageId(id) ? Nntp::BodyByIdCommand(id) : Nntp::BodyCommand(number);
}

bool TBodyPipeline::IdleBefore(qint64 number)
{
    const Pending *first = FirstUnfinished();
    return first && first->number == number && !first->discard && first->bytes == 0;
}

TBodyPipeline::Pending *TBodyPipeline::Find(qint64 number)
{
    for (Pending &p : inflight_)
        if (p.number == number && !p.discard)
            return &p;
    return nullptr;
}

TBodyPipeline::Pending *TBodyPipeline::FirstUnfinished()
{
    for (Pending &p : inflight_)
        if (!p.done)
            return &p;
    return nullptr;
}

void TBodyPipeline::DiscardBefore(qint64 number)
{
    for (Pending &p : inflight_) {
        if (p.number == number && !p.discard)
            return;
        p.discard = true;
        p.body.clear();
    }
}

void TBodyPipeline::DiscardAll()
{
    for (Pending &p : inflight_) {
        p.discard = true;
        p.body.clear();
    }
    DropFinishedDiscards();
}

void TBodyPipeline::Remove(qint64 number)
{
    const auto it = std::find_if(inflight_.begin(), inflight_.end(),
                                 [number](const Pending &p) { return p.number == number && !p.discard; });
    if (it != inflight_.end())
        inflight_.erase(it);
}

void TBodyPipeline::DropFinishedDiscards()
{
    while (!inflight_.empty() && inflight_.front().done && inflight_.front().discard)
        inflight_.pop_front();
}

bool TBodyPipeline::AnyUnfinished() const
{
    return std::any_of(inflight_.begin(), inflight_.end(), [](const Pending &p) { return !p.done; });
}

int TBodyPipeline::Wanted() const
{
    return int(std::count_if(inflight_.begin(), inflight_.end(), [](const Pending &p) { return !p.discard; }));
}

qint64 TBodyPipeline::WantedBytes() const
{
    qint64 bytes = 0;
    for (const Pending &p : inflight_)
        if (!p.discard)
            bytes += p.bytes;
    return bytes;
}
