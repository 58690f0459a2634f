#include "Decode.h"

#include "YEnc.h"
#include "ZqMessageBox.h"

// The decoder edits the caller's list in one forward pass: kept lines are
// moved down over removed ones, so a body of many megabytes costs one walk
// and no quadratic removals. Indices kept here always refer to the edited
// list, as the joining of multi-article files re-decodes that list.

namespace {

constexpr unsigned char NotInAlphabet = 254;

const QByteArray &uuAlphabet()
{
    static const QByteArray a = [] {
        QByteArray s(1, '`');
        for (char c = 0x21; c <= 0x5F; ++c)
            s.append(c);
        return s;
    }();
    return a;
}

const QByteArray &xxAlphabet()
{
    static const QByteArray a("+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return a;
}

// Length of a line that carries n bytes: the count character plus four
// characters for every started group of three bytes.
constexpr int expectedLength(int n)
{
    return 1 + 4 * ((n + 2) / 3);
}

// Base64 character classes: 0..63 values, Pad for "=", Skip for the rest.
constexpr unsigned char B64Pad = 64;
constexpr unsigned char B64Skip = 0xFF;

struct Base64Table {
    unsigned char v[256];
    constexpr Base64Table() : v()
    {
        for (int i = 0; i < 256; ++i)
            v[i] = B64Skip;
        for (int i = 0; i < 26; ++i) {
            v['A' + i] = static_cast<unsigned char>(i);
            v['a' + i] = static_cast<unsigned char>(26 + i);
        }
        for (int i = 0; i < 10; ++i)
            v['0' + i] = static_cast<unsigned char>(52 + i);
        v[static_cast<unsigned char>('+')] = 62;
        v[static_cast<unsigned char>('/')] = 63;
        v[static_cast<unsigned char>('=')] = B64Pad;
    }
};
constexpr Base64Table base64Table;

// Base64 carries no "-", so a line that begins with two dashes, or holds
// three anywhere, is a MIME boundary.
inline bool isBoundary(const QByteArray &line)
{
    return line.startsWith("--") || line.contains("---");
}

// Header lines that may follow the "name=" line before the data: other
// header fields (they hold a colon) and folded continuations.
inline bool isHeaderLike(const QByteArray &line)
{
    return line.contains("Content-") || line.contains(':') || line.front() == ' '
        || line.front() == '\t';
}

} // namespace

bool BuildReverseMap(const QByteArray &alphabet, unsigned char (&map)[256])
{
    for (auto &e : map)
        e = NotInAlphabet;
    for (qsizetype i = 0; i < alphabet.size(); ++i) {
        auto &e = map[static_cast<unsigned char>(alphabet[i])];
        if (e != NotInAlphabet) {
            ZqMessageBox(QStringLiteral("UUDecode: Character already defined in the table"),
                         QStringLiteral("DecodeUUE Error"), MsgIcon::Error, MsgButtons::Ok);
            return false;
        }
        e = static_cast<unsigned char>(i);
    }
    return true;
}

BodyEncoding EncodingOf(const QList<QByteArray> &lines)
{
    // "=ybegin " holds "begin ": yEnc is told apart first.
    if (IsYEncBody(lines))
        return BodyEncoding::YEnc;
    qsizetype fullLines = 0;
    for (const QByteArray &line : lines) {
        if (line.contains("begin "))
            return BodyEncoding::Uue;
        if (line.startsWith("Content-") && line.contains("base64"))
            return BodyEncoding::MimeBase64;
        if (line.size() == 72)
            ++fullLines;
    }
    // Bare Base64: at least 80 per cent, and more than 50, of the lines are
    // exactly 72 characters long; or every line is a Base64 line of one
    // length, as encoders write them at 64, 72 or 76 characters.
    if (fullLines > 50 && fullLines >= lines.size() * 80 / 100)
        return BodyEncoding::BareBase64;
    if (IsBase64Lines(lines, Base64MinLines))
        return BodyEncoding::BareBase64;
    return BodyEncoding::None;
}

bool IsBase64Lines(const QList<QByteArray> &lines, qsizetype minLines)
{
    qsizetype data = 0;
    qsizetype width = -1;   // the common length of the lines before the last
    qsizetype lastSize = 0; // the length of the latest data line
    bool padded = false;    // a line ended with "=": nothing may follow
    bool closed = false;    // a boundary was seen: only boundaries may follow
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        if (line.startsWith("--")) {
            closed = true;
            continue;
        }
        if (closed || padded)
            return false;
        qsizetype pads = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(line.at(i));
            if (c == '=') {
                ++pads;
            } else if (pads > 0 || base64Table.v[c] >= 64) {
                return false;
            }
        }
        if (pads > 2)
            return false;
        padded = pads > 0;
        if (data > 0) {
            // The line before this one was not the last: it sets the width.
            if (width < 0) {
                if (lastSize < 60 || lastSize > 76 || lastSize % 4 != 0)
                    return false;
                width = lastSize;
            } else if (lastSize != width) {
                return false;
            }
            if (line.size() > width)
                return false;
        }
        lastSize = line.size();
        ++data;
    }
    return data >= minLines && (data > 1 || lastSize <= 76);
}

int DecodeAttachment(QList<QByteArray> &lines, QByteArray &stream, QByteArray &fileName)
{
    fileName.clear();
    switch (EncodingOf(lines)) {
    case BodyEncoding::YEnc: {
        // A part or an unchecked file is partial (what the preview of a
        // growing body needs).
        YEncResult y = DecodeYEnc(lines);
        if (y.Data.isEmpty())
            return DecodeNothing;
        stream = std::move(y.Data);
        fileName = y.Name;
        return y.State == YEncResult::Whole ? DecodeComplete : DecodePartial;
    }
    case BodyEncoding::Uue:
        return DecodeUUE(lines, stream, fileName);
    case BodyEncoding::MimeBase64:
        return DecodeBase64(lines, stream, fileName);
    case BodyEncoding::BareBase64:
        // A header with an empty name lets the MIME worker take it.
        lines.prepend(QByteArrayLiteral("Content-Type: unknown; name=\"\""));
        return DecodeBase64(lines, stream, fileName);
    case BodyEncoding::None:
        break;
    }
    return DecodeNothing;
}

int DecodeUUE(QList<QByteArray> &lines, QByteArray &stream, QByteArray &fileName)
{
    stream.truncate(0);
    const qsizetype count = lines.size();

    qsizetype firstBegin = -1;
    for (qsizetype i = 0; i < count; ++i) {
        if (lines.at(i).contains("begin ")) {
            firstBegin = i;
            break;
        }
    }
    if (firstBegin >= 0)
        fileName = lines.at(firstBegin).mid(10);

    // Only lines after the "begin " line choose the alphabet: a greeting
    // above the data must not pick xxencode.
    QByteArray alphabet;
    if (firstBegin >= 0) {
        for (qsizetype i = firstBegin + 1; i < count; ++i) {
            const QByteArray &line = lines.at(i);
            if (line.isEmpty())
                continue;
            if (line.front() == 'M') {
                alphabet = uuAlphabet();
                break;
            }
            if (line.front() == 'h') {
                alphabet = xxAlphabet();
                break;
            }
        }
    }

    unsigned char map[256];
    if (!BuildReverseMap(alphabet, map))
        return DecodeNothing;
    int lineLength[256];
    for (int c = 0; c < 256; ++c)
        lineLength[c] = expectedLength(map[c]);
    const auto isData = [&](const QByteArray &line) {
        return !line.isEmpty() && line.size() == lineLength[static_cast<unsigned char>(line.front())];
    };

    bool begun = false;
    bool ended = false;
    qsizetype start = 0;
    qsizetype end = -1;
    qsizetype dataLines = 0;
    lines.detach(); // references into the list stay valid while it is edited
    qsizetype w = 0;
    const auto keep = [&](qsizetype r) {
        if (w != r)
            lines[w] = std::move(lines[r]);
        ++w;
    };

    for (qsizetype r = 0; r < count; ++r) {
        const QByteArray &line = lines.at(r);
        if (!begun) {
            if (line.contains("begin ")) {
                begun = true;
                start = w + 1;
                keep(r);
            } else if (line.contains("end")) {
                keep(r); // kept, but "end" ahead of the data ends nothing
            }
        } else if (!ended) {
            // A line that fits the alphabet is data, even if its characters
            // happen to spell "end" (xxencode has lower-case letters).
            if (isData(line)) {
                if (line.contains(' '))
                    lines[r].replace(' ', '`');
                keep(r);
                ++dataLines;
            } else if (line.contains("begin ")) {
                start = w + 1;
                keep(r);
            } else if (line.contains("end")) {
                // Only a line that begins with "end" closes the data: uuenview
                // names the file in each part's header ("... of file weekend.jpg").
                if (line.startsWith("end")) {
                    end = w - 1;
                    ended = true;
                }
                keep(r);
            }
        } else if (line.contains("begin ") || line.contains("end")) {
            keep(r); // a second file stays in the list but is not decoded
        }
    }
    lines.erase(lines.begin() + w, lines.end());

    if (!ended)
        end = w - 1;
    if (dataLines == 0)
        return DecodeNothing;

    qsizetype total = 0;
    for (qsizetype i = start; i <= end; ++i) {
        const QByteArray &line = lines.at(i);
        if (isData(line) && map[static_cast<unsigned char>(line.front())] <= 63)
            total += map[static_cast<unsigned char>(line.front())];
    }
    if (total > 0) {
        // Whole groups are written, so allow two bytes past the last count.
        stream.resize(total + 2);
        auto *out = reinterpret_cast<unsigned char *>(stream.data());
        for (qsizetype i = start; i <= end; ++i) {
            const QByteArray &line = lines.at(i);
            if (!isData(line))
                continue;
            const int n = map[static_cast<unsigned char>(line.front())];
            // A count character outside the alphabet would claim 254 bytes;
            // no real line holds more than 63, so such a line adds nothing.
            if (n > 63)
                continue;
            const auto *p = reinterpret_cast<const unsigned char *>(line.constData()) + 1;
            const auto *e = p + (line.size() - 1);
            unsigned char *o = out;
            for (; p < e; p += 4, o += 3) {
                const unsigned a = map[p[0]], b = map[p[1]], c = map[p[2]], d = map[p[3]];
                o[0] = static_cast<unsigned char>(a * 4 + b / 16);
                o[1] = static_cast<unsigned char>(b * 16 + c / 4);
                o[2] = static_cast<unsigned char>(c * 64 + d);
            }
            out += n;
        }
        stream.resize(out - reinterpret_cast<unsigned char *>(stream.data()));
    }
    return ended ? DecodeComplete : DecodePartial;
}

int DecodeBase64(QList<QByteArray> &lines, QByteArray &stream, QByteArray &fileName)
{
    stream.truncate(0);
    const qsizetype count = lines.size();

    for (const QByteArray &line : std::as_const(lines)) {
        const qsizetype p = line.indexOf("name=\"");
        if (p >= 0) {
            const qsizetype from = p + 6;
            fileName = from < line.size() - 1 ? line.mid(from, line.size() - 1 - from) : QByteArray();
            break;
        }
    }

    bool found = false;
    bool ended = false;
    qsizetype start = 0;
    qsizetype end = -1;
    qsizetype dataLines = 0;
    lines.detach();
    qsizetype w = 0;
    qsizetype r = 0;
    const auto keep = [&] {
        if (w != r)
            lines[w] = std::move(lines[r]);
        ++w;
        ++r;
    };
    const auto drop = [&] { ++r; };

    // The list's last line is left alone by the pass (it is only ever tested
    // as a boundary below), unless the search for the first data line
    // reaches it.
    while (r < count - 1) {
        if (!found && !ended) {
            if (lines.at(r).contains("name=")) {
                while (!found && !ended && r < count) {
                    const QByteArray &line = lines.at(r);
                    if (line.isEmpty() || isHeaderLike(line)) {
                        drop();
                    } else if (isBoundary(line)) {
                        drop(); // the part ends before any data
                        ended = true;
                    } else {
                        start = w;
                        keep();
                        found = true;
                        dataLines = 1;
                    }
                }
            } else {
                drop();
            }
        }
        if (ended) {
            if (r < count - 1)
                drop();
        } else if (found && r < count) {
            const QByteArray &line = lines.at(r);
            if (isBoundary(line)) {
                end = w - 1;
                ended = true;
                drop();
            } else if (line.isEmpty()) {
                drop();
            } else {
                keep();
                ++dataLines;
            }
        }
    }
    if (r < count) {
        // A closing boundary on the last line ends the data like any other.
        if (found && !ended && isBoundary(lines.at(r))) {
            end = w - 1;
            ended = true;
            drop();
        } else {
            keep();
        }
    }
    lines.erase(lines.begin() + w, lines.end());

    if (!ended)
        end = w - 1;
    if (dataLines == 0)
        return DecodeNothing;

    qsizetype chars = 0;
    for (qsizetype i = start; i <= end; ++i)
        chars += lines.at(i).size();
    stream.resize(chars / 4 * 3 + 3);
    auto *const out0 = reinterpret_cast<unsigned char *>(stream.data());
    unsigned char *o = out0;
    const unsigned char *t = base64Table.v;
    quint32 acc = 0;
    int bits = 0;
    bool pad = false;
    for (qsizetype i = start; i <= end; ++i) {
        const QByteArray &line = lines.at(i);
        const auto *p = reinterpret_cast<const unsigned char *>(line.constData());
        const auto *e = p + line.size();
        while (p < e) {
            if (bits == 0) {
                // Aligned: whole groups of four valid characters at a time.
                while (e - p >= 4) {
                    const unsigned a = t[p[0]], b = t[p[1]], c = t[p[2]], d = t[p[3]];
                    if ((a | b | c | d) & 0xC0)
                        break;
                    const quint32 v = (a << 18) | (b << 12) | (c << 6) | d;
                    o[0] = static_cast<unsigned char>(v >> 16);
                    o[1] = static_cast<unsigned char>(v >> 8);
                    o[2] = static_cast<unsigned char>(v);
                    o += 3;
                    p += 4;
                }
                if (p == e)
                    break;
            }
            const unsigned v = t[*p++];
            if (v < 64) {
                acc = (acc << 6) | v;
                bits += 6;
                if (bits >= 8) {
                    bits -= 8;
                    *o++ = static_cast<unsigned char>(acc >> bits);
                }
            } else if (v == B64Pad) {
                pad = true;
            }
        }
    }
    stream.resize(o - out0);
    return ended || pad ? DecodeComplete : DecodePartial;
}
