#include "YEnc.h"
#include "SafeText.h"

#include "YEncKernel.h"
#include "ZqChecksumCRC32.h"

#include <vector>

namespace {

constexpr qint64 MaxNumber = 999999999999999999ll; // 18 digits, far inside 63 bits

bool parseDecimal(const QByteArray &s, qint64 &out)
{
    if (s.isEmpty() || s.size() > 18)
        return false;
    qint64 v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return v <= MaxNumber;
}

// Up to 16 hex digits; the low 32 bits are the CRC.
bool parseCrc(const QByteArray &s, std::uint32_t &out)
{
    if (s.isEmpty() || s.size() > 16)
        return false;
    std::uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v << 4 | std::uint64_t(d);
    }
    out = std::uint32_t(v);
    return true;
}

// Calls field(key, value) for each key=value of the line after its keyword;
// "name" takes the rest of the line. Returns false on a field without "=".
template <typename F> bool forFields(const QByteArray &line, qsizetype from, F field)
{
    const qsizetype n = line.size();
    qsizetype p = from;
    while (p < n) {
        while (p < n && (line[p] == ' ' || line[p] == '\t'))
            ++p;
        if (p >= n)
            break;
        const qsizetype eq = line.indexOf('=', p);
        if (eq < 0)
            return false;
        const QByteArray key = line.mid(p, eq - p);
        if (key.contains(' '))
            return false;
        if (key == "name") {
            field(key, line.mid(eq + 1).trimmed());
            return true;
        }
        qsizetype e = eq + 1;
        while (e < n && line[e] != ' ' && line[e] != '\t')
            ++e;
        if (!field(key, line.mid(eq + 1, e - eq - 1)))
            return false;
        p = e;
    }
    return true;
}

bool isKeywordLine(const QByteArray &line, const char *keyword, qsizetype len)
{
    return line.startsWith(keyword) && (line.size() == len || line[len] == ' ' || line[len] == '\t');
}

std::uint32_t zipCrc(const QByteArray &data)
{
    return ~Crc32Update(0, data.constData(), std::size_t(data.size()));
}

} // namespace

QByteArray Hex8(std::uint32_t v)
{
    return QByteArray::number(v, 16).toUpper().rightJustified(8, '0');
}

YEncHeader ParseYBegin(const QByteArray &line)
{
    YEncHeader h;
    const bool ok = forFields(line, 8, [&](const QByteArray &k, const QByteArray &v) {
        if (k == "name") {
            h.Name = v;
            return true;
        }
        qint64 *target = k == "line" ? &h.Line : k == "size" ? &h.Size : k == "part" ? &h.Part
                                                : k == "total" ? &h.Total : nullptr;
        return !target || parseDecimal(v, *target);
    });
    h.Malformed = !ok || h.Size < 0;
    return h;
}

YEncPartLine ParseYPart(const QByteArray &line)
{
    YEncPartLine p;
    const bool ok = forFields(line, 7, [&](const QByteArray &k, const QByteArray &v) {
        qint64 *target = k == "begin" ? &p.Begin : k == "end" ? &p.End : nullptr;
        return !target || parseDecimal(v, *target);
    });
    p.Malformed = !ok || p.Begin < 0 || p.End < 0;
    return p;
}

YEncTrailer ParseYEnd(const QByteArray &line)
{
    YEncTrailer t;
    const bool ok = forFields(line, 5, [&](const QByteArray &k, const QByteArray &v) {
        if (k == "size")
            return parseDecimal(v, t.Size);
        if (k == "part")
            return parseDecimal(v, t.Part);
        if (k == "pcrc32")
            return t.HasPcrc = parseCrc(v, t.Pcrc32);
        if (k == "crc32")
            return t.HasCrc = parseCrc(v, t.Crc32);
        return true;
    });
    t.Malformed = !ok;
    return t;
}

bool IsYEncBody(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines)
        if (line.startsWith("=ybegin "))
            return true;
    return false;
}

QByteArray PrintableName(const QByteArray &name) { return SafeText::ShownUtf8(name); }

QByteArray YEncWhat(const YEncResult &r)
{
    const QByteArray quoted = "'" + PrintableName(r.Name) + "'";
    if (r.PartNumber == 0)
        return "File " + quoted;
    QByteArray s = "Part " + QByteArray::number(r.PartNumber);
    if (r.Total > 0)
        s += " of " + QByteArray::number(r.Total);
    return s + " of " + quoted;
}

QByteArray YEncNameProblem(const QByteArray &name)
{
    if (name.isEmpty())
        return "has no name";
    if (name == "." || name == ".." || name.startsWith("../") || name.contains("/..") || name.contains("\\.."))
        return "has a name that points outside the output folder";
    if (name.contains('/') || name.contains('\\'))
        return "has a name with a path separator";
    for (char c : name)
        if (uchar(c) < 0x20 || uchar(c) == 0x7F)
            return "has a name with a control character";
    return {};
}

YEncResult DecodeYEnc(const QList<QByteArray> &lines)
{
    YEncResult r;
    const qsizetype count = lines.size();
    qsizetype i = 0;
    while (i < count && !lines.at(i).startsWith("=ybegin "))
        ++i;
    if (i == count) {
        r.Error = "There was no =ybegin line.";
        return r;
    }
    const YEncHeader h = ParseYBegin(lines.at(i));
    r.Name = h.Name;
    r.FileSize = h.Size;
    r.PartNumber = h.Part > 0 ? h.Part : 0;
    r.Total = h.Total > 0 ? h.Total : 0;
    const auto damaged = [&](const QByteArray &why) {
        r.State = YEncResult::Damaged;
        r.Error = YEncWhat(r) + ' ' + why;
        return r;
    };
    if (h.Malformed)
        return damaged("has a malformed =ybegin line.");
    if (const QByteArray problem = YEncNameProblem(h.Name); !problem.isEmpty())
        return damaged(problem + '.');
    if (h.Size > YEncMaxSize)
        return damaged("claims " + QByteArray::number(h.Size) + " bytes, more than 4 GB.");
    ++i;

    const bool multi = i < count && isKeywordLine(lines.at(i), "=ypart", 6);
    if (multi) {
        const YEncPartLine p = ParseYPart(lines.at(i));
        ++i;
        if (p.Malformed)
            return damaged("has a malformed =ypart line.");
        if (h.Part < 1)
            return damaged("has a =ypart line but no part number.");
        if (h.Total == 0 || h.Total > YEncMaxParts)
            return damaged("claims " + QByteArray::number(h.Total) + " parts.");
        if (h.Total > 0 && h.Part > h.Total)
            return damaged("is numbered beyond its total.");
        // uuenview ends a file whose size its part size divides with such a part.
        if (p.Begin >= 1 && p.End == p.Begin - 1)
            return damaged("holds no bytes.");
        if (p.Begin < 1 || p.End < p.Begin)
            return damaged("has the range " + QByteArray::number(p.Begin) + " to " + QByteArray::number(p.End)
                           + ", which is empty.");
        if (p.End > h.Size)
            return damaged("reaches to byte " + QByteArray::number(p.End) + " of a file of "
                           + QByteArray::number(h.Size) + " bytes.");
        r.Begin = p.Begin;
        r.End = p.End;
    } else {
        if (h.Part > 1 || h.Total > 1)
            return damaged("has no =ypart line.");
        r.PartNumber = 0;
        r.Begin = 1;
        r.End = h.Size;
    }

    // One walk over the lines finds the trailer and the runs of lines that
    // still lie side by side in the client's received block (each followed
    // by the zero that replaced its CR, and its LF): a run goes through the
    // kernel in one call.
    struct Span {
        const char *begin;
        const char *end;
        bool joined;
    };
    std::vector<Span> spans;
    qsizetype encoded = 0;
    qsizetype last = i;
    for (; last < count; ++last) {
        const QByteArray &line = lines.at(last);
        const char *begin = line.constData();
        const qsizetype n = line.size();
        if (n >= 5 && begin[0] == '=' && begin[1] == 'y' && isKeywordLine(line, "=yend", 5))
            break;
        encoded += n;
        if (!spans.empty() && spans.back().end + 2 == begin && spans.back().end[0] == '\0'
            && spans.back().end[1] == '\n') {
            spans.back().end = begin + n;
            spans.back().joined = true;
        } else {
            spans.push_back(Span{begin, begin + n, false});
        }
    }
    // The output is sized by the data at hand, never by the header's claims.
    r.Data.resize(encoded + qsizetype(YEncKernelSlack));
    auto *out = reinterpret_cast<unsigned char *>(r.Data.data());
    const auto bytes = [](const char *p) { return reinterpret_cast<const unsigned char *>(p); };
    std::size_t written = 0;
    bool joined = false;
    for (const Span &sp : spans) {
        bool escaped = false; // an escape never runs over a line end
        if (sp.joined) {
            written += YEncDecodeJoined(bytes(sp.begin), std::size_t(sp.end - sp.begin), out + written);
            joined = true;
        } else {
            written += YEncDecodeKernel(bytes(sp.begin), std::size_t(sp.end - sp.begin), out + written, escaped);
        }
    }
    // A zero inside a line would have been dropped with the line ends: a
    // size that does not fit is checked again by the exact rules.
    if (joined && qint64(written) != r.End - r.Begin + 1) {
        written = 0;
        for (qsizetype k = i; k < last; ++k) {
            const QByteArray &line = lines.at(k);
            bool escaped = false;
            written += YEncDecodeKernel(bytes(line.constData()), std::size_t(line.size()), out + written, escaped);
        }
    }
    r.Data.resize(qsizetype(written));

    if (last == count)
        return damaged("has no =yend line.");
    const YEncTrailer t = ParseYEnd(lines.at(last));
    if (t.Malformed)
        return damaged("has a malformed =yend line.");
    const qint64 expected = r.End - r.Begin + 1;
    const qint64 got = r.Data.size();
    if (got != expected || (t.Size >= 0 && t.Size != got)) {
        const qint64 claimed = got != expected ? expected : t.Size;
        return damaged("failed its size check: " + QByteArray::number(got) + " bytes instead of "
                       + QByteArray::number(claimed));
    }
    if (multi && t.Part >= 0 && t.Part != h.Part)
        return damaged("ends as part " + QByteArray::number(t.Part) + '.');

    r.Crc = zipCrc(r.Data);
    const auto crcFailed = [&](std::uint32_t claimed) {
        return damaged("failed its CRC-32 check: " + Hex8(r.Crc) + " instead of " + Hex8(claimed));
    };
    if (t.HasPcrc && t.Pcrc32 != r.Crc)
        return crcFailed(t.Pcrc32);
    r.HasFileCrc = t.HasCrc;
    r.FileCrc = t.Crc32;
    // A part that holds the whole file is the whole file.
    const bool whole = r.Begin == 1 && r.End == h.Size;
    if (whole && t.HasCrc && t.Crc32 != r.Crc)
        return crcFailed(t.Crc32);
    r.State = whole ? YEncResult::Whole : YEncResult::Part;
    return r;
}
