// DecodeAttachment on arbitrary line lists, and on well-formed bodies built
// from the input (uuencode, xxencode, MIME Base64, with the text that real
// articles carry around them) whose bytes must come back exactly, also when
// the body is split over two articles and joined again.
#include "Decode.h"

#include "FuzzCheck.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdlib>
#include <cstdio>

namespace {

using Lines = QList<QByteArray>;


bool validResult(int r)
{
    return r == DecodeComplete || r == DecodePartial || r == DecodeNothing;
}

void arbitrary(const QByteArray &input)
{
    Lines lines = input.split('\n');
    const Lines before = lines;
    QByteArray stream = "sentinel", name = "old";
    const int r = DecodeAttachment(lines, stream, name);
    check(validResult(r), "result code");
    check(r == DecodeNothing || stream.size() <= input.size(), "output larger than input");

    bool marker = false;
    qsizetype full = 0;
    for (const QByteArray &l : before) {
        marker = marker || l.contains("begin ") || (l.startsWith("Content-") && l.contains("base64"));
        full += l.size() == 72;
    }
    // Without a marker only Base64's shape may make a file: mostly full
    // 72-character lines, or lines of Base64 of one width.
    if (!marker && !(full > 50 && full >= before.size() * 80 / 100) && !IsBase64Lines(before, Base64MinLines)) {
        check(r == DecodeNothing, "nothing to decode");
        check(lines == before && stream == "sentinel" && name.isEmpty(), "untouched");
    }

    // The edited list is input again for the joining of articles.
    QByteArray again;
    const int r2 = DecodeAttachment(lines, again, name);
    check(validResult(r2), "result code again");
    check(r2 == DecodeNothing || again.size() <= input.size() + 64, "output again");
}

Lines encode(const QByteArray &data, const char *alphabet)
{
    Lines out;
    for (qsizetype pos = 0; pos < data.size(); pos += 45) {
        const qsizetype n = std::min<qsizetype>(45, data.size() - pos);
        QByteArray line(1, alphabet[n]);
        for (qsizetype i = 0; i < n; i += 3) {
            const auto at = [&](qsizetype k) { return k < n ? uchar(data[pos + k]) : 0u; };
            const unsigned v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
            for (int s = 18; s >= 0; s -= 6)
                line.append(alphabet[(v >> s) & 63]);
        }
        out.append(line);
    }
    return out;
}

void uuRoundTrip(uint8_t flags, uint8_t cut, const QByteArray &data)
{
    static const char uuGrave[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    static const char uuSpace[] = " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    static const char xx[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const char *alphabet = (flags & 3) == 0 ? uuGrave : (flags & 3) == 1 ? uuSpace : xx;

    Lines pre;
    if (flags & 4)
        pre += {"hi all, here is one", "my friend sent this", ""};
    const Lines encoded = encode(data, alphabet);
    Lines tail{QByteArray(1, alphabet[0]), "end"};
    if (flags & 8)
        tail += {"", "The end", "begin 644 other.bin", QByteArray(1, alphabet[3]) + "abc", "end"};

    Lines body = pre;
    body.append("begin 644 f.bin");
    body += encoded;
    body += tail;
    QByteArray stream, name;
    const int r = DecodeAttachment(body, stream, name);
    if (data.size() < 45) { // no full line to tell the alphabet
        check(r == DecodeNothing, "short file");
        return;
    }
    check(r == DecodeComplete && stream == data && name == "f.bin", "uu round trip");
    QByteArray again;
    check(DecodeAttachment(body, again, name) == DecodeComplete && again == data, "uu edited list");

    // Two articles: the first stops after k data lines.
    const qsizetype k = 1 + cut % encoded.size();
    Lines first = pre;
    first.append("begin 644 f.bin");
    first += encoded.mid(0, k);
    Lines second{"", "_=_ Part 002 of 002 of file f.bin", ""};
    second += encoded.mid(k);
    second += tail;
    const int r1 = DecodeAttachment(first, stream, name);
    check(r1 == DecodePartial && stream == data.left(stream.size()), "first article");
    Lines own = second;
    check(DecodeAttachment(own, again, name) == DecodeNothing, "continuation alone");
    Lines joined = first + second;
    check(DecodeAttachment(joined, stream, name) == DecodeComplete && stream == data, "joined");
}

void mimeRoundTrip(uint8_t flags, const QByteArray &data)
{
    Lines body;
    if (flags & 1)
        body += {"--==b==", "Content-Type: text/plain", "", "see the picture", ""};
    body.append("--==b==");
    if (flags & 2) {
        body += {"Content-Type: image/jpeg;", "\tname=\"p.jpg\""};
    } else {
        body += {"Content-Type: image/jpeg", "Content-Disposition: attachment; filename=\"p.jpg\""};
    }
    if (flags & 4)
        body += {"MIME-Version: 1.0", "X-Attachment-Id: f_p"};
    body += {"Content-Transfer-Encoding: base64", ""};
    const QByteArray text = data.toBase64();
    for (qsizetype pos = 0; pos < text.size(); pos += 76)
        body.append(text.mid(pos, 76));
    const bool closed = flags & 8;
    if (closed)
        body += {"", "--==b==--"};

    QByteArray stream, name;
    const int r = DecodeAttachment(body, stream, name);
    if (data.isEmpty()) {
        check(r == DecodeNothing, "empty part");
        return;
    }
    const bool pad = text.endsWith('=');
    check(r == (closed || pad ? DecodeComplete : DecodePartial), "mime result");
    check(stream == data && name == "p.jpg", "mime round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 3)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(bytes) + 3, qsizetype(size - 3));
    switch (bytes[0] % 4) {
    case 0:
    case 1:
        arbitrary(QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size)));
        break;
    case 2:
        uuRoundTrip(bytes[1], bytes[2], rest);
        break;
    default:
        mimeRoundTrip(bytes[1], rest);
        break;
    }
    return 0;
}
