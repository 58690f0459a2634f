#include "JpegBlockMeans.h"

#include "JpegScan.h"

#include <array>
#include <cstring>
#include <memory>

namespace {

// libjpeg's output of a 1 x 1 inverse DCT: the mean, wrapped into range
// the way its table does.
std::uint8_t sample(int dcValue, int quant)
{
    const int v = ((int(std::int16_t(dcValue)) * int(std::int16_t(quant)) + 4) >> 3) & 1023;
    if (v < 128)
        return std::uint8_t(v + 128);
    if (v < 512)
        return 255;
    if (v < 896)
        return 0;
    return std::uint8_t(v - 896);
}

int be16(const std::uint8_t *p) { return p[0] << 8 | p[1]; }

struct Component {
    int Id = 0, H = 1, V = 1, Quant = 0;
    bool InScan = false;
    JpegScanComponent Scan;
};

} // namespace

bool DecodeJpegBlockMeans(const QByteArray &data, JpegBlockMeans *out, int minSide)
{
    const auto *d = reinterpret_cast<const std::uint8_t *>(data.constData());
    const std::size_t n = std::size_t(data.size());
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return false;
    std::array<JpegHuffmanDefinition, 8> tables; // DC 0-3, AC 0-3
    std::array<int, 4> quant{};
    std::array<bool, 4> quantDefined{};
    std::vector<Component> comps;
    int width = 0, height = 0, restartInterval = 0;
    std::size_t at = 2, scan = 0;
    while (!scan) {
        if (at + 4 > n || d[at] != 0xFF)
            return false;
        while (at < n && d[at] == 0xFF)
            ++at;
        if (at + 3 > n)
            return false;
        const std::uint8_t m = d[at++];
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7))
            continue;
        if (m == 0xD8 || m == 0xD9)
            return false;
        const int len = be16(d + at);
        if (len < 2 || at + std::size_t(len) > n)
            return false;
        const std::uint8_t *s = d + at + 2;
        const std::size_t sLen = std::size_t(len) - 2;
        if (m == 0xDA && ((width + 7) / 8 < minSide || (height + 7) / 8 < minSide))
            return false;
        if (m == 0xC0 || m == 0xC1) {
            if (!comps.empty() || sLen < 6 || s[0] != 8)
                return false;
            height = be16(s + 1);
            width = be16(s + 3);
            const int count = s[5];
            // libjpeg's limits; and a few hostile bytes must not ask for gigabytes.
            if ((count != 1 && count != 3) || sLen != std::size_t(6 + 3 * count) || !width || !height
                || width > 65500 || height > 65500 || qint64(width) * height > 64ll * 1024 * 1024)
                return false;
            for (int c = 0; c < count; ++c) {
                Component comp;
                comp.Id = s[6 + 3 * c];
                comp.H = s[7 + 3 * c] >> 4;
                comp.V = s[7 + 3 * c] & 15;
                comp.Quant = s[8 + 3 * c];
                if (comp.H < 1 || comp.H > 4 || comp.V < 1 || comp.V > 4 || comp.Quant > 3)
                    return false;
                comps.push_back(std::move(comp));
            }
            if (count == 3 && comps[0].Id == 'R' && comps[1].Id == 'G' && comps[2].Id == 'B')
                return false;
        } else if (m >= 0xC2 && m <= 0xCF && m != 0xC4) {
            return false; // progressive, lossless, hierarchical or arithmetic
        } else if (m == 0xC4) {
            for (std::size_t i = 0; i < sLen;) {
                if (i + 17 > sLen)
                    return false;
                const int tc = s[i] >> 4, th = s[i] & 15;
                int total = 0;
                for (int l = 0; l < 16; ++l)
                    total += s[i + 1 + size_t(l)];
                if (tc > 1 || th > 3 || total > 256 || i + 17 + size_t(total) > sLen)
                    return false;
                JpegHuffmanDefinition &h = tables[size_t(tc * 4 + th)];
                h.Defined = true;
                std::memcpy(h.Counts.data(), s + i + 1, 16);
                std::memcpy(h.Values.data(), s + i + 17, size_t(total));
                i += 17 + size_t(total);
            }
        } else if (m == 0xDB) {
            for (std::size_t i = 0; i < sLen;) {
                const int precision = s[i] >> 4, table = s[i] & 15;
                const std::size_t size = precision ? 128 : 64;
                if (precision > 1 || table > 3 || i + 1 + size > sLen)
                    return false;
                quant[size_t(table)] = precision ? be16(s + i + 1) : s[i + 1];
                quantDefined[size_t(table)] = true;
                i += 1 + size;
            }
        } else if (m == 0xDD) {
            if (sLen != 2)
                return false;
            restartInterval = be16(s);
        } else if (m == 0xEE && sLen >= 5 && std::memcmp(s, "Adobe", 5) == 0) {
            return false; // its transform flag decides the colours
        } else if (m == 0xDA) {
            if (comps.empty() || sLen < 1 || s[0] != comps.size() || sLen != 4 + 2 * comps.size())
                return false;
            std::vector<Component> ordered;
            for (size_t c = 0; c < comps.size(); ++c) {
                const int id = s[1 + 2 * c], td = s[2 + 2 * c] >> 4, ta = s[2 + 2 * c] & 15;
                size_t j = 0;
                while (j < comps.size() && comps[j].Id != id)
                    ++j;
                if (j == comps.size() || comps[j].InScan || td > 3 || ta > 3 || !tables[size_t(td)].Defined
                    || !tables[size_t(4 + ta)].Defined || !quantDefined[size_t(comps[j].Quant)])
                    return false; // without tables libjpeg would use the standard ones
                comps[j].InScan = true;
                comps[j].Scan.DcTable = &tables[size_t(td)];
                comps[j].Scan.AcTable = &tables[size_t(4 + ta)];
                comps[j].Quant = quant[size_t(comps[j].Quant)];
            }
            const std::uint8_t *tail = s + 1 + 2 * comps.size();
            if (tail[0] != 0 || tail[1] != 63 || tail[2] != 0)
                return false;
            scan = at + std::size_t(len);
        } else if (!(m >= 0xE0 && m <= 0xEF) && m != 0xFE && m != 0xDC) {
            return false; // libjpeg stops at markers it does not know
        }
        at += std::size_t(len);
    }

    int hMax = 1, vMax = 1, perMcu = 0;
    for (const Component &c : comps) {
        hMax = std::max(hMax, c.H);
        vMax = std::max(vMax, c.V);
        perMcu += c.H * c.V;
    }
    // libjpeg's limits on sampling, and luma at full resolution so its
    // blocks are the picture's.
    if (comps[0].H != hMax || comps[0].V != vMax)
        return false;
    for (const Component &c : comps)
        if (hMax % c.H || vMax % c.V)
            return false;
    const bool interleaved = comps.size() > 1;
    if (interleaved && perMcu > 10)
        return false;
    const int mcusX = interleaved ? (width + 8 * hMax - 1) / (8 * hMax) : (width + 7) / 8;
    const int mcusY = interleaved ? (height + 8 * vMax - 1) / (8 * vMax) : (height + 7) / 8;
    std::vector<JpegScanComponent> scanComps;
    for (Component &c : comps) {
        c.Scan.H = interleaved ? c.H : 1;
        c.Scan.V = interleaved ? c.V : 1;
        scanComps.push_back(std::move(c.Scan));
    }
    if (!ReadJpegScanDc(d + scan, n - scan, mcusX, mcusY, restartInterval, scanComps, &out->SecondHalfFrom))
        return false;

    out->Width = (width + 7) / 8;
    out->Height = (height + 7) / 8;
    out->Channels = int(comps.size());
    out->Pixels.resize(size_t(out->Width) * size_t(out->Height) * comps.size());
    // A subsampled colour block covers several luma blocks: repeated, as
    // libjpeg's plain upsampling does.
    const int channels = int(comps.size());
    for (int ci = 0; ci < channels; ++ci) {
        const JpegScanComponent &c = scanComps[size_t(ci)];
        const int quantValue = comps[size_t(ci)].Quant;
        const std::size_t planeWidth = std::size_t(mcusX) * std::size_t(c.H);
        const int xStep = hMax / comps[size_t(ci)].H, yStep = vMax / comps[size_t(ci)].V;
        for (int y = 0; y < out->Height; ++y) {
            const std::int16_t *row = c.Dc.data() + size_t(y / yStep) * planeWidth;
            std::uint8_t *p = out->Pixels.data() + size_t(y) * size_t(out->Width) * size_t(channels) + size_t(ci);
            for (int x = 0, cx = 0, k = 0; x < out->Width; ++x, p += channels) {
                *p = sample(row[cx], quantValue);
                if (++k == xStep) {
                    k = 0;
                    ++cx;
                }
            }
        }
    }
    return true;
}
