#pragma once
#include <QByteArray>
#include <QList>

// Decodes the one file an article body carries (yEnc, uuencode, xxencode, Base64 in a
// MIME part or bare). Works on the caller's editable list of body lines, the
// caller's byte buffer and a file name; the edits made to the list are what the
// joining of multi-article files relies on.
constexpr int DecodeComplete = -3;
constexpr int DecodePartial = -2;
constexpr int DecodeNothing = -1;

int DecodeAttachment(QList<QByteArray> &lines, QByteArray &stream, QByteArray &fileName);

// Which worker DecodeAttachment would choose for these lines.
enum class BodyEncoding { None, YEnc, Uue, MimeBase64, BareBase64 };
BodyEncoding EncodingOf(const QList<QByteArray> &lines);

// A body made only of Base64 lines: every non-empty line holds only the
// Base64 alphabet ("=" only at the very end), all but the last share one
// length, a multiple of 4 from 60 to 76, and there are at least minLines of
// them. MIME boundary lines ("--...") may follow the data.
bool IsBase64Lines(const QList<QByteArray> &lines, qsizetype minLines);
// Fewer lines than this are too little for a picture to be taken as Base64
// on their shape alone.
constexpr qsizetype Base64MinLines = 4;
int DecodeUUE(QList<QByteArray> &lines, QByteArray &stream, QByteArray &fileName);
int DecodeBase64(QList<QByteArray> &lines, QByteArray &stream, QByteArray &fileName);

// Fills map with each alphabet character's position and 254 for every other
// byte. A character that repeats is reported in a message box and gives false.
bool BuildReverseMap(const QByteArray &alphabet, unsigned char (&map)[256]);
