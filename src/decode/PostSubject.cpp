#include "PostSubject.h"

#include <QFile>
#include <QList>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlnum(char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Digits from i on; at most 6, so no number overflows.
qsizetype digitsAt(const QByteArray &s, qsizetype i)
{
    qsizetype n = 0;
    while (i + n < s.size() && isDigit(s.at(i + n)))
        ++n;
    return n <= 6 ? n : 0;
}

qsizetype blanksAt(const QByteArray &s, qsizetype i)
{
    qsizetype n = 0;
    while (i + n < s.size() && isBlank(s.at(i + n)))
        ++n;
    return n;
}

struct Found {
    qsizetype partBegin = -1, partEnd = -1;
    int part = 0, total = 0;
};

// "(k/n)" or "[k/n]" with the opening bracket at i, blanks allowed inside.
bool bracketAt(const QByteArray &s, qsizetype i, Found &f)
{
    const char close = s.at(i) == '(' ? ')' : s.at(i) == '[' ? ']' : 0;
    if (!close)
        return false;
    qsizetype p = i + 1 + blanksAt(s, i + 1);
    const qsizetype kn = digitsAt(s, p);
    if (kn == 0)
        return false;
    const qsizetype kBegin = p;
    p += kn;
    p += blanksAt(s, p);
    if (p >= s.size() || s.at(p) != '/')
        return false;
    ++p;
    p += blanksAt(s, p);
    const qsizetype nn = digitsAt(s, p);
    if (nn == 0)
        return false;
    const qsizetype nBegin = p;
    p += nn;
    p += blanksAt(s, p);
    if (p >= s.size() || s.at(p) != close)
        return false;
    f = {kBegin, kBegin + kn, s.mid(kBegin, kn).toInt(), s.mid(nBegin, nn).toInt()};
    return true;
}

// "k of n" with the first digit at i, as whole words.
bool ofAt(const QByteArray &s, qsizetype i, Found &f)
{
    if (i > 0 && isAlnum(s.at(i - 1)))
        return false;
    const qsizetype kn = digitsAt(s, i);
    if (kn == 0)
        return false;
    qsizetype p = i + kn;
    const qsizetype b1 = blanksAt(s, p);
    if (b1 == 0 || p + b1 + 2 > s.size() || s.mid(p + b1, 2).toLower() != "of")
        return false;
    p += b1 + 2;
    const qsizetype b2 = blanksAt(s, p);
    if (b2 == 0)
        return false;
    p += b2;
    const qsizetype nn = digitsAt(s, p);
    if (nn == 0 || (p + nn < s.size() && isAlnum(s.at(p + nn))))
        return false;
    f = {i, i + kn, s.mid(i, kn).toInt(), s.mid(p, nn).toInt()};
    return true;
}

bool pictureExtension(const QByteArray &ext)
{
    static const QList<QByteArray> known{"jpg", "jpeg", "jpe", "png", "gif", "bmp", "tif", "tiff", "webp", "heic", "avif"};
    return known.contains(ext.toLower());
}

// name.ext with an extension of 2 to 4 letters or digits, one a letter.
bool looksLikeFileName(const QByteArray &word, QByteArray *ext = nullptr)
{
    const qsizetype dot = word.lastIndexOf('.');
    if (dot <= 0 || word.size() - dot - 1 < 2 || word.size() - dot - 1 > 4)
        return false;
    bool letter = false;
    for (qsizetype i = dot + 1; i < word.size(); ++i) {
        const char c = word.at(i);
        if (!isAlnum(c))
            return false;
        letter = letter || !isDigit(c);
    }
    if (ext)
        *ext = word.mid(dot + 1);
    return letter;
}

QByteArray trimmedWord(QByteArray w)
{
    static const QByteArray lead = "([{<'\"";
    static const QByteArray trail = ")]}>,;:'\"!?";
    while (!w.isEmpty() && lead.contains(w.front()))
        w.remove(0, 1);
    while (!w.isEmpty() && trail.contains(w.back()))
        w.chop(1);
    return w;
}

} // namespace

PartMarker ParsePartMarker(const QByteArray &subject)
{
    Found last;
    for (qsizetype i = 0; i < subject.size(); ++i) {
        Found f;
        if (bracketAt(subject, i, f) || ofAt(subject, i, f)) {
            if (f.part >= 1 && f.part <= f.total)
                last = f;
        }
    }
    PartMarker m;
    if (last.partBegin < 0)
        return m;
    m.Part = last.part;
    m.Total = last.total;
    m.Post = subject.left(last.partBegin) + '#' + subject.mid(last.partEnd);
    return m;
}

QByteArray AnnouncedName(const QByteArray &subject)
{
    // Quoted text first, as yEnc-era posters write "name.jpg".
    QByteArray quoted;
    for (qsizetype open = subject.indexOf('"'); open >= 0;) {
        const qsizetype close = subject.indexOf('"', open + 1);
        if (close < 0)
            break;
        const QByteArray inner = subject.mid(open + 1, close - open - 1);
        if (looksLikeFileName(inner.trimmed()))
            return inner.trimmed();
        if (quoted.isEmpty() && UsableName(inner))
            quoted = inner.trimmed();
        open = subject.indexOf('"', close + 1);
    }
    QByteArray any;
    for (const QByteArray &raw : subject.simplified().split(' ')) {
        const QByteArray word = trimmedWord(raw);
        QByteArray ext;
        if (!looksLikeFileName(word, &ext))
            continue;
        if (pictureExtension(ext))
            return word;
        if (any.isEmpty())
            any = word;
    }
    return any.isEmpty() ? quoted : any;
}

bool UsableName(const QByteArray &name)
{
    if (name.trimmed().isEmpty())
        return false;
    return QFile::encodeName(QFile::decodeName(name)) == name;
}

QByteArray Base64FileName(const QByteArray &decoderName, const QByteArray &subject)
{
    if (UsableName(decoderName))
        return decoderName;
    const QByteArray announced = AnnouncedName(subject);
    return UsableName(announced) ? announced : QByteArray();
}

bool IsWholePicture(const QByteArray &data)
{
    if (data.startsWith("\xFF\xD8\xFF"))
        return data.endsWith("\xFF\xD9");
    if (data.startsWith("\x89PNG\r\n\x1A\n"))
        return data.endsWith(QByteArrayLiteral("IEND\xAE\x42\x60\x82"));
    return false;
}
