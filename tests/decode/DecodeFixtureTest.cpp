// Bodies made by real encoders (tests/decode/make_fixtures.py), decoded
// byte-exact against the originals, which both sides derive from xorshift32.
#include "Decode.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include "TestBodies.h"

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

const QString dataDir = QStringLiteral(PIXTRAWL_TEST_DATA "/decode/");
constexpr int smallSizes[] = {0, 1, 2, 3, 44, 45, 46};
constexpr int bigSize = 102400;
constexpr int bigSeed = 4;

QByteArray original(int size, quint32 seed) { return FixtureBytes(size, seed); }

QByteArray readFixture(const QString &name)
{
    QFile f(dataDir + name);
    if (!f.open(QIODevice::ReadOnly))
        ADD_FAILURE() << "missing fixture " << name.toStdString();
    return f.readAll();
}

Lines bodyLines(const QByteArray &text)
{
    Lines lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

struct Case {
    QString file;
    int size;
    int result;
    QByteArray name;
};

void expectDecodes(const Case &c)
{
    SCOPED_TRACE(c.file.toStdString());
    Lines lines = bodyLines(readFixture(c.file));
    QByteArray stream, name;
    const int r = DecodeAttachment(lines, stream, name);
    ASSERT_EQ(r, c.result);
    if (r == DecodeNothing)
        return;
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(stream, original(c.size, 1000 + c.size));

    // What the joining of articles builds on: the edited list decodes again.
    if (c.file.endsWith(".uue") || c.file.endsWith(".xxe")) {
        QByteArray again;
        EXPECT_EQ(DecodeAttachment(lines, again, name), r);
        EXPECT_EQ(again, stream);
    }
}

Lines readParts(const QString &ext)
{
    Lines all;
    for (int part = 1; QFile::exists(dataDir + QString("big-%1.%2.%3").arg(bigSeed).arg(ext).arg(part, 3, 10, QChar('0'))); ++part)
        all.append(readFixture(QString("big-%1.%2.%3").arg(bigSeed).arg(ext).arg(part, 3, 10, QChar('0'))));
    return all;
}

} // namespace

// A uuencoded file shorter than one full line has no "M" line to choose the
// alphabet from and gives nothing.
TEST(DecodeFixtures, UuencodeFromSharutilsAndUuenview)
{
    for (int size : smallSizes) {
        const int expected = size < 45 ? DecodeNothing : DecodeComplete;
        const QByteArray name = "pic-" + QByteArray::number(size) + ".bin";
        expectDecodes({QString("sharutils-%1.uue").arg(size), size, expected, name});
        expectDecodes({QString("uuenview-%1.uue").arg(size), size, expected, name});
        expectDecodes({QString("uuenview-%1.xxe").arg(size), size, expected, name});
    }
    expectDecodes({"sharutils-6000.uue", 6000, DecodeComplete, "pic-6000.bin"});
}

TEST(DecodeFixtures, MimeFromPythonEmail)
{
    for (int size : smallSizes) {
        const QByteArray name = "pic-" + QByteArray::number(size) + ".bin";
        const int expected = size == 0 ? DecodeNothing : DecodeComplete;
        expectDecodes({QString("python-%1.eml").arg(size), size, expected, name});
        expectDecodes({QString("python-modern-%1.eml").arg(size), size, expected, name});
    }
    expectDecodes({"python-6000.eml", 6000, DecodeComplete, "pic-6000.bin"});
}

// Bare Base64 of a single line is too short to be taken on its shape;
// without a pad nothing marks its end.
TEST(DecodeFixtures, BareBase64FromCoreutils)
{
    for (int size : smallSizes)
        expectDecodes({QString("base64-%1.b64").arg(size), size, DecodeNothing, ""});
    expectDecodes({"base64-6000.b64", 6000, DecodePartial, ""});
    expectDecodes({"base64-6001.b64", 6001, DecodeComplete, ""});
}

TEST(DecodeFixtures, XxencodedFileHoldsEndInsideADataLine)
{
    const Lines parts = readParts("xxe");
    ASSERT_EQ(parts.size(), 5);
    const Lines lines = bodyLines(parts.join());
    const auto spellsEnd = [](const QByteArray &l) {
        return l.size() == 61 && l.startsWith('h') && l.contains("end");
    };
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), spellsEnd));
}

// Every article of a split file, as one body and joined article by article
// the way the main window does it: a part that decodes to nothing on its own
// is appended to the pending lines and the whole is decoded again.
TEST(DecodeFixtures, SplitUuenviewFilesJoinAcrossArticles)
{
    const QByteArray want = original(bigSize, bigSeed);
    // uuenview names the file in every part's header line; a name holding
    // "end" must not end the data there.
    for (const QString ext : {"uue", "xxe"})
    for (const QByteArray fileName : {QByteArray("big.bin"), QByteArray("weekend.jpg")}) {
        SCOPED_TRACE(ext.toStdString() + " " + fileName.toStdString());
        Lines parts = readParts(ext);
        for (QByteArray &part : parts)
            part.replace("big.bin", fileName);
        ASSERT_EQ(parts.size(), 5);

        Lines whole = bodyLines(parts.join());
        QByteArray stream, name;
        EXPECT_EQ(DecodeAttachment(whole, stream, name), DecodeComplete);
        EXPECT_EQ(name, fileName);
        EXPECT_EQ(stream, want);

        Lines pending;
        qsizetype pendingSize = 0;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            SCOPED_TRACE(i + 1);
            Lines body = bodyLines(parts[i]);
            const int own = DecodeAttachment(body, stream, name);
            if (i == 0) {
                ASSERT_EQ(own, DecodePartial);
                EXPECT_EQ(name, fileName);
                pending = body;
                pendingSize = stream.size();
                EXPECT_EQ(stream, want.left(pendingSize));
                continue;
            }
            ASSERT_EQ(own, DecodeNothing);
            Lines joined = pending + body;
            const int r = DecodeAttachment(joined, stream, name);
            EXPECT_EQ(stream, want.left(stream.size()));
            if (i + 1 < parts.size()) {
                ASSERT_EQ(r, DecodePartial);
                ASSERT_GT(stream.size(), pendingSize);
                pending = joined;
                pendingSize = stream.size();
            } else {
                EXPECT_EQ(r, DecodeComplete);
                EXPECT_EQ(stream, want);
            }
        }
    }
}
