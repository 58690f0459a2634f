#pragma once
#include <QByteArray>

// The names pictures are saved under, from what an article says: untrusted
// input made safe for the output folder and the file system's length.
class TFileNames {
public:
    // A decoder's name cut to its last path component and to the file
    // system's length; else the subject without the characters file names
    // refuse; else "noname". Control and format characters and bytes
    // that are not UTF-8 become "_" (SafeText::ForFileName), and a leading
    // "." or "-" gets "_" in front.
    static QByteArray ForFile(const QByteArray &decoderName, const QByteArray &subject);
    // base with "-k" before its extension (a.b.c -> a.b-1.c), kept within
    // the file system's name length.
    static QByteArray Numbered(const QByteArray &base, qint64 k);
    // The longest file name the file system takes, in bytes.
    static constexpr qsizetype MaxNameBytes = 255;
};
