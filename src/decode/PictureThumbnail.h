#pragma once
#include <QByteArray>

#include <cstdint>
#include <vector>

// A saved picture's small likeness for a strip of thumbnails, made where
// the decoding is done rather than where it is shown: RGB, 3 bytes a pixel,
// no side past the box asked for.
struct TThumbnailPixels {
    int Width = 0, Height = 0;
    std::vector<std::uint8_t> Rgb;
    bool Valid() const { return Width > 0 && Height > 0; }
};

// A JPEG from its block means (a byte per 8 x 8 block is all a thumbnail
// shows), else from libjpeg's reduced decode; other formats from the
// fingerprint's reader. Invalid for what cannot be read, or what lies past
// the bounds the preview keeps to.
TThumbnailPixels MakeThumbnail(const QByteArray &data, int box);
