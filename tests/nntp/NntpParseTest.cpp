#include "NntpParse.h"
#include "TZqNNTP.h"

#include <gtest/gtest.h>

#include <array>

#include <cstring>
#include <tuple>

using namespace Nntp;

namespace {

using Lines = QList<QByteArray>;

struct Routed {
    Lines reply, body, groups;
    QByteArray pending;
};

Routed Feed(const Lines &chunks, qint32 mode, Lines reply = {})
{
    Routed r;
    r.reply = reply;
    LineSinks sinks{&r.reply, &r.body, &r.groups};
    LineCutter cutter;
    for (const QByteArray &c : chunks)
        cutter.Feed(c, mode, sinks);
    r.pending = cutter.Pending();
    return r;
}

struct CutCase {
    const char *name;
    qint32 mode;
    Lines chunks;
    Lines reply, body, groups;
    QByteArray pending;
};

// Keeps the generated test names readable (and free of addresses).
void PrintTo(const CutCase &c, std::ostream *os)
{
    *os << c.name;
}

class CutAndRoute : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutAndRoute, GivesLines)
{
    const CutCase &c = GetParam();
    const Routed r = Feed(c.chunks, c.mode);
    EXPECT_EQ(r.reply, c.reply);
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(r.groups, c.groups);
    EXPECT_EQ(r.pending, c.pending);
}

// Test texts write a zero byte as '~'.
QByteArray Z(const char *text)
{
    QByteArray b(text);
    b.replace('~', '\0');
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CutAndRoute,
    ::testing::Values(
        CutCase{"StatusAndStartOfSecondLineThenRest", RouteNormal,
                {"200 hello\r\nSubj", "ect: x\r\n"}, {"200 hello", "Subject: x"}, {}, {}, ""},
        CutCase{"CrLfSplitBetweenReads", RouteNormal, {"200 hi\r", "\nnext\r", "\n"}, {"200 hi", "next"}, {}, {}, ""},
        CutCase{"LineSplitAtEveryByte", RouteNormal, {"2", "0", "0", "\r", "\n"}, {"200"}, {}, {}, ""},
        CutCase{"CrCrLfKeepsOneCr", RouteNormal, {"abc\r\r\n"}, {"abc\r"}, {}, {}, ""},
        CutCase{"CrCrSplitThenLf", RouteNormal, {"abc\r", "\r", "\n"}, {"abc\r"}, {}, {}, ""},
        CutCase{"LoneCrAndLoneLfStayInLine", RouteNormal, {"a\rb\nc\r\n"}, {"a\rb\nc"}, {}, {}, ""},
        CutCase{"LfAtStartOfChunkWithoutCr", RouteNormal, {"ab", "\ncd\r\n"}, {"ab\ncd"}, {}, {}, ""},
        CutCase{"PartialLineStaysPending", RouteNormal, {"200 ok\r\npart"}, {"200 ok"}, {}, {}, "part"},
        CutCase{"EmptyLines", RouteNormal, {"\r\n\r\n"}, {"", ""}, {}, {}, ""},
        CutCase{"ZeroByteKeepsRestOfChunk", RouteBody,
                {Z("222 1 <i> body\r\na~b\r\nnext\r\n.\r\n")},
                {"222 1 <i> body", "."}, {Z("a~b"), "next"}, {}, ""},
        CutCase{"BodyDotUnstuffing", RouteBody, {"222 1 <i> body\r\n..\r\n..a\r\n...\r\n.x\r\n.\r\n"},
                {"222 1 <i> body", "."}, {".", ".a", "..", "x"}, {}, ""},
        CutCase{"BodyStatusLineAlsoUnstuffed", RouteBody, {".\r\n"}, {"."}, {}, {}, ""},
        CutCase{"NormalKeepsEverythingInReply", RouteNormal, {"221 1 <i>\r\n..\r\nSubject: s\r\n.\r\n"},
                {"221 1 <i>", ".", "Subject: s", "."}, {}, {}, ""},
        CutCase{"ListTakesFirstField", RouteList,
                {"215 list\r\nalt.test 20 10 y\r\nalone\r\n two\r\n\r\n.\r\n"},
                {"215 list", "."}, {}, {"alt.test", "alone", "", ""}, ""},
        CutCase{"ListUnstuffsBeforeSplitting", RouteList, {"215 l\r\n..dot.group 1 1 y\r\n"},
                {"215 l"}, {}, {".dot.group"}, ""},
        CutCase{"UnknownModeRoutesLikeNormal", 1, {"222 x\r\nline\r\n"}, {"222 x", "line"}, {}, {}, ""}),
    [](const ::testing::TestParamInfo<CutCase> &i) { return std::string(i.param.name); });

TEST(CutAndRoute, SameResultForEverySplitOfAReply)
{
    const QByteArray wire = Z("222 3 <m@x> body\r\n..\r\nab\r\r\nc~d\r\n...x\r\n.\r\n");
    const Routed whole = Feed({wire}, RouteBody);
    ASSERT_EQ(whole.body, (Lines{".", "ab\r", Z("c~d"), "..x"}));
    for (qsizetype i = 0; i <= wire.size(); ++i) {
        for (qsizetype j = i; j <= wire.size(); j += 3) {
            const Routed r = Feed({wire.left(i), wire.mid(i, j - i), wire.mid(j)}, RouteBody);
            ASSERT_EQ(r.reply, whole.reply) << i << "," << j;
            ASSERT_EQ(r.body, whole.body) << i << "," << j;
            ASSERT_TRUE(r.pending.isEmpty());
        }
    }
}

TEST(CutAndRoute, LinesAfterTheStatusLineGoToReplyWhenReplyAlreadyHoldsALine)
{
    // The status line is "first line while reply is empty"; anything already
    // there (a greeting) makes the next line a body line.
    const Routed r = Feed({"body line\r\n"}, RouteBody, {"200 greeting"});
    EXPECT_EQ(r.reply, Lines{"200 greeting"});
    EXPECT_EQ(r.body, Lines{"body line"});
}

TEST(CutAndRoute, NullSinksDropLines)
{
    Lines reply;
    LineSinks sinks{&reply, nullptr, nullptr};
    LineCutter cutter;
    cutter.Feed(QByteArray("215 l\r\ngroup 1 1 y\r\n.\r\n"), RouteList, sinks);
    cutter.Feed(QByteArray("222 b\r\n"), RouteBody, sinks);
    // After the status line the Body mode line goes to the missing body list.
    EXPECT_EQ(reply, (Lines{"215 l", "."}));
}

struct JudgeCase {
    Lines reply;
    ReplyState status; // GROUP
    ReplyState multi;  // HEAD, BODY, List
};

TEST(Judge, StatusAndMultiLineReplies)
{
    const QList<JudgeCase> cases = {
        {{}, ReplyState::Waiting, ReplyState::Waiting},
        {{"211 1 1 1 g"}, ReplyState::Success, ReplyState::Waiting},
        {{"221 1 <i>", "Subject: s"}, ReplyState::Success, ReplyState::Waiting},
        {{"221 1 <i>", "."}, ReplyState::Success, ReplyState::Success},
        {{"423 no such article"}, ReplyState::Failure, ReplyState::Failure},
        {{"423 no such article", "."}, ReplyState::Failure, ReplyState::Failure},
        {{"500 what"}, ReplyState::Failure, ReplyState::Failure},
        {{""}, ReplyState::Failure, ReplyState::Waiting},
        {{"", "x"}, ReplyState::Failure, ReplyState::Waiting},
        {{"", "."}, ReplyState::Failure, ReplyState::Success},
        {{"."}, ReplyState::Failure, ReplyState::Failure},
    };
    for (const JudgeCase &c : cases) {
        EXPECT_EQ(JudgeStatusReply(c.reply), c.status) << c.reply.join('|').constData();
        EXPECT_EQ(JudgeMultiLineReply(c.reply), c.multi) << c.reply.join('|').constData();
    }
}

// Replies to two commands sent together, split where the first one ends.
TEST(Judge, WhereTheFirstOfTwoRepliesEnds)
{
    const QList<QPair<Lines, qsizetype>> cases = {
        {{}, -1},
        {{"215 fields", "Subject:"}, -1},
        {{"215 fields", "Subject:", ".", "224 overview"}, 3},
        {{"215 fields", ".", "224 overview", "1\ts", "."}, 2},
        {{"503 no list", "224 overview", "1\ts", "."}, 1},
        {{"480 log in", "480 log in"}, 1},
        {{"", "."}, 2},
    };
    for (const auto &[replies, lines] : cases)
        EXPECT_EQ(FirstReplyLines(replies), lines) << replies.join('|').constData();
}

TEST(GroupRangeTest, NarrowedToTheEstimatedCount)
{
    struct Case {
        QByteArray status;
        qint64 first, last;
    };
    const QList<Case> cases = {
        {"211 5 10 20 alt.test", 16, 20},
        {"211 11 10 20 alt.test", 10, 20},
        {"211 0 0 0 alt.empty", 1, 0},
        {"211 100 10 20 g", 10, 20},
        {"211 x 10 20 g", 21, 20},  // count not decimal: 0
        {"211 5 ten 20 g", 16, 20}, // first not decimal: 0, then narrowed
        {"211 5 10 2o g", 10, 0},
        {"211  10 20 g", 21, 20},   // two blanks: count is the empty field
        {"211 -2147483648 0 2147483647 g", 4294967296, 2147483647},
        {"211 2147483647 0 -2147483648 g", 0, -2147483647 - 1},
        // Big providers number far beyond 2^31; 64 bits hold every number.
        {"211 1000 3000000000 3000000999 g", 3000000000, 3000000999},
        {"211 3 9223372036854775805 9223372036854775807 g", INT64_MAX - 2, INT64_MAX},
        {"211 -9223372036854775808 0 9223372036854775807 g", INT64_MAX, INT64_MAX},
        {"211 5 10 9223372036854775808 g", 10, 0}, // past 2^63-1: not a number
        {"211", 1, 0},
    };
    for (const Case &c : cases) {
        const GroupRange r = NarrowGroupRange(c.status);
        EXPECT_EQ(r.first, c.first) << c.status.constData();
        EXPECT_EQ(r.last, c.last) << c.status.constData();
    }
}

TEST(HeaderScan, SubjectAndLinesPrefixesAreExact)
{
    QByteArray subject = "old";
    qint32 lines = 7;
    ScanHeaderLines({"221 1 <i>", "subject: lower", "Subject:nospace", "Lines:3", "."}, subject, lines);
    EXPECT_EQ(subject, "old");
    EXPECT_EQ(lines, 7);

    ScanHeaderLines({"Subject: first", "Lines: 12", "Subject: second", "Subject: "}, subject, lines);
    EXPECT_EQ(subject, "");
    EXPECT_EQ(lines, 12);

    ScanHeaderLines({"Lines: 1a"}, subject, lines);
    EXPECT_EQ(lines, 0);

    ScanHeaderLines({"Subject: folded first line", "\tsecond line"}, subject, lines);
    EXPECT_EQ(subject, "folded first line");

    // From, Date and Bytes in any case; a size that is no number is not known.
    const HeaderFields h = ScanHeaderFields({"FROM:  Ann <a@b>", "date: Mon, 7 Dec 2026 10:00:00 +0000", "Bytes: 12x"});
    EXPECT_EQ((std::tuple{h.from, h.date, h.bytes}),
              (std::tuple{QByteArray("Ann <a@b>"), QByteArray("Mon, 7 Dec 2026 10:00:00 +0000"), -1}));
    EXPECT_EQ(ScanHeaderFields({"Bytes: 2048"}).bytes, 2048);
}

TEST(ArticleStatus, NumberAndMessageId)
{
    qint64 n = -1;
    QByteArray id;
    ParseArticleStatus("222 42 <a.b@c> body", n, id);
    EXPECT_EQ(n, 42);
    EXPECT_EQ(id, "<a.b@c>");
    ParseArticleStatus("222 9223372036854775807 <big@c> body", n, id);
    EXPECT_EQ(n, INT64_MAX);
    ParseArticleStatus("222 4x2", n, id);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(id, "");
}

TEST(ArticleStatus, ReplyAnswersOnlyItsOwnRequest)
{
    struct Case {
        QByteArray status;
        qint64 number;
        QByteArray expectedId;
        bool byId;
        bool answers;
    };
    const Case cases[] = {
        {"222 42 <a@b> body", 42, "<a@b>", false, true},
        {"222 43 <c@d> body", 42, "<a@b>", false, false}, // the next article's reply
        {"222 43 <a@b> body", 42, "", false, false},
        {"222 42 <c@d> body", 42, "<a@b>", false, false},
        {"222 42", 42, "<a@b>", false, true},          // a server that names no id
        {"222 0 <a@b> body", 42, "<a@b>", false, true}, // nor a number
        {"222 7 <a@b> body", 42, "<a@b>", true, true},  // by id the number is the server's
        {"222 7 <c@d> body", 42, "<a@b>", true, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ReplyAnswers(c.status, c.number, c.expectedId, c.byId), c.answers) << c.status.constData();
}

TEST(Commands, ExactBytes)
{
    EXPECT_EQ(GroupCommand("alt.binaries.x"), "GROUP alt.binaries.x\r\n");
    EXPECT_EQ(HeadCommand(7), "HEAD 7\r\n");
    EXPECT_EQ(BodyCommand(-12), "BODY -12\r\n");
    EXPECT_EQ(BodyCommand(2147483647), "BODY 2147483647\r\n");
    EXPECT_EQ(BodyCommand(4294967296), "BODY 4294967296\r\n");
    EXPECT_EQ(ListCommand(), "List\r\n");
    EXPECT_EQ(ModeReaderCommand(), "MODE READER\r\n");
    EXPECT_EQ(AuthUserCommand("joe"), "AUTHINFO USER joe\r\n");
    EXPECT_EQ(AuthPassCommand("se cret"), "AUTHINFO PASS se cret\r\n");
}

TEST(StatusCodeTest, ThreeDigitsThenABlankOrTheEnd)
{
    const QList<QPair<QByteArray, int>> cases = {
        {"200 ready", 200}, {"480", 480}, {"281 ok", 281}, {"48 x", -1}, {"4800 x", -1}, {"x80 y", -1}, {"", -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(StatusCode(c.first), c.second) << c.first.constData();
}

TEST(GetFieldTest, CommaAndSpaceFields)
{
    struct Case {
        QByteArray line;
        int index;
        char sep;
        QByteArray want;
    };
    const QList<Case> cases = {
        {"one,two,", 1, ',', "one"}, {"one,two,", 2, ',', "two"}, {"one,two,", 3, ',', ""},
        {"one,,two", 2, ',', ""},    {"one,,two", 3, ',', "two"}, {"", 1, ',', ""},
        {"a b", 0, ' ', ""},         {"a b", 2, ' ', "b"},        {"a b", 3, ' ', ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TZqNNTP::GetField(c.line, c.index, c.sep), c.want) << c.line.constData() << " " << c.index;
}

} // namespace

namespace {

TEST(CutAndRoute, LinesFromOneReadAreIndependentZeroTerminatedArrays)
{
    Lines reply, body, groups;
    {
        LineCutter cutter;
        QByteArray chunk("222 1 <i> body\r\nab\r\ncd\r\n");
        const QByteArray kept = chunk; // e.g. held by an OnDocOutput handler
        cutter.Feed(chunk, RouteBody, LineSinks{&reply, &body, nullptr});
        EXPECT_EQ(kept, "222 1 <i> body\r\nab\r\ncd\r\n");
        Lines listReply;
        cutter.Feed(QByteArray("215 l\r\nalt.x 3 1 y\r\n"), RouteList, LineSinks{&listReply, nullptr, &groups});
    }
    ASSERT_EQ(body, (Lines{"ab", "cd"}));
    EXPECT_EQ(body[0].constData()[2], '\0');
    EXPECT_EQ(std::strlen(reply[0].constData()), size_t(reply[0].size()));
    ASSERT_EQ(groups, Lines{"alt.x"});
    EXPECT_STREQ(groups[0].constData(), "alt.x");

    body[0].append("XYZ");
    body[0][0] = 'A';
    EXPECT_EQ(body[0], "AbXYZ");
    EXPECT_EQ(body[1], "cd");
    EXPECT_EQ(reply[0], "222 1 <i> body");
    body.removeFirst();
    reply.clear();
    body[0] += "!";
    EXPECT_EQ(body[0], "cd!");
}


TEST(Overview, FormatFromTheListOrRfcOrder)
{
    const OverviewFormat rfc = ParseOverviewFormat({});
    EXPECT_EQ((std::array{rfc.subject, rfc.messageId, rfc.lines, rfc.fields}), (std::array{0, 3, 6, 7}));
    // INN2's list, old-style names and an extra field.
    const OverviewFormat inn = ParseOverviewFormat(
        {"Subject:", "From:", "Date:", "Message-ID:", "References:", "Bytes:", "Lines:", "Xref:full"});
    EXPECT_EQ((std::array{inn.subject, inn.messageId, inn.lines, inn.fields}), (std::array{0, 3, 6, 8}));
    const OverviewFormat odd = ParseOverviewFormat({"message-id:", "SUBJECT:", ":bytes"});
    EXPECT_EQ((std::array{odd.subject, odd.messageId, odd.lines, odd.fields}), (std::array{1, 0, -1, 3}));
}

TEST(Overview, LinesGiveNumberSubjectIdAndLineCount)
{
    const OverviewFormat rfc = ParseOverviewFormat({});
    struct Case {
        const char *name;
        QByteArray line;
        bool ok;
        OverviewEntry want;
    } cases[] = {
        {"RFC 3977 8.3.2 example",
         "3000234\tI am just a test article\t\"Demo User\" <nobody@example.com>\t6 Oct 1998 04:38:40 -0500\t"
         "<45223423@example.com>\t<45454@example.net>\t1234\t17\tXref: news.example.com misc.test:3000363",
         true, {3000234, "I am just a test article", "<45223423@example.com>", 17}},
        {"INN2 line", "12\tsunset.jpg (1/1)\tposter@example.invalid\tMon, 7 Dec 2026 10:00:00 +0000\t"
                      "<12@pixtrawl.test>\t\t10456\t141\tXref: inn alt.test:12",
         true, {12, "sunset.jpg (1/1)", "<12@pixtrawl.test>", 141}},
        {"raw tabs kept in a subject", "7\tpart\tone\ttwo\ta@b\td\t<7@x>\t\t10\t3", true, {7, "part\tone\ttwo", "<7@x>", 3}},
        {"trailing fields missing", "8\tshort\ta@b\td\t<8@x>", true, {8, "short", "<8@x>", 0}},
        {"only the number, no tabs", "9", false, {}},
        {"no message id field", "9\tsubject only", false, {}},
        {"number with letters", "12a\ts\ta\td\t<12@x>", false, {}},
        {"20-digit number", "12345678901234567890\ts\ta\td\t<1@x>", false, {}},
        {"line count not a number", "10\ts\ta\td\t<10@x>\t\t5\tmany", true, {10, "s", "<10@x>", 0}},
        {"64-bit number", "5000000000\ts\ta\td\t<b@x>\t\t1\t2", true, {5000000000LL, "s", "<b@x>", 2}},
        {"number not decimal", "x1\ts", false, {}},
        {"signed number", "+5\ts", false, {}},
        {"empty line", "", false, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        OverviewEntry e;
        ASSERT_EQ(ParseOverviewLine(c.line, rfc, e), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(e.number, c.want.number);
        EXPECT_EQ(e.subject, c.want.subject);
        EXPECT_EQ(e.messageId, c.want.messageId);
        EXPECT_EQ(e.lines, c.want.lines);
    }
    // What the rules judge by: poster, date and size, by the server's list.
    OverviewEntry inn;
    ASSERT_TRUE(ParseOverviewLine("12\ts\tposter@example.invalid\tMon, 7 Dec 2026 10:00:00 +0000\t<12@x>\t\t10456\t141",
                                  rfc, inn));
    EXPECT_EQ((std::tuple{inn.from, inn.date, inn.bytes}),
              (std::tuple{QByteArray("poster@example.invalid"), QByteArray("Mon, 7 Dec 2026 10:00:00 +0000"), 10456}));
    // Fields placed by the server's own list.
    OverviewEntry e;
    ASSERT_TRUE(ParseOverviewLine("4\t<4@x>\tsubj\t99", ParseOverviewFormat({"Message-ID:", "Subject:", ":bytes"}), e));
    EXPECT_EQ(e.subject, "subj");
    EXPECT_EQ(e.messageId, "<4@x>");
    EXPECT_EQ(e.lines, 0);
    EXPECT_EQ(e.bytes, 99);
    EXPECT_EQ(OverCommand("XOVER", 5, 9), "XOVER 5-9\r\n");

    // A batch: what can be read is kept, and whether everything could be.
    QList<OverviewEntry> entries;
    EXPECT_TRUE(ParseOverviewLines({"5\ts\ta\td\t<5@x>", "7\ts\ta\td\t<7@x>"}, rfc, 5, 9, entries));
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[1].wireBytes, 15); // the line and its CR LF
    entries.clear();
    EXPECT_FALSE(ParseOverviewLines({"5\ts\ta\td\t<5@x>", "6 garbled", "12\ts\ta\td\t<12@x>"}, rfc, 5, 9, entries));
    EXPECT_EQ(entries.size(), 1);
}

} // namespace
