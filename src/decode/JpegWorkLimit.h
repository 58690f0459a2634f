#pragma once
#include <QByteArray>

#include <cstdint>
#include <cstdio>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

// How much work libjpeg may be asked to do for one picture. A progressive
// file may hold any number of scans, and each costs a pass over every block
// it covers even when its data is a few bytes: the same scan repeated
// thousands of times in a 200 KB file kept libjpeg busy for minutes. Every
// decode through libjpeg watches its reading with one of these and gives up
// past any bound; Of tells the same without decoding.
struct JpegWorkLimit {
    // libjpeg-turbo's advice (djpeg -maxscans); ordinary encoders write at
    // most a few dozen.
    static constexpr int MaxScans = 100;
    // A picture of several scans is held whole as coefficients, 128 bytes a
    // block, before its first scan is read: filling that in cost more than
    // a second for a 64-megapixel one. This is 80 MB, a 27-megapixel 4:2:0
    // or 13-megapixel 4:4:4 picture (one of a single scan needs no buffer).
    static constexpr std::int64_t MaxBufferedBlocks = std::int64_t(5) << 17;
    // Blocks summed over the scans read: libjpeg's own progression of the
    // largest picture held takes 3.5 M of them. Such a picture with scans
    // added up to this bound took libjpeg half a second.
    static constexpr std::int64_t MaxScanBlocks = std::int64_t(8) << 20;

    enum Reason { Within, TooManyScans, TooManyBlocks, TooLarge };

    // Where the file's scans would take libjpeg, by walking its markers:
    // what a decode watched by Watch would stop at. Anything not a JPEG is
    // Within (it is for its own decoder to judge).
    static Reason Of(const QByteArray &data);
    // The log line for a picture past a bound; empty for Within.
    static QByteArray Line(Reason reason);

    // After jpeg_read_header: refuses a picture too large to buffer, and
    // becomes cinfo's progress monitor, which libjpeg calls before each row
    // of blocks it reads. Past a bound it sets Exceeded and ends the decode
    // through cinfo's error_exit, as an error would. Must outlive the decode.
    void Watch(jpeg_decompress_struct *cinfo);
    // The same check, for a loop of jpeg_consume_input (libjpeg does not
    // call the monitor there).
    static void Check(jpeg_decompress_struct *cinfo);

    jpeg_progress_mgr Progress{}; // first: the monitor finds the rest through it
    Reason Exceeded = Within;
    int Scans = 0;
    std::int64_t Blocks = 0;
};
