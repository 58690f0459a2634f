#include "TOverviewDialect.h"

#include <gtest/gtest.h>

namespace {

struct Reply {
    bool ok;
    QByteArray status;
};

struct DialectCase {
    const char *name;
    QList<Reply> replies;     // to the verbs tried, in order, until one answers
    int answeredBy;           // index of the verb that answered, -1: none
    QList<QByteArray> verbsAfter;
};

// Each row: replies to the verbs the dialect offers -> which one is kept.
const DialectCase kCases[] = {
    {"OverWorks", {{true, "224 data"}}, 0, {"OVER"}},
    {"NothingInRangeIsAnAnswer", {{false, "423 none"}}, 0, {"OVER"}},
    {"OverUnknownXoverWorks", {{false, "500 what?"}, {true, "224 data"}}, 1, {"XOVER"}},
    {"NoArticleSelectedIsNoAnswerFromAnUntriedVerb", {{false, "420 none"}, {false, "420 none"}}, -1, {"OVER", "XOVER"}},
    {"NeitherVerb", {{false, "500 what?"}, {false, "502 no"}}, -1, {"OVER", "XOVER"}},
};

TEST(OverviewDialect, KeepsTheVerbThatAnswered)
{
    for (const DialectCase &c : kCases) {
        SCOPED_TRACE(c.name);
        TOverviewDialect d;
        const QList<QByteArray> verbs = d.Verbs();
        int answered = -1;
        for (qsizetype i = 0; i < c.replies.size() && i < verbs.size() && answered < 0; ++i)
            if (d.Answered(verbs[i], c.replies[i].ok, c.replies[i].status))
                answered = int(i);
        EXPECT_EQ(answered, c.answeredBy);
        EXPECT_EQ(d.Verbs(), c.verbsAfter);
        EXPECT_EQ(d.Settled(), c.answeredBy >= 0);
    }
}

TEST(OverviewDialect, OnceSettledA420IsAnAnswerAndForgetStartsOver)
{
    TOverviewDialect d;
    d.TakeFormat(true, {"Subject:", "From:", "Date:", "Message-ID:", "References:", "Bytes:", "Lines:"});
    ASSERT_TRUE(d.Answered("XOVER", true, "224 data"));
    EXPECT_TRUE(d.Answered("XOVER", false, "420 no article"));
    EXPECT_FALSE(d.Answered("XOVER", false, "503 overview gone"));
    EXPECT_TRUE(d.FormatKnown());
    d.Forget();
    EXPECT_FALSE(d.FormatKnown());
    EXPECT_FALSE(d.Settled());
    EXPECT_EQ(d.Verbs(), (QList<QByteArray>{"OVER", "XOVER"}));
}

} // namespace
