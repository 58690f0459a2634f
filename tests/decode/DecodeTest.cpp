#include "Decode.h"

#include "MessageRecorder.h"
#include "TestBodies.h"

#include <QByteArray>
#include <QList>

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

const QByteArray UU = [] {
    QByteArray s(1, '`');
    for (char c = 0x21; c <= 0x5F; ++c)
        s.append(c);
    return s;
}();
const QByteArray XX = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Encodes bytes as data lines of 45 bytes in the given alphabet.
Lines encodeLines(const QByteArray &data, const QByteArray &alphabet)
{
    Lines out;
    for (qsizetype pos = 0; pos < data.size(); pos += 45) {
        const QByteArray chunk = data.mid(pos, 45);
        QByteArray line(1, alphabet[chunk.size()]);
        for (qsizetype i = 0; i < chunk.size(); i += 3) {
            const auto at = [&](qsizetype k) { return k < chunk.size() ? uchar(chunk[k]) : 0u; };
            const unsigned v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
            for (int s = 18; s >= 0; s -= 6)
                line.append(alphabet[(v >> s) & 63]);
        }
        out.append(line);
    }
    return out;
}

QByteArray bytes(int n, int seed = 7)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 37 + seed * 11) & 0xFF);
    return b;
}

struct Decoded {
    int result;
    QByteArray stream;
    QByteArray name;
};

Decoded decode(Lines &lines)
{
    Decoded d{0, "stale", "stale"};
    d.result = DecodeAttachment(lines, d.stream, d.name);
    return d;
}

const QByteArray full45 = QByteArray(3, '\0') + bytes(42); // one group of zeros
const QByteArray fullLine = encodeLines(full45, UU).first();

} // namespace

TEST(DecodeChoice, NothingToDecodeLeavesStreamAndLinesAlone)
{
    Lines lines{"hello", "Content-Type: text/plain", QByteArray(72, 'A'), "bye"};
    const Lines before = lines;
    const Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodeNothing);
    EXPECT_EQ(d.stream, "stale");
    EXPECT_TRUE(d.name.isEmpty());
    EXPECT_EQ(lines, before);
}

TEST(DecodeUU, CatExampleCompleteAndPartial)
{
    Lines lines{"begin 644 cat.jpg", fullLine, "#0V%T", "end"};
    Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodeComplete);
    EXPECT_EQ(d.name, "cat.jpg");
    EXPECT_EQ(d.stream, full45 + "Cat");
    EXPECT_EQ(lines, Lines({"begin 644 cat.jpg", fullLine, "#0V%T", "end"}));

    lines = {"begin 644 cat.jpg", fullLine, "#0V%T"};
    d = decode(lines);
    EXPECT_EQ(d.result, DecodePartial);
    EXPECT_EQ(d.stream, full45 + "Cat");
}

TEST(DecodeUU, FileNameIsEverythingFromTheEleventhCharacter)
{
    const struct {
        QByteArray begin, name;
    } cases[] = {{"begin 644 cat.jpg", "cat.jpg"},
                 {"begin 0644 cat.jpg", " cat.jpg"},
                 {"begin 644 a b.jpg ", "a b.jpg "},
                 {"begin 6", ""}};
    for (const auto &c : cases) {
        Lines lines{c.begin, fullLine, "end"};
        const Decoded d = decode(lines);
        EXPECT_EQ(d.name, c.name) << c.begin.constData();
        EXPECT_EQ(d.stream, full45) << c.begin.constData();
    }
}

TEST(DecodeUU, WithoutAFullLineNoAlphabetIsChosenAndNothingDecodes)
{
    Lines lines{"begin 644 cat.jpg", "#0V%T", "`", "end"};
    EXPECT_EQ(decode(lines).result, DecodeNothing);
}

TEST(DecodeUU, LineFixesAndTheEditedList)
{
    QByteArray spaced = fullLine;
    spaced.replace('`', ' ');
    ASSERT_NE(spaced, fullLine) << "the test line needs a zero value";
    Lines lines{"Hello", "my friend sent this", "", "begin 644 cat.jpg", "",
                spaced, fullLine + " ", "not data", "#0V%T", "`", "end",
                "sig", "The end"};
    const Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodeComplete);
    // The line with one extra character is dropped, the spaced one is zeros.
    EXPECT_EQ(d.stream, full45 + "Cat");
    EXPECT_EQ(lines, Lines({"my friend sent this", "begin 644 cat.jpg", fullLine, "#0V%T",
                            "`", "end", "The end"}));

    // The edited list decodes again to the same bytes.
    const Decoded again = decode(lines);
    EXPECT_EQ(again.result, DecodeComplete);
    EXPECT_EQ(again.stream, d.stream);
}

// A count character outside the alphabet would claim 254 bytes from a line of
// 341 characters; such a line adds nothing.
TEST(DecodeUU, OverlongLineWithUnknownCountAddsNothing)
{
    Lines lines{"begin 644 cat.jpg", fullLine, "a" + QByteArray(340, 'A'), "end"};
    const Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodeComplete);
    EXPECT_EQ(d.stream, full45);
}

TEST(DecodeUU, EndBeforeTheBeginLineIsNoEndMarker)
{
    Lines lines{"my friend sent this", "begin 644 cat.jpg", fullLine, "#0V%T", "end"};
    const Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodeComplete);
    EXPECT_EQ(d.stream, full45 + "Cat");
    EXPECT_EQ(lines.first(), "my friend sent this");
}

// In xxencode "end" can be spelled by data; such a line is data, not the end.
TEST(DecodeUU, XxDataLineSpellingEndIsData)
{
    QByteArray data(45, '\0');
    data[0] = char(171); // "end+" in the xx alphabet
    data[1] = char(58);
    data[2] = char(64);
    data += bytes(90);
    Lines lines{"begin 644 x.bin"};
    lines += encodeLines(data, XX);
    ASSERT_TRUE(lines[1].startsWith("hend"));
    lines += {"+", "end"};
    const Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodeComplete);
    EXPECT_EQ(d.stream, data);
}

TEST(DecodeUU, OnlyTheFirstFileOfABodyIsDecoded)
{
    const QByteArray second = bytes(45, 3);
    Lines lines{"begin 644 one.jpg", fullLine, "#0V%T", "end", "", "begin 644 two.jpg",
                encodeLines(second, UU).first(), "end"};
    const Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodeComplete);
    EXPECT_EQ(d.name, "one.jpg");
    EXPECT_EQ(d.stream, full45 + "Cat");
    EXPECT_EQ(lines, Lines({"begin 644 one.jpg", fullLine, "#0V%T", "end", "begin 644 two.jpg",
                            "end"}));
    EXPECT_EQ(decode(lines).stream, full45 + "Cat");
}

TEST(DecodeUU, GreetingStartingWithHDoesNotChooseXx)
{
    Lines lines{"hi all, here is one", "begin 644 cat.jpg", fullLine, "#0V%T", "end"};
    const Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodeComplete);
    EXPECT_EQ(d.stream, full45 + "Cat");
}

TEST(DecodeUU, RepeatedAlphabetCharacterIsReportedNotDecoded)
{
    MessageRecorder recorder;
    unsigned char map[256];
    EXPECT_FALSE(BuildReverseMap("ABCB", map));
    ASSERT_EQ(recorder.shown().size(), 1);
    const MessageRequest &m = recorder.shown().first();
    EXPECT_EQ(m.text, "UUDecode: Character already defined in the table");
    EXPECT_EQ(m.caption, "DecodeUUE Error");
    EXPECT_EQ(m.icon, MsgIcon::Error);
    EXPECT_EQ(m.buttons, MsgButtons::Ok);

    EXPECT_TRUE(BuildReverseMap(XX, map));
    EXPECT_EQ(map[uchar('+')], 0);
    EXPECT_EQ(map[uchar('h')], 45);
    EXPECT_EQ(map[uchar('z')], 63);
    EXPECT_EQ(map[uchar('`')], 254);
    EXPECT_EQ(recorder.shown().size(), 1);
}

namespace {
const QByteArray catHeader = "Content-Type: image/jpeg; name=\"cat.jpg\"";
const QByteArray cte = "Content-Transfer-Encoding: base64";
}

TEST(DecodeMime, CatPartWithBoundaryPadOrNeither)
{
    const struct {
        Lines body;
        int result;
        QByteArray stream;
        Lines after;
    } cases[] = {
        {{catHeader, cte, "", "Q2F0", "------=_NextPart", "bye"}, DecodeComplete, "Cat", {"Q2F0", "bye"}},
        {{catHeader, cte, "", "Q2E="}, DecodeComplete, "Ca", {"Q2E="}},
        {{catHeader, cte, "", "Q2F0"}, DecodePartial, "Cat", {"Q2F0"}},
        {{"Some text", catHeader, cte, "", "Q2F0", "Q2F0", "Q2F0"}, DecodePartial, "CatCatCat",
         {"Q2F0", "Q2F0", "Q2F0"}},
    };
    for (const auto &c : cases) {
        Lines lines = c.body;
        const Decoded d = decode(lines);
        EXPECT_EQ(d.result, c.result) << c.body.last().constData();
        EXPECT_EQ(d.name, "cat.jpg");
        EXPECT_EQ(d.stream, c.stream);
        EXPECT_EQ(lines, c.after);
    }
}

TEST(DecodeMime, FileNameNeedsQuotes)
{
    Lines lines{"Content-Type: image/jpeg; name=cat.jpg", cte, "", "Q2F0"};
    const Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodePartial);
    EXPECT_TRUE(d.name.isEmpty());
    EXPECT_EQ(d.stream, "Cat");
}

TEST(DecodeMime, NoNameLineLeavesOnlyTheLastLine)
{
    Lines lines{cte, "", "Q2F0", "Q2F0", "bye"};
    EXPECT_EQ(decode(lines).result, DecodeNothing);
    EXPECT_EQ(lines, Lines({"bye"}));
}

// Closing boundaries as mail libraries write them, also on the last line,
// end the data instead of adding their letters to it.
TEST(DecodeMime, BoundaryLinesEndThePartAlsoOnTheLastLine)
{
    for (const QByteArray boundary : {"--===============4711==--", "------=_NextPart_000_01--",
                                      "------", "--b"}) {
        Lines lines{catHeader, cte, "", "Q2F0", "Q2F0", boundary};
        const Decoded d = decode(lines);
        EXPECT_EQ(d.result, DecodeComplete) << boundary.constData();
        EXPECT_EQ(d.stream, "CatCat") << boundary.constData();
        EXPECT_EQ(lines, Lines({"Q2F0", "Q2F0"}));
    }
    // An empty part: the boundary comes before any data.
    Lines empty{catHeader, cte, "", "--===============4711==--", "bye"};
    EXPECT_EQ(decode(empty).result, DecodeNothing);
}

TEST(DecodeMime, HeaderLinesAfterTheNameAreNotData)
{
    Lines lines{"--===============4711==",
                "Content-Type: application/octet-stream;",
                "\tname=\"cat.jpg\"",
                "MIME-Version: 1.0",
                cte,
                "Content-Disposition: attachment;",
                " filename=\"cat.jpg\"",
                "X-Attachment-Id: f_cat",
                "",
                "Q2F0Q2F0",
                "",
                "--===============4711==--"};
    const Decoded d = decode(lines);
    EXPECT_EQ(d.result, DecodeComplete);
    EXPECT_EQ(d.name, "cat.jpg");
    EXPECT_EQ(d.stream, "CatCat");
}

TEST(DecodeMime, NameLineWithoutDataAfterItGivesNothing)
{
    for (const Lines &body : {Lines{cte, catHeader}, Lines{cte, catHeader, "", "X-A: 1", ""}}) {
        Lines lines = body;
        EXPECT_EQ(decode(lines).result, DecodeNothing);
    }
}

// The 72-character rule alone: one line outside the alphabet ("!!!", skipped
// when decoding) keeps the body from being all Base64 lines.
TEST(DecodeBare, SeventyTwoCharacterRuleThresholds)
{
    const QByteArray line(72, 'Q');
    const struct {
        int full, empty, result;
    } cases[] = {{60, 0, DecodePartial}, {50, 0, DecodeNothing}, {51, 12, DecodePartial},
                 {51, 13, DecodeNothing}};
    for (const auto &c : cases) {
        Lines lines(c.full, line);
        lines += Lines(c.empty, QByteArray());
        lines.append("!!!");
        const Lines before = lines;
        const Decoded d = decode(lines);
        EXPECT_EQ(d.result, c.result) << c.full << "+" << c.empty;
        if (c.result == DecodeNothing) {
            EXPECT_EQ(lines, before);
        } else {
            EXPECT_TRUE(d.name.isEmpty());
            EXPECT_EQ(d.stream, QByteArray::fromBase64(QByteArray(c.full * 72, 'Q')));
        }
    }

    Lines padded(60, line);
    padded.last().replace(70, 2, "==");
    EXPECT_EQ(decode(padded).result, DecodeComplete);
}

// Any one line length encoders use, at every size remainder: the pad (or its
// absence) only tells the decoder's result, the bytes are whole either way.
TEST(DecodeBare, Base64LinesOfOneWidthAtEveryRemainder)
{
    for (int width : {64, 72, 76}) {
        for (int size : {3000, 3001, 3002, 180}) {
            const QByteArray data = bytes(size, width);
            Lines lines = Base64Body(data, width);
            const Decoded d = decode(lines);
            SCOPED_TRACE(testing::Message() << width << " " << size);
            EXPECT_EQ(d.result, size % 3 == 0 ? DecodePartial : DecodeComplete);
            EXPECT_EQ(d.stream, data);
            EXPECT_TRUE(d.name.isEmpty());
        }
    }
}

// Bodies a person wrote, and encodings that are not Base64, are left alone.
TEST(DecodeBare, TextAndOtherShapesAreNotBase64)
{
    const QByteArray b76(76, 'Q');
    const struct {
        const char *what;
        Lines lines;
    } cases[] = {
        {"signature", {"Nice one, thanks.", "", "-- ", "John Doe  <john@example.org>", "www.example.org/pictures"}},
        {"quoted reply",
         {"On Monday someone wrote:", "> " + QByteArray(70, 'q'), "> " + QByteArray(70, 'q'), "> " + QByteArray(70, 'q'),
          "Agreed."}},
        {"three lines only", {b76, b76, "QUJD"}},
        {"two widths", {b76, b76, QByteArray(72, 'Q'), b76, "QQ=="}},
        {"width not a multiple of 4", {QByteArray(62, 'Q'), QByteArray(62, 'Q'), QByteArray(62, 'Q'), "QQ"}},
        {"lines of 80", {QByteArray(80, 'Q'), QByteArray(80, 'Q'), QByteArray(80, 'Q'), "QQ"}},
        {"pad before the end", {b76, QByteArray(74, 'Q') + "==", b76, "QQ"}},
        {"last line longer", {b76, b76, b76, b76 + "QQQQ"}},
        {"text after a boundary", {b76, b76, b76, b76, "--b--", "bye"}},
        {"xxencode data lines", {"h" + QByteArray(60, 'k'), "h" + QByteArray(60, 'k'), "h" + QByteArray(60, 'k'), "h" + QByteArray(60, 'k')}},
    };
    for (const auto &c : cases) {
        Lines lines = c.lines;
        const Lines before = lines;
        EXPECT_EQ(decode(lines).result, DecodeNothing) << c.what;
        EXPECT_EQ(lines, before) << c.what;
    }
    EXPECT_TRUE(IsBase64Lines({b76, "", b76, b76, "QQ==", "", "--boundary--"}, 4));
}
