// yEnc: bodies from real encoders (tests/decode/make_fixtures.py), the checks
// that tell damaged files and parts, hostile headers, and every SIMD path
// against the byte loop.
#include "Decode.h"
#include "TestBodies.h"
#include "YEnc.h"
#include "YEncKernel.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRandomGenerator>

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

using Lines = QList<QByteArray>;

const QString dataDir = QStringLiteral(PIXTRAWL_TEST_DATA "/decode/");

QByteArray original(int size, quint32 seed) { return FixtureBytes(size, seed); }

Lines fixture(const QString &name)
{
    QFile f(dataDir + name);
    if (!f.open(QIODevice::ReadOnly))
        ADD_FAILURE() << "missing fixture " << name.toStdString();
    Lines lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

TEST(YEncFixtures, SingleFilesFromEveryEncoderDecodeByteExact)
{
    for (const char *encoder : {"uuenview", "sabyenc", "python"}) {
        for (int size : {1, 3000}) {
            const QString file = QString("yenc-%1-%2.yenc").arg(encoder).arg(size);
            SCOPED_TRACE(file.toStdString());
            Lines lines = fixture(file);
            const YEncResult r = DecodeYEnc(lines);
            ASSERT_EQ(r.State, YEncResult::Whole) << r.Error.constData();
            EXPECT_EQ(r.Name, QByteArray("pic-") + QByteArray::number(size) + ".bin");
            EXPECT_EQ(r.Data, original(size, 1000 + size));
            // The entry chooses yEnc although "=ybegin " holds "begin ".
            QByteArray stream, name;
            EXPECT_EQ(DecodeAttachment(lines, stream, name), DecodeComplete);
            EXPECT_EQ(stream, r.Data);
        }
    }
}

TEST(YEncFixtures, PartsFromEveryEncoderCoverTheFileAtTheirOffsets)
{
    const QByteArray file = original(100000, 7);
    for (const auto &[encoder, parts] : {std::pair{"uuenview", 4}, {"sabyenc", 3}, {"python", 2}}) {
        QByteArray assembled(file.size(), '\0');
        qint64 covered = 0;
        uLong crc = crc32(0, nullptr, 0);
        for (int p = 1; p <= parts; ++p) {
            const QString name = QString("yenc-%1-big.%2").arg(encoder).arg(p, 3, 10, QChar('0'));
            SCOPED_TRACE(name.toStdString());
            const YEncResult r = DecodeYEnc(fixture(name));
            ASSERT_EQ(r.State, YEncResult::Part) << r.Error.constData();
            EXPECT_EQ(r.PartNumber, p);
            EXPECT_EQ(r.FileSize, file.size());
            ASSERT_EQ(r.End - r.Begin + 1, r.Data.size());
            assembled.replace(r.Begin - 1, r.Data.size(), r.Data);
            covered += r.Data.size();
            crc = crc32_combine(crc, r.Crc, z_off_t(r.Data.size()));
            if (r.HasFileCrc) {
                EXPECT_EQ(r.FileCrc, crc32(0, reinterpret_cast<const Bytef *>(file.constData()), uInt(file.size())));
            }
        }
        EXPECT_EQ(covered, file.size());
        EXPECT_EQ(assembled, file);
        EXPECT_EQ(crc, crc32(0, reinterpret_cast<const Bytef *>(file.constData()), uInt(file.size())));
    }
}

// Damaged and hostile bodies, each with the log text it must give.
struct Bad {
    const char *what;
    Lines body;
    const char *error;
};

TEST(YEncChecks, DamagedAndHostileBodiesAreCaughtWithTheirReason)
{
    const QByteArray data = original(3000, 5);
    const Lines good = YEncFile("x.jpg", data);
    const Lines part = YEncPart("x.jpg", data, 2, 3, 1001, 1000);
    Lines flipped = good;
    // One byte changed to another plain one: the size stays, the CRC fails.
    for (qsizetype k = 1; k < flipped[5].size(); ++k) {
        const char c = flipped[5][k], f = char(c ^ 0x01);
        if (flipped[5][k - 1] != '=' && c != '=' && f != '=' && f != '\r' && f != '\n') {
            flipped[5][k] = f;
            break;
        }
    }
    Lines noEnd = good;
    noEnd.removeLast();
    Lines truncated = part;
    truncated.removeAt(3);
    Lines wrongSize = good;
    wrongSize[0] = "=ybegin line=128 size=2999 name=x.jpg";
    Lines badPcrc = part;
    badPcrc.last() = "=yend size=1000 part=2 pcrc32=12345678";
    const auto withHead = [&](const QByteArray &head, const QByteArray &ypart = QByteArray()) {
        Lines l = part;
        l[0] = head;
        if (!ypart.isEmpty())
            l[1] = ypart;
        return l;
    };
    const Bad cases[] = {
        {"flipped byte", flipped, "File 'x.jpg' failed its CRC-32 check: "},
        {"no =yend", noEnd, "File 'x.jpg' has no =yend line."},
        {"truncated part", truncated, "Part 2 of 3 of 'x.jpg' failed its size check: "},
        {"wrong size", wrongSize, "File 'x.jpg' failed its size check: 3000 bytes instead of 2999"},
        {"part CRC", badPcrc, "Part 2 of 3 of 'x.jpg' failed its CRC-32 check: "},
        {"over 4 GB", withHead("=ybegin part=2 total=3 line=128 size=4294967296 name=x.jpg"),
         "Part 2 of 3 of 'x.jpg' claims 4294967296 bytes, more than 4 GB."},
        {"end before begin", withHead(part[0], "=ypart begin=2000 end=1001"), "which is empty."},
        {"no bytes", withHead(part[0], "=ypart begin=3001 end=3000"), "Part 2 of 3 of 'x.jpg' holds no bytes."},
        {"past size", withHead(part[0], "=ypart begin=2001 end=3001"),
         "reaches to byte 3001 of a file of 3000 bytes."},
        {"total 0", withHead("=ybegin part=2 total=0 line=128 size=3000 name=x.jpg"), "claims 0 parts."},
        {"total a million", withHead("=ybegin part=2 total=1000000 line=128 size=3000 name=x.jpg"),
         "claims 1000000 parts."},
        {"dot dot", withHead("=ybegin part=2 total=3 line=128 size=3000 name=../x.jpg"), "outside the output"},
        {"separator", withHead("=ybegin part=2 total=3 line=128 size=3000 name=a/x.jpg"), "path separator"},
        {"control", withHead("=ybegin part=2 total=3 line=128 size=3000 name=x\x01.jpg"),
         "'x\xe2\x90\x81.jpg' has a name with a control character"},
        {"NUL", withHead(QByteArray("=ybegin part=2 total=3 line=128 size=3000 name=x\0.jpg", 51)),
         "control character"},
        {"part without =ypart", Lines{"=ybegin part=2 total=3 line=128 size=3000 name=x.jpg"} + part.mid(2),
         "Part 2 of 3 of 'x.jpg' has no =ypart line."},
        {"bad number", withHead("=ybegin part=2 total=3 line=128 size=3e3 name=x.jpg"), "malformed =ybegin"},
    };
    for (const Bad &c : cases) {
        SCOPED_TRACE(c.what);
        const YEncResult r = DecodeYEnc(c.body);
        EXPECT_EQ(r.State, YEncResult::Damaged);
        EXPECT_TRUE(r.Error.contains(c.error)) << r.Error.constData();
        // Nothing was sized by a claim: at most what the lines hold.
        qsizetype encoded = 0;
        for (const QByteArray &l : c.body)
            encoded += l.size();
        EXPECT_LE(r.Data.size(), encoded);
    }
}

TEST(YEncHeaders, NameIsTheRestOfTheLineAndCrcsKeepTheirLow32Bits)
{
    const YEncHeader h = ParseYBegin("=ybegin line=128 size=12 name=  my holiday = fun.jpg  ");
    EXPECT_FALSE(h.Malformed);
    EXPECT_EQ(h.Size, 12);
    EXPECT_EQ(h.Name, "my holiday = fun.jpg");
    const YEncTrailer t = ParseYEnd("=yend size=12 part=1 pcrc32=00000000DEADBEEF crc32=abc");
    EXPECT_FALSE(t.Malformed);
    EXPECT_EQ(t.Pcrc32, 0xDEADBEEFu);
    EXPECT_EQ(t.Crc32, 0xABCu);
    EXPECT_TRUE(ParseYEnd("=yend size=12 crc32=1234567890ABCDEF0").Malformed);
    EXPECT_TRUE(ParseYPart("=ypart begin=1").Malformed);
    EXPECT_FALSE(IsYEncBody({"x", "=ybeginx", " =ybegin size=1 name=a"}));
    EXPECT_TRUE(IsYEncBody({"hello", "=ybegin size=1 name=a"}));
}

TEST(YEncChecks, AnyByteMayFollowAnEscapeAndLinesAfterTheTrailerAreIgnored)
{
    // "==" is an escaped "=" (0xD3); an escape at a line's end escapes nothing.
    const Lines body{"=ybegin line=128 size=3 name=a", "==k=", "l", "=yend size=3", "-- ", "signature"};
    const YEncResult r = DecodeYEnc(body);
    ASSERT_EQ(r.State, YEncResult::Whole) << r.Error.constData();
    EXPECT_EQ(r.Data, QByteArray("\xD3\x41\x42"));
}

// Every path against the byte loop, on bodies dense with escapes, runs of
// "=", line ends and escapes left open across calls.
TEST(YEncKernel, EveryPathDecodesLikeTheByteLoop)
{
    QRandomGenerator rng(99);
    const char specials[] = {'=', '=', '=', '\r', '\n', 'a', char(0xD6)};
    for (int round = 0; round < 300; ++round) {
        const int n = int(rng.bounded(1, 400));
        QByteArray in(n, '\0');
        for (char &c : in)
            c = rng.bounded(4) == 0 ? specials[rng.bounded(int(sizeof specials))] : char(rng.bounded(256));
        const int cut = int(rng.bounded(n + 1));
        QByteArray want(n + int(YEncKernelSlack), '\0');
        bool esc = false;
        std::size_t wn = 0;
        for (char c : in) { // the rules, written out byte by byte
            const auto u = uchar(c);
            if (esc) {
                esc = false;
                if (u != '\r' && u != '\n')
                    want[qsizetype(wn++)] = char(u - 106);
            } else if (u == '=') {
                esc = true;
            } else if (u != '\r' && u != '\n') {
                want[qsizetype(wn++)] = char(u - 42);
            }
        }
        want.resize(qsizetype(wn));
        for (YEncPath p : {YEncPath::Scalar, YEncPath::Sse2, YEncPath::Ssse3, YEncPath::Avx2}) {
            QByteArray out(n + int(YEncKernelSlack), '\0');
            auto *o = reinterpret_cast<unsigned char *>(out.data());
            const auto *i = reinterpret_cast<const unsigned char *>(in.constData());
            bool e = false;
            std::size_t got = YEncDecodeWith(p, i, std::size_t(cut), o, e);
            got += YEncDecodeWith(p, i + cut, std::size_t(n - cut), o + got, e);
            out.resize(qsizetype(got));
            EXPECT_EQ(out, want) << YEncPathName(p) << " round " << round << " cut " << cut;
        }
    }
}

TEST(YEncKernel, RoundTripThroughOurEncoder)
{
    for (int size : {0, 1, 15, 16, 17, 31, 32, 33, 255, 4096, 100001}) {
        const QByteArray data = Noise(size, quint32(size));
        const YEncResult r = DecodeYEnc(YEncFile("f.bin", data));
        ASSERT_EQ(r.State, YEncResult::Whole) << size << ' ' << r.Error.constData();
        EXPECT_EQ(r.Data, data);
        EXPECT_EQ(r.Crc, ZipCrc(data));
    }
}

// Lines as the news client leaves them: side by side in one block, each
// followed by the zero that replaced its CR and its LF.
Lines clientLines(const Lines &lines, QByteArray &storage)
{
    storage.clear();
    for (const QByteArray &l : lines)
        storage += l + QByteArray("\0\n", 2);
    Lines out;
    qsizetype at = 0;
    for (const QByteArray &l : lines) {
        out.append(QByteArray::fromRawData(storage.constData() + at, l.size()));
        at += l.size() + 2;
    }
    return out;
}

TEST(YEncKernel, LinesSideBySideDecodeInOneGoAndAZeroInsideALineStillCounts)
{
    const QByteArray data = Noise(20000, 4);
    QByteArray storage;
    const YEncResult r = DecodeYEnc(clientLines(YEncFile("f.bin", data), storage));
    ASSERT_EQ(r.State, YEncResult::Whole) << r.Error.constData();
    EXPECT_EQ(r.Data, data);

    // A bare zero breaks the encoding's rules but decodes by them: 0xD6.
    const QByteArray withZero = QByteArray("ab") + char(0xD6) + "cd";
    Lines body{"=ybegin line=128 size=5 name=z", QByteArray("\x8b\x8c", 2), QByteArray("\0\x8d\x8e", 3),
               "=yend size=5 crc32=" + QByteArray::number(ZipCrc(withZero), 16)};
    const YEncResult z = DecodeYEnc(clientLines(body, storage));
    ASSERT_EQ(z.State, YEncResult::Whole) << z.Error.constData();
    EXPECT_EQ(z.Data, withZero);
}

} // namespace
