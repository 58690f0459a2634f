#pragma once
#include <QByteArray>
#include <QList>

// Field splitter shared by the settings lists (LIST, EXCLUDE, group pointers)
// and the news client's reply parsing: fields numbered from 1, a missing
// trailing separator is implied, two separators in a row give an empty field.
QByteArray GetField(const QByteArray &line, int index, char separator);

// Fields 1, 2, ... up to (not including) the first empty one.
QList<QByteArray> ReadList(const QByteArray &text, char separator = ',');

// Decimal 32-bit integer with optional sign; anything else gives the default.
qint32 ToInt32Def(const QByteArray &text, qint32 def);
// A yes/no value as written by hand: yes, y, true and 1 (any case) are on,
// anything else off.
bool ReadYesNo(const QByteArray &value);
// The same for 64-bit numbers (article numbers, byte counts).
qint64 ToInt64Def(const QByteArray &text, qint64 def);
