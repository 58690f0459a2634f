#include "PictureThumbnail.h"

#include "JpegBlockMeans.h"
#include "JpegScaled.h"
#include "TPictureBounds.h"
#include "TPictureFingerprint.h"

#include <algorithm>

namespace {

std::uint8_t clamp8(int v) { return std::uint8_t(std::clamp(v, 0, 255)); }

// Area mean of a picture of channels bytes a pixel down to fit box, then to
// RGB (from YCbCr when ycc, from luma when one channel).
TThumbnailPixels shrink(const std::uint8_t *pixels, int width, int height, int channels, bool ycc, int box)
{
    TThumbnailPixels t;
    if (width <= 0 || height <= 0 || box <= 0)
        return t;
    const double scale = std::min(1.0, double(box) / std::max(width, height));
    t.Width = std::max(1, int(width * scale + 0.5));
    t.Height = std::max(1, int(height * scale + 0.5));
    t.Rgb.resize(std::size_t(t.Width) * std::size_t(t.Height) * 3);
    for (int ty = 0; ty < t.Height; ++ty) {
        const int y0 = int(qint64(ty) * height / t.Height), y1 = std::max(y0 + 1, int(qint64(ty + 1) * height / t.Height));
        for (int tx = 0; tx < t.Width; ++tx) {
            const int x0 = int(qint64(tx) * width / t.Width), x1 = std::max(x0 + 1, int(qint64(tx + 1) * width / t.Width));
            int sum[3] = {0, 0, 0};
            for (int y = y0; y < y1; ++y) {
                const std::uint8_t *row = pixels + std::size_t(y) * std::size_t(width) * std::size_t(channels);
                for (int x = x0; x < x1; ++x)
                    for (int c = 0; c < channels && c < 3; ++c)
                        sum[c] += row[std::size_t(x) * std::size_t(channels) + std::size_t(c)];
            }
            const int n = (y1 - y0) * (x1 - x0);
            std::uint8_t *out = &t.Rgb[(std::size_t(ty) * std::size_t(t.Width) + std::size_t(tx)) * 3];
            if (channels < 3) {
                out[0] = out[1] = out[2] = std::uint8_t(sum[0] / n);
            } else if (ycc) {
                const int Y = sum[0] / n, Cb = sum[1] / n - 128, Cr = sum[2] / n - 128;
                out[0] = clamp8(Y + (91881 * Cr >> 16));
                out[1] = clamp8(Y - ((22554 * Cb + 46802 * Cr) >> 16));
                out[2] = clamp8(Y + (116130 * Cb >> 16));
            } else {
                for (int c = 0; c < 3; ++c)
                    out[c] = std::uint8_t(sum[c] / n);
            }
        }
    }
    return t;
}

} // namespace

TThumbnailPixels MakeThumbnail(const QByteArray &data, int box)
{
    if (!TPictureBounds::Refusal(data).isEmpty())
        return {};
    JpegBlockMeans means;
    if (DecodeJpegBlockMeans(data, &means, box))
        return shrink(means.Pixels.data(), means.Width, means.Height, means.Channels, true, box);
    JpegPixels scaled;
    if (data.startsWith("\xFF\xD8")) {
        if (DecodeJpegScaled(data, box, &scaled))
            return shrink(scaled.Pixels.data(), scaled.Width, scaled.Height, scaled.Channels, true, box);
        return {};
    }
    std::vector<std::uint8_t> rgb;
    int width = 0, height = 0;
    if (!TPictureFingerprint::ReadRgb(data, box, rgb, width, height)
        || rgb.size() < std::size_t(width) * std::size_t(height) * 3)
        return {};
    return shrink(rgb.data(), width, height, 3, false, box);
}
