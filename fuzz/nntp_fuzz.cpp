// Arbitrary server bytes through the news client's line cutting and routing,
// in every receive mode, cut into arbitrary reads. The first bytes choose the
// mode and the read sizes; the result must not depend on where reads split.
#include "NntpParse.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdlib>

namespace {

struct Result {
    QList<QByteArray> reply, body, groups;
    QByteArray pending;
};

Result Run(const uint8_t *data, size_t size, qint32 mode, const uint8_t *cuts, size_t ncuts)
{
    Result r;
    Nntp::LineSinks sinks{&r.reply, &r.body, &r.groups};
    Nntp::LineCutter cutter;
    size_t pos = 0, k = 0;
    while (pos < size) {
        size_t n = ncuts ? size_t(cuts[k++ % ncuts]) + 1 : size;
        if (n > size - pos)
            n = size - pos;
        cutter.Feed(reinterpret_cast<const char *>(data) + pos, qsizetype(n), mode, sinks);
        pos += n;
    }
    r.pending = cutter.Pending();
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    static const qint32 modes[] = {Nntp::RouteNormal, Nntp::RouteBody, Nntp::RouteList, 1};
    const qint32 mode = modes[data[0] % 4];
    const size_t ncuts = data[1] % 8;
    if (size < 2 + ncuts)
        return 0;
    const uint8_t *cuts = data + 2;
    const uint8_t *text = data + 2 + ncuts;
    const size_t len = size - 2 - ncuts;

    const Result whole = Run(text, len, mode, nullptr, 0);
    const Result split = Run(text, len, mode, cuts, ncuts);
    if (whole.reply != split.reply || whole.body != split.body || whole.groups != split.groups ||
        whole.pending != split.pending)
        std::abort();

    // Nothing is lost: every routed line plus its terminator, and the pending
    // rest, can never exceed what came in.
    qsizetype routed = whole.pending.size();
    for (const auto *list : {&whole.reply, &whole.body, &whole.groups})
        for (const QByteArray &l : *list)
            routed += l.size() + 2;
    if (routed > qsizetype(len))
        std::abort();

    // The judges and the group range accept anything.
    (void)Nntp::JudgeStatusReply(whole.reply);
    (void)Nntp::JudgeMultiLineReply(whole.reply);
    for (const QByteArray &l : whole.reply) {
        (void)Nntp::NarrowGroupRange(l);
        qint64 n = 0;
        qint32 lines = 0;
        QByteArray id, subject;
        Nntp::ParseArticleStatus(l, n, id);
        Nntp::ScanHeaderLines({l}, subject, lines);
    }
    return 0;
}
