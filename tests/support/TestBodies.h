#pragma once
#include <QByteArray>
#include <QList>
#include <QStringList>

// Article bodies for tests and benchmarks.

// A small uuencoder: "`" for zero, full
// lines of 45 bytes.
QList<QByteArray> UuencodeData(const QByteArray &data);
// "begin 644 <name>", the data lines, "`" and "end".
QList<QByteArray> UuencodeFile(const QByteArray &name, const QByteArray &data);

// Incompressible bytes, the same for the same seed.
QByteArray Noise(int size, quint32 seed);
// The bytes tests/decode/make_fixtures.py encodes (xorshift32, low byte).
QByteArray FixtureBytes(int size, quint32 seed);

// A small yEnc encoder: NUL, LF, CR and "=" escaped everywhere, tab, space
// and "." also at a line's start and tab and space at its end.
QList<QByteArray> YEncData(const QByteArray &data, int lineLength = 128);
// One yEnc body: the whole file (part 0) or the given part of it, the part
// covering bytes begin..begin+size-1 of fileData; CRCs and sizes as real
// encoders write them.
QList<QByteArray> YEncFile(const QByteArray &name, const QByteArray &fileData);
QList<QByteArray> YEncPart(const QByteArray &name, const QByteArray &fileData, int part, int total,
                           qsizetype begin, qsizetype size);
// The common CRC-32 (zip) of data, as yEnc writes it.
quint32 ZipCrc(const QByteArray &data);

// Runs a real encoder (coreutils base64, python3, ...) on input and returns
// what it wrote; fails the test when it cannot be run.
QByteArray RunTool(const QString &program, const QStringList &args, const QByteArray &input = {});
// coreutils "base64 -w width" of data, as body lines.
QList<QByteArray> Base64Body(const QByteArray &data, int width);
// Text split into body lines, without the empty one after a final newline.
QList<QByteArray> BodyLinesOf(const QByteArray &text);
// A JPEG made distinct (and of another size) by a comment segment of extra
// noise bytes right after its start marker; still the same picture.
QByteArray JpegVariant(const QByteArray &jpeg, int extra, quint32 seed);
