// "Rules.dat": its lines, the fields an article is judged by, and the order
// in which skip and only rules decide.
#include "TArticleRules.h"
#include "TRuleSet.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace {

// 7 Dec 2026 10:00 UTC: the clock of every case.
const qint64 Now = QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC).toSecsSinceEpoch();

TRuleFacts picturePart()
{
    // The first of 4 parts of a picture, 6 MiB, posted 40 days before Now.
    return {"[01/20] - \"sunset.jpg\" yEnc (1/4)", "Ann <ann@spam.example>", "Wed, 28 Oct 2026 10:00:00 +0000",
            "alt.binaries.pictures.nature", 6 << 20, 47000};
}

TEST(RuleSet, GoodLinesParseIntoTheirConditions)
{
    struct Case {
        QByteArray line;
        TRuleSet::Action action;
        TRuleSet::Field field;
        TRuleSet::Test test;
        double number;
        QByteArray text;
        int conditions;
    } cases[] = {
        {"skip bytes > 20M", TRuleSet::Skip, TRuleSet::Bytes, TRuleSet::Greater, 20 << 20, {}, 1},
        {"skip bytes < 1.5k", TRuleSet::Skip, TRuleSet::Bytes, TRuleSet::Less, 1536, {}, 1},
        {"skip bytes > 2GB", TRuleSet::Skip, TRuleSet::Bytes, TRuleSet::Greater, 2.0 * (1 << 30), {}, 1},
        {"only ext is JPG", TRuleSet::Only, TRuleSet::Ext, TRuleSet::Is, 0, "jpg", 1},
        {"only name matches \\.(jpe?g|png|gif|webp)$", TRuleSet::Only, TRuleSet::Name, TRuleSet::Matches, 0, {}, 1},
        {"skip from contains @spam.example", TRuleSet::Skip, TRuleSet::From, TRuleSet::Contains, 0, "@spam.example", 1},
        {"skip age > 30 and group matches ^alt\\.binaries\\.pictures\\.", TRuleSet::Skip, TRuleSet::Age,
         TRuleSet::Greater, 30, {}, 2},
        {"  SKIP Subject Contains  Two  Words  ", TRuleSet::Skip, TRuleSet::Subject, TRuleSet::Contains, 0,
         "two  words", 1},
        {"skip subject contains a\tb", TRuleSet::Skip, TRuleSet::Subject, TRuleSet::Contains, 0, "a\tb", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line.constData());
        const TRuleSet set = TRuleSet::Parse(c.line);
        ASSERT_TRUE(set.Errors().isEmpty()) << set.Errors().value(0).message.toStdString();
        ASSERT_EQ(set.Rules().size(), 1);
        const TRuleSet::Rule &r = set.Rules()[0];
        ASSERT_EQ(r.conditions.size(), c.conditions);
        const TRuleSet::Condition &first = r.conditions[0];
        EXPECT_EQ((std::tuple{r.action, first.field, first.test}), (std::tuple{c.action, c.field, c.test}));
        EXPECT_EQ(first.number, c.number);
        EXPECT_EQ(first.text, c.text);
        EXPECT_EQ(r.text, c.line.trimmed());
    }
}

TEST(RuleSet, BadLinesAreNamedByLineAndLeftOut)
{
    struct Case {
        QByteArray line;
        QString message; // its start
    } cases[] = {
        {"skip size > 20M", "unknown field 'size'"},
        {"skip subject equals x", "unknown test 'equals'"},
        {"drop subject contains x", "unknown action 'drop'"},
        {"skip bytes > 20X", "bad number '20X'"},
        {"skip lines > -3", "bad number '-3'"},
        {"skip subject matches (abc", "invalid regular expression: "},
        {"skip subject contains", "empty value after 'contains'"},
        {"skip bytes contains 5", "'contains' does not apply to bytes"},
        {"skip subject > 5", "'>' does not apply to subject"},
        {"skip", "missing condition"},
        {"skip ext is jpg and size > 1", "unknown field 'size'"},
        // Matched as written, a NUL would never match: every article skipped.
        {QByteArray("only ext is j\0pg", 16), "holds a control character (byte 0x00)"},
        {"skip subject contains a\x01" "b", "holds a control character (byte 0x01)"},
        {"skip subject contains a\x7f", "holds a control character (byte 0x7f)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line.constData());
        // Comments, blank lines and good rules around it keep their own line numbers.
        const TRuleSet set = TRuleSet::Parse("# pictures\r\n\r\nonly ext is jpg\n" + c.line + "\nskip from is x\n");
        ASSERT_EQ(set.Errors().size(), 1);
        EXPECT_EQ(set.Errors()[0].line, 4);
        EXPECT_TRUE(set.Errors()[0].message.startsWith(c.message)) << set.Errors()[0].message.toStdString();
        ASSERT_EQ(set.Rules().size(), 2);
        EXPECT_EQ((std::pair{set.Rules()[0].line, set.Rules()[1].line}), (std::pair{3, 5}));
    }
}

// A file that works but costs every article dearly says so once; past
// the cap the rest is not read at all.
TEST(RuleSet, AVeryLongFileIsWarnedOfAndCutAtItsCap)
{
    const auto rules = [](int n) {
        QByteArray text;
        for (int i = 0; i < n; ++i)
            text += "skip subject contains word" + QByteArray::number(i) + '\n';
        return text;
    };
    const QByteArray padding = '#' + QByteArray(TRuleSet::WarnBytes, 'x') + '\n';
    struct Case {
        QByteArray text;
        qsizetype rules;
        const char *warning; // its start; empty: none
    } cases[] = {
        {rules(TRuleSet::WarnRules), TRuleSet::WarnRules, ""},
        {rules(TRuleSet::WarnRules + 1), TRuleSet::WarnRules + 1, "5001 rules in "},
        {padding + "only ext is jpg\n", 1, "1 rules in 1025 KB"},
        {"only ext is jpg\n" + QByteArray(TRuleSet::MaxBytes, '#') + "\nskip ext is png\n", 1,
         "over 2 MB of rules: only the first 2 MB are read"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.warning);
        const TRuleSet set = TRuleSet::Parse(c.text);
        EXPECT_EQ(set.Rules().size(), c.rules);
        EXPECT_TRUE(set.Errors().isEmpty());
        EXPECT_TRUE(*c.warning ? set.Warning().startsWith(QLatin1String(c.warning)) : set.Warning().isEmpty())
            << set.Warning().toStdString();
    }
}

// PCRE2's match limit holds for a pattern that backtracks without end: the
// match is given up, counts as not matching, and the verdict names the rule.
TEST(RuleSet, APatternThatBacktracksWithoutEndIsGivenUpAndNamed)
{
    // Two patterns of one field are tried as one alternation first.
    const TRuleSet set =
        TRuleSet::Parse("skip subject matches ^(\\w+\\s?)*$\nskip subject matches zzz\nonly subject contains a");
    TRuleFacts facts = picturePart();
    facts.subject = QByteArray(40, 'a') + '!';
    const TRuleSet::Verdict hostile = set.Decide(facts, Now);
    EXPECT_FALSE(hostile.skip);
    ASSERT_TRUE(hostile.rule);
    EXPECT_EQ(hostile.rule->line, 3);
    EXPECT_EQ(hostile.gaveUp, 1);
    EXPECT_TRUE(TRuleSet::GaveUpLine(hostile).startsWith("Rule 1: its pattern was given up on this article"));
    facts.subject = "aaa bbb";
    const TRuleSet::Verdict settled = set.Decide(facts, Now);
    EXPECT_TRUE(settled.skip);
    EXPECT_EQ(settled.gaveUp, 0);
    EXPECT_TRUE(TRuleSet::GaveUpLine(settled).isEmpty());
}

TEST(RuleSet, NameAndExtensionFromRealSubjects)
{
    struct Case {
        QByteArray subject, name, ext;
    } cases[] = {
        {"[01/20] - \"a b.jpg\" yEnc (1/5)", "a b.jpg", "jpg"},
        {"\"Holiday.JPEG\" yEnc (3/5)", "Holiday.JPEG", "jpeg"},
        {"Beach set - beach01.png (1/1)", "beach01.png", "png"},
        {"clips [3/12] - \"clip.avi\" yEnc", "clip.avi", "avi"},
        {"\"My trip\" yEnc (1/3)", "", ""},
        {"Re: nice pictures, thanks", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.subject.constData());
        const QByteArray name = TRuleSet::NameOf(c.subject);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(TRuleSet::ExtOf(name), c.ext);
    }
}

TEST(RuleSet, SizeOfAPartIsTimesItsPartCount)
{
    struct Case {
        QByteArray subject;
        qint64 bytes, estimate;
    } cases[] = {
        {"pic.jpg (3/12)", 100, 1200},
        {"[01/20] - \"a.jpg\" yEnc (1/5)", 100, 500}, // the last marker counts parts, the first the series
        {"pic.jpg part 2 of 3", 100, 300},
        {"pic.jpg (1/1)", 100, 100},
        {"pic.jpg", 100, 100},
        {"pic.jpg (3/12)", -1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.subject.constData());
        EXPECT_EQ(TRuleSet::EstimatedBytes(c.subject, c.bytes), c.estimate);
    }
}

TEST(RuleSet, AgeFromTheDateAsPosted)
{
    struct Case {
        QByteArray date;
        qint64 secs; // before Now; -1 unreadable
    } cases[] = {
        {"Mon, 7 Dec 2026 09:00:00 +0000", 3600},
        {"7 Dec 2026 10:00:00 +0100", 3600},
        {"Mon, 07 Dec 2026 04:30:00 -0500", 1800},
        {"Sun, 6 Dec 2026 10:00:00 GMT", 86400},
        {"Sun,  6 Dec 2026 10:00:00 +0000 (UTC)", 86400},
        {"Tue, 8 Dec 2026 10:00:00 +0000", 0}, // from the future: no age
        {"31 Feb 2026 10:00:00 +0000", -1},
        {"Mon, 7 Dec 2026 09:00 +0000", 3600},
        {"yesterday", -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.date.constData());
        EXPECT_EQ(TRuleSet::AgeSecs(c.date, Now), c.secs);
    }
}

TEST(RuleSet, EachFieldAndTest)
{
    const auto same = [](TRuleFacts &) {};
    struct Case {
        QByteArray rule;
        std::function<void(TRuleFacts &)> change;
        bool skip;
    } cases[] = {
        {"skip subject contains SUNSET", same, true},
        {"skip subject is sunset.jpg", same, false},
        {"skip subject matches yenc \\(\\d+/4\\)$", same, true},
        {"skip from contains @SPAM.example", same, true},
        {"skip from is ann", same, false},
        {"skip name is SUNSET.JPG", same, true},
        {"skip ext is jpg", same, true},
        {"skip ext is jpeg", same, false},
        {"skip ext contains p", same, true},
        {"skip name matches ^sun.*\\.jpe?g$", same, true},
        {"skip group is alt.binaries.pictures.nature", same, true},
        {"skip group matches ^alt\\.binaries\\.pictures\\.", same, true},
        {"skip group matches ^pictures", same, false},
        {"skip bytes > 20M", same, true},  // 6 MiB x 4 parts
        {"skip bytes > 25M", same, false},
        {"skip bytes < 7M", same, false},
        {"skip lines > 40000", same, true},
        {"skip lines < 40000", same, false},
        {"skip age > 30", same, true},
        {"skip age < 30", same, false},
        {"skip age > 30 and group matches ^alt\\.binaries\\.pictures\\.", same, true},
        {"skip age > 30 and from contains bob", same, false},
        // A size, line count or date not known decides nothing.
        {"skip bytes < 1M", [](TRuleFacts &f) { f.bytes = -1; }, false},
        {"skip lines < 10", [](TRuleFacts &f) { f.lines = -1; }, false},
        {"skip age < 1000", [](TRuleFacts &f) { f.date = "yesterday"; }, false},
        {"skip name is x", [](TRuleFacts &f) { f.subject = "no name here"; }, false},
        // Letters beyond ASCII are compared without case too.
        {"skip subject contains ÄPFEL", [](TRuleFacts &f) { f.subject = "grüne äpfel.jpg"; }, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rule.constData());
        const TRuleSet set = TRuleSet::Parse(c.rule);
        ASSERT_TRUE(set.Errors().isEmpty());
        TRuleFacts facts = picturePart();
        c.change(facts);
        EXPECT_EQ(set.Decide(facts, Now).skip, c.skip);
    }
}

TEST(RuleSet, SkipRulesComeFirstThenAnOnlyRuleMustHold)
{
    struct Case {
        QByteArray rules;
        QByteArray subject;
        bool skip;
        QByteArray log; // of a skip, or the deciding rule of a take
    } cases[] = {
        {"only ext is jpg\nskip subject contains spam", "spam.jpg", true,
         "Skipped by rule 2: skip subject contains spam"},
        {"only ext is jpg\nskip subject contains spam", "cat.jpg", false, "Taken by rule 1: only ext is jpg"},
        {"only ext is jpg\nskip subject contains spam", "cat.png", true, "Skipped: no only rule matched"},
        {"only ext is jpg\nonly ext is png", "cat.png", false, "Taken by rule 2: only ext is png"},
        {"skip ext is png", "cat.jpg", false, ""},
        // Patterns of one field are tried together first; one with a
        // back-reference cannot be and is tried alone.
        {"skip subject matches ^x\nskip subject matches (a)\\1\nskip subject matches C.T", "cat.jpg", true,
         "Skipped by rule 3: skip subject matches C.T"},
        {"skip subject matches ^x\nskip subject matches (a)\\1\nskip subject matches c.t", "baa.jpg", true,
         "Skipped by rule 2: skip subject matches (a)\\1"},
        {"skip subject matches ^x\nskip subject matches (a)\\1\nskip subject matches c.t", "dog.jpg", false, ""},
        {"# nothing but a comment", "cat.png", false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rules.constData());
        const TRuleSet set = TRuleSet::Parse(c.rules);
        TRuleFacts facts;
        facts.subject = c.subject;
        const TRuleSet::Verdict v = set.Decide(facts, Now);
        EXPECT_EQ(v.skip, c.skip);
        EXPECT_EQ(TRuleSet::LogLine(v), c.log);
    }
}

TEST(ArticleRules, AllPartsOfAPostAreDecidedAlike)
{
    TArticleRules rules;
    TRuleFacts first = picturePart();
    TRuleFacts last = picturePart();
    last.subject = "[01/20] - \"sunset.jpg\" yEnc (4/4)";
    last.bytes = 1 << 20; // 4 MiB as an estimate alone
    const TRuleSet set = TRuleSet::Parse("skip bytes > 20M");
    EXPECT_FALSE(set.Decide(last, Now).skip);
    // Through the file holder the first part seen decides for the post.
    QTemporaryDir dir;
    QFile f(dir.filePath("Rules.dat"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("skip bytes > 20M\n");
    f.close();
    rules.Load(dir.filePath("Rules.dat"));
    EXPECT_TRUE(rules.Decide(first).skip);
    EXPECT_TRUE(rules.Decide(last).skip);
    TRuleFacts other = last;
    other.subject = "[02/20] - \"dusk.jpg\" yEnc (4/4)";
    EXPECT_FALSE(rules.Decide(other).skip);
}

} // namespace
