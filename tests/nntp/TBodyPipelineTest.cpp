// Replies to BODY requests sent ahead, routed from the bytes as they come.
#include "TBodyPipeline.h"

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

const QByteArray kWire = "222 1 <a@x> body\r\none\r\n..two\r\n.\r\n"
                         "423 no such article\r\n"
                         "222 3 <c@x> body\r\nthree\r\n.\r\n";

struct Fed {
    Lines currentReply, currentBody, rest;
    TBodyPipeline pipeline;
    TBodyPipeline::FeedResult last;
};

// Requests 1, 2 and 3 with 1 current; the wire cut at the given offsets.
void FeedCut(Fed &f, const QList<qsizetype> &cuts, qint64 maxReply = 1 << 20)
{
    f.pipeline.Add(1).current = true;
    f.pipeline.Add(2);
    f.pipeline.Add(3);
    Nntp::LineCutter cutter;
    const Nntp::LineSinks current{&f.currentReply, &f.currentBody, nullptr};
    const Nntp::LineSinks rest{&f.rest, nullptr, nullptr};
    qsizetype from = 0;
    QList<qsizetype> ends = cuts;
    ends << kWire.size();
    for (qsizetype to : ends) {
        f.last = f.pipeline.Feed(cutter, kWire.mid(from, to - from), current, Nntp::RouteNormal, rest, maxReply, 100);
        from = to;
    }
}

TEST(BodyPipeline, RepliesSplitAnywhereGoToTheirOwnRequests)
{
    for (qsizetype i = 0; i <= kWire.size(); ++i) {
        for (qsizetype j = i; j <= kWire.size(); j += 7) {
            Fed f;
            FeedCut(f, {i, j});
            SCOPED_TRACE(testing::Message() << "cut at " << i << " and " << j);
            EXPECT_EQ(f.currentReply, (Lines{"222 1 <a@x> body", "."}));
            EXPECT_EQ(f.currentBody, (Lines{"one", ".two"}));
            const TBodyPipeline::Pending *two = f.pipeline.Find(2);
            const TBodyPipeline::Pending *three = f.pipeline.Find(3);
            ASSERT_TRUE(two && three);
            EXPECT_TRUE(two->done);
            EXPECT_EQ(two->reply, Lines{"423 no such article"});
            EXPECT_EQ(three->reply, (Lines{"222 3 <c@x> body", "."}));
            EXPECT_EQ(three->body, Lines{"three"});
            EXPECT_EQ(three->bytes, 28);
            EXPECT_TRUE(f.rest.isEmpty());
        }
    }
}

TEST(BodyPipeline, DroppedRequestsAreReadAndLeave)
{
    Fed f;
    f.pipeline.Add(1);
    f.pipeline.Add(2);
    f.pipeline.Add(3).current = true;
    f.pipeline.DiscardBefore(3);
    Nntp::LineCutter cutter;
    const Nntp::LineSinks current{&f.currentReply, &f.currentBody, nullptr};
    f.pipeline.Feed(cutter, kWire + "stray\r\n", current, Nntp::RouteNormal, {&f.rest, nullptr, nullptr}, 1 << 20, 100);
    EXPECT_EQ(f.pipeline.Size(), 1); // only the current one is left to take
    EXPECT_EQ(f.currentBody, Lines{"three"});
    EXPECT_EQ(f.rest, Lines{"stray"}); // past every reply due
}

TEST(BodyPipeline, LimitsOnRepliesAndStatusLines)
{
    // A reply past the limit drops its lines and, when current, says so.
    Fed big;
    FeedCut(big, {}, 20);
    EXPECT_TRUE(big.currentBody.isEmpty());
    EXPECT_TRUE(big.pipeline.Find(3)->oversize);
    EXPECT_TRUE(big.pipeline.Find(3)->body.isEmpty());
    EXPECT_FALSE(big.pipeline.Find(2)->oversize); // a short reply stays as it is

    Fed current;
    Nntp::LineCutter cutter;
    current.pipeline.Add(1).current = true;
    const Nntp::LineSinks sinks{&current.currentReply, &current.currentBody, nullptr};
    EXPECT_TRUE(current.pipeline.Feed(cutter, "222 1 <a@x>\r\n" + QByteArray(30, 'x'), sinks, Nntp::RouteNormal, sinks,
                                      20, 100)
                    .currentOversize);

    // A status line that does not end.
    Fed status;
    Nntp::LineCutter c2;
    status.pipeline.Add(1).current = true;
    const Nntp::LineSinks s2{&status.currentReply, &status.currentBody, nullptr};
    EXPECT_TRUE(status.pipeline.Feed(c2, QByteArray(101, '2'), s2, Nntp::RouteNormal, s2, 1 << 20, 100).statusTooLong);
}

} // namespace
