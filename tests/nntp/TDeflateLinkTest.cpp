// The deflate layer of a compressed connection: what arrives in any cutting
// inflates to the same lines, what goes out is flushed, and a broken stream
// says so.
#include "NntpParse.h"
#include "TDeflateLink.h"

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

// A raw deflate stream made by another encoder than the one under test:
// Qt's zlib stream less its 4-byte length, 2-byte header and Adler-32.
QByteArray RawDeflate(const QByteArray &plain)
{
    const QByteArray z = qCompress(plain, 9);
    return z.mid(6, z.size() - 10);
}

const QByteArray kReply = [] {
    QByteArray r = "224 overview follows\r\n";
    for (int n = 1; n <= 300; ++n)
        r += QByteArray::number(n) + "\tPicture " + QByteArray::number(n % 7) + " of the beach (1/1)\tposter@example"
             + "\tMon, 7 Dec 2026 10:00:00 +0000\t<p" + QByteArray::number(n) + "@example>\t\t4711\t30\r\n";
    return r + ".\r\n";
}();

Lines CutLines(const QByteArray &text)
{
    Lines lines;
    Nntp::LineCutter cutter;
    cutter.Feed(text, Nntp::RouteNormal, Nntp::LineSinks{&lines, nullptr, nullptr});
    return lines;
}

struct Cutting {
    const char *name;
    qsizetype chunk;    // bytes per arrival
    qsizetype maxPiece; // the most one Inflate gives
};

class DeflateLinkCuttings : public ::testing::TestWithParam<Cutting> {};

TEST_P(DeflateLinkCuttings, InflateToTheSameLines)
{
    const Cutting &c = GetParam();
    const QByteArray wire = RawDeflate(kReply);
    ASSERT_LT(wire.size(), kReply.size() / 4);
    TDeflateLink link;
    ASSERT_TRUE(link.Start());
    Lines lines;
    Nntp::LineCutter cutter;
    for (qsizetype at = 0; at < wire.size(); at += c.chunk) {
        link.Input(wire.mid(at, c.chunk));
        QByteArray piece;
        do {
            ASSERT_TRUE(link.Inflate(piece, c.maxPiece)) << link.Error().toStdString();
            ASSERT_LE(piece.size(), c.maxPiece);
            cutter.Feed(piece, Nntp::RouteNormal, Nntp::LineSinks{&lines, nullptr, nullptr});
        } while (!piece.isEmpty());
    }
    EXPECT_EQ(lines, CutLines(kReply));
    EXPECT_TRUE(cutter.Pending().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Chunks, DeflateLinkCuttings,
                         ::testing::Values(Cutting{"Whole", 1 << 20, 1 << 20}, Cutting{"EveryByte", 1, 1 << 20},
                                           Cutting{"EveryByteIntoSmallPieces", 1, 3},
                                           Cutting{"OddChunks", 7, 100}, Cutting{"OneByteAPiece", 1000, 1}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DeflateLink, CommandsGoOutFlushedOneStreamAcrossBatches)
{
    TDeflateLink client, server;
    ASSERT_TRUE(client.Start());
    ASSERT_TRUE(server.Start());
    QByteArray received;
    for (const QByteArray &batch : {QByteArray("GROUP alt.test\r\n"), QByteArray("BODY 1\r\nBODY 2\r\nBODY 3\r\n"),
                                    QByteArray("GROUP alt.test\r\n")}) {
        QByteArray packed;
        ASSERT_TRUE(client.Deflate(batch, packed));
        // A sync flush ends with an empty stored block: the server can read the batch at once.
        EXPECT_TRUE(packed.endsWith(QByteArray("\x00\x00\xff\xff", 4)));
        server.Input(packed);
        QByteArray piece;
        ASSERT_TRUE(server.Inflate(piece, 1 << 16));
        EXPECT_EQ(piece, batch); // all of it, without waiting for more
        received += piece;
    }
    EXPECT_EQ(received, "GROUP alt.test\r\nBODY 1\r\nBODY 2\r\nBODY 3\r\nGROUP alt.test\r\n");
}

TEST(DeflateLink, ABrokenStreamIsReportedInZlibsWords)
{
    const struct {
        const char *name;
        QByteArray wire;
        QString error;
    } cases[] = {
        {"invalid block type", QByteArray("\xff\xfe garbage"), QStringLiteral("invalid block type")},
        {"a zlib header where raw deflate belongs", qCompress("hello").mid(4),
         QStringLiteral("invalid stored block lengths")},
        {"bytes after the stream's end", RawDeflate("hello\r\n") + "x",
         QStringLiteral("data after the end of the stream")},
    };
    for (const auto &c : cases) {
        TDeflateLink link;
        ASSERT_TRUE(link.Start());
        link.Input(c.wire);
        QByteArray piece;
        bool ok = true;
        for (int i = 0; i < 4 && ok; ++i)
            ok = link.Inflate(piece, 1 << 16);
        EXPECT_FALSE(ok) << c.name;
        EXPECT_EQ(link.Error(), c.error) << c.name;
    }
}

} // namespace
