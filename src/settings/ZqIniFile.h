#pragma once
#include <QByteArray>
#include <QString>

// The settings file: a profile ("INI") file (see ZqPaths for where), read and
// written one value at a time. Reads come from a copy in memory that is read
// again whenever the file's size, modification time or inode changed, so a
// change made anywhere (or by hand) is seen at the next read. Sections, keys
// and values are bytes.

QString ProgramFilePath();     // the running program file, or the test override
QString ProgramDirectory();    // its folder, ending in "/"
QString SettingsFilePath();    // where the settings are kept (ZqPaths::SettingsFile)
QString ProgramSettingsFilePath(); // the program file with its extension replaced by ".ini"

// Test seam: pretend the program file lives at this path, in the portable
// layout (empty restores the real one and its own layout).
void SetProgramFilePathOverride(const QString &path);

QByteArray IniReadString(const QByteArray &section, const QByteArray &key, const QByteArray &def);
bool IniWriteString(const QByteArray &section, const QByteArray &key, const QByteArray &value);
bool IniReadBool(const QByteArray &section, const QByteArray &key, bool def);
bool IniWriteBool(const QByteArray &section, const QByteArray &key, bool value);
qint32 IniReadInteger(const QByteArray &section, const QByteArray &key, qint32 def);
bool IniWriteInteger(const QByteArray &section, const QByteArray &key, qint32 value);

// Writes made between these two go to the file as one replacement at the
// flush (reads see them at once); pairs nest, the outermost flush writes.
// A hand edit made in between is kept: held writes are applied on top of it.
void IniGatherWrites();
bool IniFlushWrites(); // false when the file could not be replaced

// Removes the temporary files that writers killed mid-write left beside the
// settings file; those of a running process stay. Returns how many went.
int IniRemoveStaleTemps();

// Counter encoding: parsed as floating point and rounded to the nearest 64-bit
// integer (0 when it does not parse); written with 15 significant digits.
qint64 CounterParse(const QByteArray &text);
QByteArray CounterFormat(qint64 value);
