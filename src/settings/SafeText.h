#pragma once
#include <QByteArray>
#include <QString>

// Text from outside (a server's replies and group list, subjects, names in
// articles) made safe to show on a terminal, in the log, on a label or as a
// file name. Unsafe are the C0 controls, DEL, the C1 controls, format
// characters (bidi embeddings, overrides and isolates, U+061C, U+FEFF and
// the rest of Unicode's Cf, except the joiners U+200C and U+200D that
// Persian, Indic scripts and emoji need), line and paragraph separators and
// lone surrogates: each could move the cursor, clear a screen, set a
// terminal's title, break a line or show a name other than it is.
//
// Bytes are read as UTF-8, strictly (no overlong forms, no surrogates);
// every byte that is not part of a well-formed sequence counts as one
// character that is not UTF-8.
class SafeText {
public:
    // For people: a C0 control or DEL as its control picture (ESC as U+241B
    // "␛", CR as U+240D "␍"), so one can see what came; any other unsafe
    // character and each byte that is not UTF-8 as U+FFFD "�". All else,
    // letters of any script among it, passes unchanged.
    static QString Shown(const QByteArray &utf8);
    static QString Shown(const QString &text);
    // The same, as UTF-8 bytes for a log line.
    static QByteArray ShownUtf8(const QByteArray &utf8) { return Shown(utf8).toUtf8(); }

    // For a file name: each unsafe character and each byte that is not
    // UTF-8 becomes "_", so the name is valid UTF-8 and reads as it sorts.
    static QByteArray ForFileName(const QByteArray &bytes);

    // The classification all of the above share.
    static bool Unsafe(char32_t c);
};
