#include "TFileNames.h"

#include "SafeText.h"

#include <algorithm>

namespace {

// Never cut inside a UTF-8 sequence, so a shortened name stays readable.
qsizetype utf8Cut(const QByteArray &s, qsizetype n)
{
    if (n >= s.size())
        return s.size();
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// stem + middle + ext, with the stem shortened so the whole fits the file
// system's name length; the extension is kept unless it alone is too long.
QByteArray fitName(const QByteArray &stem, const QByteArray &middle, const QByteArray &ext)
{
    const qsizetype max = TFileNames::MaxNameBytes;
    const qsizetype room = max - middle.size() - ext.size();
    if (room >= 0)
        return stem.left(utf8Cut(stem, room)) + middle + ext;
    const QByteArray all = stem + middle + ext;
    return all.left(utf8Cut(all, max));
}

void splitExtension(const QByteArray &fileName, QByteArray *stem, QByteArray *ext)
{
    const qsizetype dot = fileName.lastIndexOf('.');
    *stem = dot < 0 ? fileName : fileName.left(dot);
    *ext = dot < 0 ? QByteArray() : fileName.mid(dot);
}

bool unusable(const QByteArray &name) { return name.isEmpty() || name == "." || name == ".."; }

} // namespace

QByteArray TFileNames::ForFile(const QByteArray &decoderName, const QByteArray &subject)
{
    // Names from articles are untrusted: only the last path component is
    // kept, so no name can reach outside the output folder. Control
    // characters (a NUL would cut the path short), bidi and other format
    // characters (U+202E turns "gpj.exe" into "exe.jpg" on screen) and bytes
    // that are not UTF-8 become "_", and a leading "." or "-" gets one in
    // front, so no name is hidden, disguised or taken for an option.
    QByteArray name = decoderName;
    const qsizetype sep = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
    if (sep >= 0)
        name = name.mid(sep + 1);
    if (unusable(name)) {
        name.clear();
        for (char c : subject) {
            if (!QByteArray::fromRawData("\\/:*?\"<>|", 9).contains(c))
                name.append(c);
        }
        if (unusable(name))
            name = "noname";
    }
    name = SafeText::ForFileName(name);
    if (name.startsWith('.') || name.startsWith('-'))
        name.prepend('_');
    if (name.size() > MaxNameBytes) {
        QByteArray stem, ext;
        splitExtension(name, &stem, &ext);
        name = fitName(stem, QByteArray(), ext);
    }
    return name;
}

QByteArray TFileNames::Numbered(const QByteArray &base, qint64 k)
{
    // The folder part of a name is always empty here: ForFile keeps only
    // the last path component.
    QByteArray stem, ext;
    splitExtension(base, &stem, &ext);
    return fitName(stem, '-' + QByteArray::number(k), ext);
}
