#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// A Huffman table as a JPEG file defines it: how many codes of each
// length, then their symbols.
struct JpegHuffmanDefinition {
    bool Defined = false;
    std::array<std::uint8_t, 16> Counts{};
    std::array<std::uint8_t, 256> Values{};
};

// One component of a scan, as many blocks across and down in each MCU as
// the scan has (1 x 1 when it is the scan's only component).
struct JpegScanComponent {
    int H = 1, V = 1;
    const JpegHuffmanDefinition *DcTable = nullptr, *AcTable = nullptr;
    // Out: the DC coefficient of every block, in rows of H * mcusX.
    std::vector<std::int16_t> Dc;
};

// Reads a sequential Huffman scan from its first byte (data holds the rest
// of the file) and keeps the DC coefficient of every block: the codes of
// the others are stepped over. False for a table libjpeg would refuse and
// for damage: a code no table has, a restart marker out of place, data
// that ends before the last MCU does.
//
// A big scan is read by two threads, split at a restart marker or, without
// any, from both ends at once (see the source); *secondHalfFrom tells the
// MCU from which the second thread's work was taken (0 when it was not).
bool ReadJpegScanDc(const std::uint8_t *data, std::size_t size, int mcusX, int mcusY, int restartInterval,
                    std::vector<JpegScanComponent> &components, std::size_t *secondHalfFrom = nullptr);
