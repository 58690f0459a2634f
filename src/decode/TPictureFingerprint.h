#pragma once
#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

// What a picture looks like, in few enough bytes to keep one for every
// picture ever saved: a DCT hash of its shapes, and its coarse brightness
// and colour. The hash alone takes a light design for its dark twin (it
// compares frequencies with their median, so light and dark give the same
// bits); the tone tells them apart.
//
// Computed from a reduced decode: libjpeg's 1/8 scale for JPEG, the reader
// the program provides for other formats (this library needs no display).
class TPictureFingerprint {
public:
    std::uint64_t Hash = 0;
    std::array<std::uint8_t, 16> Luma{}; // mean luma of a 4 x 4 grid
    std::uint8_t Cb = 128, Cr = 128;     // mean colour
    bool Valid = false;

    // Invalid when the data is no picture that can be decoded, or one too
    // small or too flat (a plain colour) to be told by its look.
    static TPictureFingerprint Of(const QByteArray &data);
    // Pixels in rows of width * channels bytes: 1 channel luma, 3 RGB or
    // YCbCr as ycc says.
    static TPictureFingerprint OfPixels(const std::uint8_t *pixels, int width, int height, int channels, bool ycc);

    // RGB, 3 bytes a pixel, shrunk so that its shorter side is about minSide.
    using Reader = std::function<bool(const QByteArray &data, int minSide, std::vector<std::uint8_t> &rgb,
                                      int &width, int &height)>;
    static void SetReader(Reader reader);
    // The reader's answer; false when none was set or it cannot read data.
    static bool ReadRgb(const QByteArray &data, int minSide, std::vector<std::uint8_t> &rgb, int &width,
                        int &height);

    // Bits in which the hashes differ.
    int Distance(const TPictureFingerprint &other) const;
    // Whether brightness and colour are close enough for one picture.
    bool ToneMatches(const TPictureFingerprint &other) const;
    // Mean luma difference over the grid, and the colour difference, of 255.
    int LumaDifference(const TPictureFingerprint &other) const;
    int ColourDifference(const TPictureFingerprint &other) const;
    // Hash bits apart at most for a copy, when the tone matches too.
    // Measured on real photographs (bench/similar_bench): copies stay within
    // 8 bits and 2 levels of tone; two shots of one scene came within 6 bits
    // but 7 levels, colour variants of one design within 2 bits but 21.
    static constexpr int MaxDistance = 8;
    static constexpr int MaxLumaDifference = 4; // mean over the grid, of 255
    static constexpr int MaxColourDifference = 4;

    // 52 hexadecimal digits; FromText gives an invalid one for anything else.
    QByteArray ToText() const;
    static TPictureFingerprint FromText(QByteArrayView text);
};
