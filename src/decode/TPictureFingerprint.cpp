#include "TPictureFingerprint.h"

#include "JpegBlockMeans.h"
#include "JpegScaled.h"

#include <algorithm>
#include <bit>
#include <cmath>


namespace {

constexpr int Side = 32;    // the hash's picture, in cells
constexpr int Low = 8;      // the frequencies kept in each direction
constexpr int MinSide = 64; // the reduced decode is no smaller than this

TPictureFingerprint::Reader &reader()
{
    static TPictureFingerprint::Reader r;
    return r;
}

// The orthonormal DCT-II basis for the low frequencies of Side samples.
const std::array<double, Low * Side> &basis()
{
    static const std::array<double, Low * Side> b = [] {
        std::array<double, Low * Side> t{};
        for (int u = 0; u < Low; ++u)
            for (int x = 0; x < Side; ++x)
                t[size_t(u * Side + x)] = std::sqrt((u == 0 ? 1.0 : 2.0) / Side)
                    * std::cos(M_PI * (2 * x + 1) * u / (2.0 * Side));
        return t;
    }();
    return b;
}

// Integer cell boundaries: every pixel lands in exactly one cell.
void cellRanges(int n, std::array<int, Side + 1> &edge)
{
    for (int c = 0; c <= Side; ++c)
        edge[size_t(c)] = int(qint64(c) * n / Side);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

void TPictureFingerprint::SetReader(Reader r) { reader() = std::move(r); }

bool TPictureFingerprint::ReadRgb(const QByteArray &data, int minSide, std::vector<std::uint8_t> &rgb, int &width,
                                  int &height)
{
    const Reader &r = reader();
    return r && r(data, minSide, rgb, width, height);
}

TPictureFingerprint TPictureFingerprint::Of(const QByteArray &data)
{
    if (data.size() >= 3 && uchar(data[0]) == 0xFF && uchar(data[1]) == 0xD8 && uchar(data[2]) == 0xFF) {
        // A big baseline picture: its block means alone, read without libjpeg.
        JpegBlockMeans means;
        if (DecodeJpegBlockMeans(data, &means, MinSide))
            return OfPixels(means.Pixels.data(), means.Width, means.Height, means.Channels, true);
        JpegPixels reduced;
        if (DecodeJpegScaled(data, MinSide, &reduced))
            return OfPixels(reduced.Pixels.data(), reduced.Width, reduced.Height, reduced.Channels, true);
        return {};
    }
    std::vector<std::uint8_t> pixels;
    int width = 0, height = 0;
    if (reader() && reader()(data, MinSide, pixels, width, height))
        return OfPixels(pixels.data(), width, height, 3, false);
    return {};
}

TPictureFingerprint TPictureFingerprint::OfPixels(const std::uint8_t *pixels, int width, int height, int channels,
                                                  bool ycc)
{
    TPictureFingerprint f;
    // An icon is too small to tell anything by: checked as a file alone.
    if (width < Side || height < Side || (channels != 1 && channels != 3))
        return f;
    std::array<int, Side + 1> xEdge, yEdge;
    cellRanges(width, xEdge);
    cellRanges(height, yEdge);
    std::vector<int> column(static_cast<size_t>(width), 0);
    for (int c = 0; c < Side; ++c)
        for (int x = xEdge[size_t(c)]; x < xEdge[size_t(c) + 1]; ++x)
            column[size_t(x)] = c;

    // Luma summed per cell; colour over the whole picture.
    std::array<double, Side * Side> luma{};
    std::array<std::uint32_t, Side> rowSum{};
    double cb = 0, cr = 0;
    int cellRow = 0;
    for (int y = 0; y < height; ++y) {
        while (y >= yEdge[size_t(cellRow) + 1])
            ++cellRow;
        const std::uint8_t *p = pixels + size_t(y) * size_t(width) * size_t(channels);
        rowSum.fill(0);
        std::uint64_t cbRow = 0, crRow = 0;
        if (channels == 1) {
            for (int x = 0; x < width; ++x)
                rowSum[size_t(column[size_t(x)])] += p[x];
        } else if (ycc) {
            for (int x = 0; x < width; ++x, p += 3) {
                rowSum[size_t(column[size_t(x)])] += p[0];
                cbRow += p[1];
                crRow += p[2];
            }
        } else {
            // JPEG's own conversion, in 16-bit fixed point.
            for (int x = 0; x < width; ++x, p += 3) {
                const int r = p[0], g = p[1], b = p[2];
                rowSum[size_t(column[size_t(x)])] += std::uint32_t((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
                cbRow += std::uint64_t((-11059 * r - 21709 * g + 32768 * b + (128 << 16) + 32768) >> 16);
                crRow += std::uint64_t((32768 * r - 27439 * g - 5329 * b + (128 << 16) + 32768) >> 16);
            }
        }
        for (int c = 0; c < Side; ++c)
            luma[size_t(cellRow * Side + c)] += rowSum[size_t(c)];
        cb += double(cbRow);
        cr += double(crRow);
    }
    const double pixelsTotal = double(width) * height;
    for (int cy = 0; cy < Side; ++cy)
        for (int cx = 0; cx < Side; ++cx)
            luma[size_t(cy * Side + cx)] /= double(yEdge[size_t(cy) + 1] - yEdge[size_t(cy)])
                * (xEdge[size_t(cx) + 1] - xEdge[size_t(cx)]);
    if (channels == 3) {
        f.Cb = std::uint8_t(std::lround(cb / pixelsTotal));
        f.Cr = std::uint8_t(std::lround(cr / pixelsTotal));
    }
    for (int gy = 0; gy < 4; ++gy)
        for (int gx = 0; gx < 4; ++gx) {
            double s = 0;
            for (int y = 0; y < Side / 4; ++y)
                for (int x = 0; x < Side / 4; ++x)
                    s += luma[size_t((gy * Side / 4 + y) * Side + gx * Side / 4 + x)];
            f.Luma[size_t(gy * 4 + gx)] = std::uint8_t(std::lround(s / (Side * Side / 16)));
        }

    // A plain picture's frequencies are noise: any two would look alike.
    double mean = 0, square = 0;
    for (const double v : luma) {
        mean += v;
        square += v * v;
    }
    mean /= luma.size();
    if (square / luma.size() - mean * mean < 1.5 * 1.5)
        return f;

    // The low frequencies: rows first, then columns.
    const auto &b = basis();
    std::array<double, Side * Low> rows{}; // [y][u]
    for (int y = 0; y < Side; ++y)
        for (int u = 0; u < Low; ++u) {
            double s = 0;
            for (int x = 0; x < Side; ++x)
                s += luma[size_t(y * Side + x)] * b[size_t(u * Side + x)];
            rows[size_t(y * Low + u)] = s;
        }
    std::array<double, Low * Low> coef{}; // [v][u]
    for (int v = 0; v < Low; ++v)
        for (int u = 0; u < Low; ++u) {
            double s = 0;
            for (int y = 0; y < Side; ++y)
                s += rows[size_t(y * Low + u)] * b[size_t(v * Side + y)];
            coef[size_t(v * Low + u)] = s;
        }
    // Every coefficient but the mean brightness, against their median.
    std::array<double, Low * Low - 1> ac;
    std::copy(coef.begin() + 1, coef.end(), ac.begin());
    std::array<double, Low * Low - 1> sorted = ac;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];
    for (size_t i = 0; i < ac.size(); ++i)
        if (ac[i] > median)
            f.Hash |= std::uint64_t(1) << i;
    f.Valid = true;
    return f;
}

int TPictureFingerprint::Distance(const TPictureFingerprint &other) const { return std::popcount(Hash ^ other.Hash); }

int TPictureFingerprint::LumaDifference(const TPictureFingerprint &other) const
{
    int sum = 0;
    for (size_t i = 0; i < Luma.size(); ++i)
        sum += std::abs(int(Luma[i]) - int(other.Luma[i]));
    return (sum + int(Luma.size()) / 2) / int(Luma.size());
}

int TPictureFingerprint::ColourDifference(const TPictureFingerprint &other) const
{
    return std::abs(int(Cb) - int(other.Cb)) + std::abs(int(Cr) - int(other.Cr));
}

bool TPictureFingerprint::ToneMatches(const TPictureFingerprint &other) const
{
    return LumaDifference(other) <= MaxLumaDifference && ColourDifference(other) <= MaxColourDifference;
}

QByteArray TPictureFingerprint::ToText() const
{
    QByteArray bytes(26, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[i] = char(Hash >> (56 - 8 * i));
    std::copy(Luma.begin(), Luma.end(), bytes.begin() + 8);
    bytes[24] = char(Cb);
    bytes[25] = char(Cr);
    return bytes.toHex().toUpper();
}

TPictureFingerprint TPictureFingerprint::FromText(QByteArrayView text)
{
    TPictureFingerprint f;
    if (text.size() != 52)
        return f;
    std::array<std::uint8_t, 26> bytes{};
    for (int i = 0; i < 26; ++i) {
        const int hi = hexValue(text[2 * i]), lo = hexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return f;
        bytes[size_t(i)] = std::uint8_t(hi << 4 | lo);
    }
    for (int i = 0; i < 8; ++i)
        f.Hash = f.Hash << 8 | bytes[size_t(i)];
    std::copy(bytes.begin() + 8, bytes.begin() + 24, f.Luma.begin());
    f.Cb = bytes[24];
    f.Cr = bytes[25];
    f.Valid = true;
    return f;
}
