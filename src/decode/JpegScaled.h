#pragma once
#include <QByteArray>

#include <cstdint>
#include <vector>

// A JPEG's pixels as libjpeg gives them at a reduced scale: YCbCr (or luma
// for a grey picture), no colour conversion, in rows of Width * Channels.
struct JpegPixels {
    int Width = 0, Height = 0, Channels = 0;
    std::vector<std::uint8_t> Pixels;
};

// libjpeg's own reduced decode, at the smallest of 1/8, 1/4, 1/2 and 1/1
// that keeps both sides at minSide or more (0: always 1/8). At 1/8 a
// progressive picture is read only as far as its first scan that gives
// every block's mean. False for what libjpeg refuses, four components, a
// declared size past 64 megapixels, or scans past JpegWorkLimit's bounds.
bool DecodeJpegScaled(const QByteArray &data, int minSide, JpegPixels *out);
