#pragma once
#include <QByteArray>
#include <QList>

// A small uuencoder for building article bodies in tests: "`" for zero, full
// lines of 45 bytes.
QList<QByteArray> UuencodeData(const QByteArray &data);
// "begin 644 <name>", the data lines, "`" and "end".
QList<QByteArray> UuencodeFile(const QByteArray &name, const QByteArray &data);
