#pragma once
#include <QByteArray>
#include <QList>

// Article bodies for tests and benchmarks.

// A small uuencoder: "`" for zero, full
// lines of 45 bytes.
QList<QByteArray> UuencodeData(const QByteArray &data);
// "begin 644 <name>", the data lines, "`" and "end".
QList<QByteArray> UuencodeFile(const QByteArray &name, const QByteArray &data);

// Incompressible bytes, the same for the same seed.
QByteArray Noise(int size, quint32 seed);
