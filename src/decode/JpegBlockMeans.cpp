#include "JpegBlockMeans.h"

#include <array>
#include <cstring>
#include <memory>

namespace {

constexpr int FastBits = 12;
constexpr int Pad = 4096; // zero bytes after the scan: one MCU never reads further

// Skip entries: bits to drop, then positions passed (64 more at the end of
// the block), then for a run the start positions it may be taken from: one
// that would pass the block's end holds codes of the next block.
constexpr unsigned EndOfBlock = 64;
constexpr std::uint32_t skip(unsigned bits, unsigned positions, bool end)
{
    return bits | (positions + (end ? EndOfBlock : 0)) << 8 | (64 - positions) << 16;
}

// A table as the file defines it; built when the scan uses it.
struct HuffmanSource {
    bool Defined = false;
    std::array<std::uint8_t, 16> Counts{};
    std::array<std::uint8_t, 256> Values{};
};

struct Huffman {
    int Total = 0;
    std::array<std::uint8_t, 256> Values{};
    std::array<int, 17> MaxCode{}; // largest code of each length, -1 if none
    std::array<int, 17> Offset{};  // index in Values of a code of that length, less the code
    // By the next FastBits bits: length | symbol << 8; 0 for a longer code.
    std::array<std::uint16_t, 1 << FastBits> Symbol{};
    // For the later coefficients of a block, whose values are not wanted:
    // One drops one code and its extra bits, Run as many whole ones as the
    // lookahead holds (at most one block's worth), both as skip entries.
    std::array<std::uint32_t, 1 << FastBits> One{}, Run{};
};

bool build(Huffman &h, const std::uint8_t *counts, const std::uint8_t *values, bool dc)
{
    h = Huffman{};
    int code = 0, k = 0;
    for (int len = 1; len <= 16; ++len) {
        h.Offset[size_t(len)] = k - code;
        for (int i = 0; i < counts[len - 1]; ++i, ++code, ++k) {
            const std::uint8_t symbol = values[k];
            if (dc && symbol > 15)
                return false;
            h.Values[size_t(k)] = symbol;
            if (len <= FastBits) {
                const int shift = FastBits - len;
                for (int fill = 0; fill < 1 << shift; ++fill)
                    h.Symbol[size_t((code << shift) | fill)] = std::uint16_t(len | symbol << 8);
            }
        }
        h.MaxCode[size_t(len)] = counts[len - 1] ? code - 1 : -1;
        // libjpeg refuses a table whose codes overflow their length.
        if (code >= 1 << len)
            return false;
        code <<= 1;
    }
    h.Total = k;
    for (unsigned i = 0; i < h.One.size(); ++i) {
        const unsigned e = h.Symbol[i];
        if (!e)
            continue;
        const unsigned len = e & 31, r = e >> 12, s = (e >> 8) & 15;
        if (s)
            h.One[i] = skip(len + s, r + 1, false);
        else if (r == 15)
            h.One[i] = skip(len, 16, false);
        else
            h.One[i] = skip(len, 0, true);
    }
    for (unsigned i = 0; i < h.Run.size(); ++i) {
        unsigned bits = 0, positions = 0;
        bool end = false;
        for (;;) {
            const std::uint32_t e = h.One[(i << bits) & ((1u << FastBits) - 1)];
            const unsigned n = e & 0xFF, p = (e >> 8) & 0xFF;
            if (!e || (bits > 0 && bits + n > FastBits) || (p < EndOfBlock && positions + p > 63))
                break;
            bits += n;
            if (p >= EndOfBlock) {
                end = true;
                break;
            }
            positions += p;
            if (bits >= FastBits)
                break;
        }
        h.Run[i] = bits ? skip(bits, positions, end) : 0;
    }
    return true;
}

// Codes longer than the lookahead, the canonical way; -1 for no code.
int slowSymbol(const Huffman &h, std::uint64_t buf, int *length)
{
    for (int len = FastBits + 1; len <= 16; ++len) {
        const int code = int(buf >> (64 - len));
        if (code <= h.MaxCode[size_t(len)]) {
            const int index = h.Offset[size_t(len)] + code;
            if (index < 0 || index >= h.Total)
                return -1;
            *length = len;
            return h.Values[size_t(index)];
        }
    }
    return -1;
}

inline std::uint64_t loadBigEndian(const std::uint8_t *p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// Reads the unstuffed scan; bits left-aligned in buf.
struct Bits {
    const std::uint8_t *Base, *P;
    std::uint64_t Buf = 0;
    int Count = 0;

    // Refills to at least 56 bits. Bits below Count may already hold the
    // same stream bits, so OR-ing them in again is harmless.
    void Refill()
    {
        Buf |= loadBigEndian(P) >> Count;
        P += (63 - Count) >> 3;
        Count |= 56;
    }
    void Drop(unsigned n)
    {
        Buf <<= n;
        Count -= int(n);
    }
    unsigned Peek() const { return unsigned(Buf >> (64 - FastBits)); }
    std::size_t Consumed() const { return std::size_t(P - Base) * 8 - std::size_t(Count); }
    void Seek(std::size_t byte)
    {
        P = Base + byte;
        Buf = 0;
        Count = 0;
        Refill();
    }
};

// One block: its DC difference decoded, everything after it stepped over.
inline bool block(Bits &b, const Huffman &dc, const Huffman &ac, int &dcValue)
{
    if (b.Count < 32)
        b.Refill();
    int length, s;
    if (const unsigned e = dc.Symbol[b.Peek()]) {
        length = int(e & 31);
        s = int(e >> 8);
    } else if ((s = slowSymbol(dc, b.Buf, &length)) < 0) {
        return false;
    }
    b.Drop(unsigned(length));
    if (s) {
        int v = int(b.Buf >> (64 - s));
        b.Drop(unsigned(s));
        if (v < 1 << (s - 1))
            v -= (1 << s) - 1;
        dcValue += v;
        // Real means stay far inside a coefficient's 16 bits.
        if (dcValue > 32767 || dcValue < -32768)
            return false;
    }
    int k = 1;
    while (k < 64) {
        // A run drops at most 27 bits: two fit in one refill.
        b.Refill();
        std::uint32_t r = ac.Run[b.Peek()];
        if (k < int(r >> 16)) {
            b.Drop(r & 0xFF);
            k += int((r >> 8) & 0xFF);
            if (k >= 64)
                break;
            r = ac.Run[b.Peek()];
            if (k < int(r >> 16)) {
                b.Drop(r & 0xFF);
                k += int((r >> 8) & 0xFF);
                continue;
            }
        }
        // Near the end of the block, or a long code: one at a time.
        if (const std::uint32_t o = ac.One[b.Peek()]) {
            b.Drop(o & 0xFF);
            k += int((o >> 8) & 0xFF);
            continue;
        }
        b.Refill();
        const int rs = slowSymbol(ac, b.Buf, &length);
        if (rs < 0)
            return false;
        const int run = rs >> 4, size = rs & 15;
        b.Drop(unsigned(length + size));
        if (size)
            k += run + 1;
        else if (run == 15)
            k += 16;
        else
            return true;
    }
    return true;
}

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
    const Huffman *Dc = nullptr, *Ac = nullptr;
    int Prediction = 0;
    int PlaneWidth = 0;
    std::vector<std::uint8_t> Plane; // one sample per block
};

// Undoes the byte stuffing of the scan from *at, ending each segment at a
// restart marker; false when the data ends before a marker does.
bool unstuff(const std::uint8_t *d, std::size_t n, std::size_t at, std::vector<std::uint8_t> &bytes,
             std::vector<std::size_t> &ends, std::vector<int> &restarts)
{
    bytes.resize(n - at + Pad);
    std::size_t out = 0;
    for (;;) {
        const auto *ff = static_cast<const std::uint8_t *>(std::memchr(d + at, 0xFF, n - at));
        if (!ff)
            return false;
        const std::size_t run = std::size_t(ff - (d + at));
        std::memcpy(bytes.data() + out, d + at, run);
        out += run;
        at += run;
        if (at + 1 >= n)
            return false;
        const std::uint8_t m = d[at + 1];
        if (m == 0x00) {
            bytes[out++] = 0xFF;
            at += 2;
        } else if (m == 0xFF) {
            at += 1; // fill byte before a marker
        } else if (m >= 0xD0 && m <= 0xD7) {
            ends.push_back(out);
            restarts.push_back(m - 0xD0);
            at += 2;
        } else {
            ends.push_back(out);
            return true;
        }
    }
}

} // namespace

bool DecodeJpegBlockMeans(const QByteArray &data, JpegBlockMeans *out, int minSide)
{
    const auto *d = reinterpret_cast<const std::uint8_t *>(data.constData());
    const std::size_t n = std::size_t(data.size());
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return false;
    std::array<HuffmanSource, 8> sources; // DC 0-3, AC 0-3
    std::array<std::unique_ptr<Huffman>, 8> tables;
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
            if ((count != 1 && count != 3) || sLen < std::size_t(6 + 3 * count) || !width || !height
                || qint64(width) * height > 64ll * 1024 * 1024)
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
                HuffmanSource &h = sources[size_t(tc * 4 + th)];
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
            if (sLen < 2)
                return false;
            restartInterval = be16(s);
        } else if (m == 0xEE && sLen >= 5 && std::memcmp(s, "Adobe", 5) == 0) {
            return false; // its transform flag decides the colours
        } else if (m == 0xDA) {
            if (comps.empty() || sLen < 1 || s[0] != comps.size() || sLen < 4 + 2 * comps.size())
                return false;
            std::vector<Component> ordered;
            for (size_t c = 0; c < comps.size(); ++c) {
                const int id = s[1 + 2 * c], td = s[2 + 2 * c] >> 4, ta = s[2 + 2 * c] & 15;
                size_t j = 0;
                while (j < comps.size() && comps[j].Id != id)
                    ++j;
                if (j == comps.size() || comps[j].Dc || td > 3 || ta > 3 || !quantDefined[size_t(comps[j].Quant)])
                    return false;
                for (const int t : {td, 4 + ta}) {
                    const HuffmanSource &source = sources[size_t(t)];
                    if (!source.Defined)
                        return false; // libjpeg would use the standard tables
                    if (!tables[size_t(t)]) {
                        tables[size_t(t)] = std::make_unique<Huffman>();
                        if (!build(*tables[size_t(t)], source.Counts.data(), source.Values.data(), t < 4))
                            return false;
                    }
                }
                comps[j].Dc = tables[size_t(td)].get();
                comps[j].Ac = tables[size_t(4 + ta)].get();
                comps[j].Quant = quant[size_t(comps[j].Quant)];
            }
            const std::uint8_t *tail = s + 1 + 2 * comps.size();
            if (tail[0] != 0 || tail[1] != 63 || tail[2] != 0)
                return false;
            scan = at + std::size_t(len);
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
    for (Component &c : comps) {
        const int h = interleaved ? c.H : 1, v = interleaved ? c.V : 1;
        c.PlaneWidth = mcusX * h;
        c.Plane.resize(size_t(mcusX) * size_t(h) * size_t(mcusY) * size_t(v));
    }

    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> ends;
    std::vector<int> restarts;
    if (!unstuff(d, n, scan, bytes, ends, restarts))
        return false;
    const std::size_t mcus = std::size_t(mcusX) * std::size_t(mcusY);
    const std::size_t segments = restartInterval ? (mcus + std::size_t(restartInterval) - 1) / std::size_t(restartInterval) : 1;
    if (ends.size() != segments)
        return false;
    for (std::size_t i = 0; i < restarts.size(); ++i)
        if (restarts[i] != int(i % 8))
            return false;

    Bits bits{bytes.data(), bytes.data()};
    bits.Refill();
    std::size_t segment = 0, left = restartInterval ? std::size_t(restartInterval) : mcus;
    for (int my = 0; my < mcusY; ++my)
        for (int mx = 0; mx < mcusX; ++mx) {
            if (left == 0) {
                if (bits.Consumed() > ends[segment] * 8)
                    return false;
                bits.Seek(ends[segment++]);
                for (Component &c : comps)
                    c.Prediction = 0;
                left = std::size_t(restartInterval);
            }
            --left;
            for (Component &c : comps) {
                const int h = interleaved ? c.H : 1, v = interleaved ? c.V : 1;
                for (int by = 0; by < v; ++by)
                    for (int bx = 0; bx < h; ++bx) {
                        if (!block(bits, *c.Dc, *c.Ac, c.Prediction))
                            return false;
                        c.Plane[size_t(my * v + by) * size_t(c.PlaneWidth) + size_t(mx * h + bx)] =
                            sample(c.Prediction, c.Quant);
                    }
            }
            // Damaged data runs on into the padding: stop before it ends.
            if (bits.Consumed() > ends[segment] * 8)
                return false;
        }

    out->Width = (width + 7) / 8;
    out->Height = (height + 7) / 8;
    out->Channels = int(comps.size());
    out->Pixels.resize(size_t(out->Width) * size_t(out->Height) * comps.size());
    // A subsampled colour block covers several luma blocks: repeated, as
    // libjpeg's plain upsampling does.
    const int channels = int(comps.size());
    for (int ci = 0; ci < channels; ++ci) {
        const Component &c = comps[size_t(ci)];
        const int xStep = hMax / c.H, yStep = vMax / c.V;
        for (int y = 0; y < out->Height; ++y) {
            const std::uint8_t *row = c.Plane.data() + size_t(y / yStep) * size_t(c.PlaneWidth);
            std::uint8_t *p = out->Pixels.data() + size_t(y) * size_t(out->Width) * size_t(channels) + size_t(ci);
            for (int x = 0, cx = 0, n = 0; x < out->Width; ++x, p += channels) {
                *p = row[cx];
                if (++n == xStep) {
                    n = 0;
                    ++cx;
                }
            }
        }
    }
    return true;
}
