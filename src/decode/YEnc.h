#pragma once
#include <QByteArray>
#include <QList>

#include <cstdint>

// yEnc 1.3 bodies: the header lines, the decoding of the data lines and the
// checks of size and CRC-32 that tell a whole file or part from a damaged one.
// CRC values here are the common CRC-32 (zip, PNG), as yEnc writes them.

// Values of the "=ybegin" / "=ypart" / "=yend" lines; -1 where a field is
// missing. Numbers too large for 63 bits count as malformed.
struct YEncHeader {
    qint64 Line = -1;
    qint64 Size = -1;
    qint64 Part = -1;
    qint64 Total = -1;
    QByteArray Name;
    bool Malformed = false;
};

struct YEncPartLine {
    qint64 Begin = -1;
    qint64 End = -1;
    bool Malformed = false;
};

struct YEncTrailer {
    qint64 Size = -1;
    qint64 Part = -1;
    bool HasPcrc = false;
    bool HasCrc = false;
    std::uint32_t Pcrc32 = 0;
    std::uint32_t Crc32 = 0;
    bool Malformed = false;
};

// Field parsers, fed the whole line including its "=y..." keyword. name is
// always the last field: the rest of the line, outer blanks trimmed.
YEncHeader ParseYBegin(const QByteArray &line);
YEncPartLine ParseYPart(const QByteArray &line);
YEncTrailer ParseYEnd(const QByteArray &line);

// True when a line of the body begins "=ybegin " (with the space).
bool IsYEncBody(const QList<QByteArray> &lines);

// The most a file may claim: its size is kept in the 8 hex digits of the
// duplicate list's keys.
constexpr qint64 YEncMaxSize = 0xFFFFFFFFll;
// The most parts a file may claim.
constexpr qint64 YEncMaxParts = 100000;

struct YEncResult {
    enum Status { Whole, Part, Damaged };
    Status State = Damaged;
    QByteArray Name;       // from "=ybegin", as it stands
    qint64 FileSize = 0;   // the whole file's "size"
    qint64 PartNumber = 0; // 0 for a single-part file
    qint64 Total = 0;      // 0 when not given
    qint64 Begin = 1;      // 1-based, inclusive, within the whole file
    qint64 End = 0;
    std::uint32_t Crc = 0; // of Data
    bool HasFileCrc = false;
    std::uint32_t FileCrc = 0; // the whole file's "crc32" where a part gives it
    QByteArray Data;
    QByteArray Error; // the log line for a damaged file or part
};

// Decodes the first yEnc file or part of the body and checks it. Damaged
// results carry the reason; Data is then what could be decoded.
YEncResult DecodeYEnc(const QList<QByteArray> &lines);

// "File 'x.jpg'" or "Part 2 of 5 of 'x.jpg'", with the name made printable.
QByteArray YEncWhat(const YEncResult &r);
// A name as SafeText shows it (controls visible, format characters and bytes
// that are not UTF-8 as U+FFFD), for the log and the status line.
QByteArray PrintableName(const QByteArray &name);
// Why a yEnc name cannot become a file name, or empty when it can.
QByteArray YEncNameProblem(const QByteArray &name);
QByteArray Hex8(std::uint32_t v);
