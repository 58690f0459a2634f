#pragma once
#include "JpegScaled.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

// The mean of every 8 x 8 block of a baseline JPEG, as libjpeg gives it when
// asked for 1/8 scale, but without decoding what the rest of each block
// holds: only the lengths of its codes are read. libjpeg turns every code
// into a coefficient even when it throws them away, which made the
// fingerprint of a 12-megapixel photograph cost 30 ms.
//
// Pixels are YCbCr (or luma for a grey picture), one per block of the full
// picture, in rows of Width * Channels bytes. Luma is exactly what libjpeg
// gives at 1/8; colour is the mean of each colour block, where libjpeg may
// draw a subsampled block's four quarters from its lowest frequencies.
struct JpegBlockMeans : JpegPixels {
    // The MCU from which a second thread's reading was used (0: none).
    std::size_t SecondHalfFrom = 0;
};

// False for what it does not read (progressive or arithmetic coding, 12-bit
// samples, a scan per component, Adobe or RGB colour, four components) and
// for damaged data: libjpeg is then asked, and decides what damage means.
// Also false, before reading the scan, for a picture of fewer than minSide
// blocks a side.
bool DecodeJpegBlockMeans(const QByteArray &data, JpegBlockMeans *out, int minSide = 0);
