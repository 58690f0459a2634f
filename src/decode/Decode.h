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
int DecodeUUE(QList<QByteArray> &lines, QByteArray &stream, QByteArray &fileName);
int DecodeBase64(QList<QByteArray> &lines, QByteArray &stream, QByteArray &fileName);

// Fills map with each alphabet character's position and 254 for every other
// byte. A character that repeats is reported in a message box and gives false.
bool BuildReverseMap(const QByteArray &alphabet, unsigned char (&map)[256]);
