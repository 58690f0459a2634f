#include "JpegScan.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <stop_token>
#include <system_error>
#include <thread>
#include <tuple>

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
            if (code >= 1 << len)
                return false; // more codes than the length has
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
    void Seek(std::size_t bit)
    {
        P = Base + bit / 8;
        Buf = 0;
        Count = 0;
        Refill();
        Drop(unsigned(bit % 8));
    }
};

// One block: its DC difference decoded, everything after it stepped over.
inline bool block(Bits &b, const Huffman &dc, const Huffman &ac, int &difference)
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
    difference = 0;
    if (s) {
        int v = int(b.Buf >> (64 - s));
        b.Drop(unsigned(s));
        if (v < 1 << (s - 1))
            v -= (1 << s) - 1;
        difference = v;
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

// Undoes the byte stuffing of the scan from byte at, ending a segment at
// each restart marker; false when the data ends before a marker does.
bool unstuff(const std::uint8_t *d, std::size_t n, std::size_t at, std::unique_ptr<std::uint8_t[]> &bytes,
             std::vector<std::size_t> &ends, std::vector<int> &restarts)
{
    // Not zeroed: every byte up to the end of the scan is written.
    const std::size_t size = n - at + Pad;
    bytes.reset(new std::uint8_t[size]);
    std::size_t out = 0;
    for (;;) {
        const auto *ff = static_cast<const std::uint8_t *>(std::memchr(d + at, 0xFF, n - at));
        if (!ff)
            return false;
        const std::size_t run = std::size_t(ff - (d + at));
        std::memcpy(bytes.get() + out, d + at, run);
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
            std::memset(bytes.get() + out, 0, size - out);
            return true;
        }
    }
}

struct Decoder {
    int H, V;
    const Huffman *Dc, *Ac;
};

struct Scan {
    const std::uint8_t *Bytes;
    std::size_t EndBits; // of the last segment
    std::size_t Mcus;
    int PerMcu;
    std::vector<Decoder> Decoders;
};

// One MCU's blocks, their DC differences in order into diffs.
inline bool mcu(Bits &b, const Scan &scan, int *diffs)
{
    for (const Decoder &d : scan.Decoders)
        for (int i = d.H * d.V; i > 0; --i)
            if (!block(b, *d.Dc, *d.Ac, *diffs++))
                return false;
    return true;
}

// Adds an MCU's differences to the predictions and keeps the values.
inline bool keep(std::vector<JpegScanComponent> &comps, std::vector<int> &prediction, const int *diffs,
                 std::size_t mcuIndex, int mcusX)
{
    const int mx = int(mcuIndex % std::size_t(mcusX)), my = int(mcuIndex / std::size_t(mcusX));
    for (std::size_t c = 0; c < comps.size(); ++c) {
        JpegScanComponent &comp = comps[c];
        const std::size_t width = std::size_t(comp.H) * std::size_t(mcusX);
        for (int by = 0; by < comp.V; ++by)
            for (int bx = 0; bx < comp.H; ++bx) {
                const int value = prediction[c] += *diffs++;
                // Real means stay far inside a coefficient's 16 bits.
                if (value > 32767 || value < -32768)
                    return false;
                comp.Dc[std::size_t(my * comp.V + by) * width + std::size_t(mx * comp.H + bx)] = std::int16_t(value);
            }
    }
    return true;
}

// A scan this big without restart markers is read from its middle too, by
// a second thread, as if an MCU began there. Huffman codes fall back into
// step after a few wrong ones, and so, through the ends of blocks, does
// the place in the MCU: from some MCU on the second reader starts its MCUs
// exactly where the first one does. The first reader, arriving at the
// middle, waits for the second, reads on until it finds such an MCU and
// takes the second's differences from there; without one it reads on
// alone, so the result never depends on the guess or on timing.
constexpr std::size_t SplitBytes = 64 * 1024;
// A bad code within this many MCUs of its start sends the second reader a
// bit further on to guess again.
constexpr std::size_t SettleMcus = 64;

struct SecondReader {
    std::size_t From = 0;            // the bit it started its last guess at
    std::vector<std::size_t> Starts; // where each MCU begins, and after the last one, ends
    std::vector<int> Diffs;
    std::size_t Read = 0;            // MCUs read whole within the scan
};

void readFromMiddle(std::stop_token stop, const Scan &scan, SecondReader &r)
{
    std::size_t from = r.From;
    for (int guess = 0; guess < 64 && from < scan.EndBits; ++guess) {
        Bits b{scan.Bytes, scan.Bytes};
        b.Seek(from);
        r.Starts[0] = from;
        std::size_t n = 0;
        bool bad = false;
        while (n < scan.Mcus && !stop.stop_requested()) {
            if (!mcu(b, scan, &r.Diffs[n * std::size_t(scan.PerMcu)])) {
                bad = true;
                break;
            }
            const std::size_t end = b.Consumed();
            if (end > scan.EndBits)
                break;
            r.Starts[++n] = end;
        }
        r.Read = n;
        if (!bad || n >= SettleMcus)
            return;
        from = r.Starts[n] + 1;
    }
    r.Read = 0;
}

// MCUs first to last of a scan with restart markers: each segment starts
// afresh, so the later half of them can be read by a second thread exactly.
bool readSegmentRange(const Scan &scan, const std::vector<std::size_t> &ends, std::size_t interval,
                      std::size_t first, std::size_t last, std::vector<JpegScanComponent> &components, int mcusX)
{
    Bits bits{scan.Bytes, scan.Bytes};
    std::vector<int> prediction(components.size(), 0), diffs(std::size_t(scan.PerMcu));
    for (std::size_t m = first; m < last; ++m) {
        const std::size_t segment = m / interval;
        if (m % interval == 0) {
            bits.Seek(segment ? ends[segment - 1] * 8 : 0);
            std::fill(prediction.begin(), prediction.end(), 0);
        }
        if (!mcu(bits, scan, diffs.data()) || !keep(components, prediction, diffs.data(), m, mcusX))
            return false;
        // Damaged data runs on into the padding or the next segment.
        if (bits.Consumed() > ends[segment] * 8)
            return false;
    }
    return true;
}

bool readSegments(const Scan &scan, const std::vector<std::size_t> &ends, std::size_t interval, bool split,
                  std::vector<JpegScanComponent> &components, int mcusX, std::size_t *secondHalfFrom)
{
    const std::size_t middle = ends.size() / 2 * interval;
    if (split && middle > 0) {
        bool secondRead = false;
        try {
            // Each thread keeps the blocks of its own MCUs.
            std::jthread second([&] {
                secondRead = readSegmentRange(scan, ends, interval, middle, scan.Mcus, components, mcusX);
            });
            const bool firstRead = readSegmentRange(scan, ends, interval, 0, middle, components, mcusX);
            second.join();
            if (secondHalfFrom)
                *secondHalfFrom = middle;
            return firstRead && secondRead;
        } catch (const std::system_error &) {
            // No thread to be had: one reader does it all.
        }
    }
    return readSegmentRange(scan, ends, interval, 0, scan.Mcus, components, mcusX);
}

bool readGuessing(const Scan &scan, bool split, std::vector<JpegScanComponent> &components, int mcusX,
                  std::size_t *secondHalfFrom)
{
    SecondReader second;
    std::jthread worker;
    bool compare = false; // the second reader is done: look for its MCUs
    if (split) {
        second.From = scan.EndBits / 2;
        second.Starts.resize(scan.Mcus + 1);
        second.Diffs.resize(scan.Mcus * std::size_t(scan.PerMcu));
        try {
            worker = std::jthread(readFromMiddle, std::cref(scan), std::ref(second));
        } catch (const std::system_error &) {
            // No thread to be had: one reader does it all.
        }
    }
    std::size_t seen = 0; // the second reader's MCUs that start before the first reader

    Bits bits{scan.Bytes, scan.Bytes};
    bits.Refill();
    std::vector<int> prediction(components.size(), 0), diffs(std::size_t(scan.PerMcu));
    for (std::size_t m = 0; m < scan.Mcus; ++m) {
        const std::size_t at = bits.Consumed();
        if (worker.joinable() && at >= second.From) {
            worker.join();
            compare = true;
        }
        if (compare) {
            while (seen < second.Read && second.Starts[seen] < at)
                ++seen;
            if (seen == second.Read) {
                compare = false; // never in step: read on alone
            } else if (second.Starts[seen] == at && second.Read - seen >= scan.Mcus - m) {
                for (std::size_t k = 0; m + k < scan.Mcus; ++k)
                    if (!keep(components, prediction, &second.Diffs[(seen + k) * std::size_t(scan.PerMcu)], m + k,
                              mcusX))
                        return false;
                if (secondHalfFrom)
                    *secondHalfFrom = m;
                return true;
            }
        }
        if (!mcu(bits, scan, diffs.data()) || !keep(components, prediction, diffs.data(), m, mcusX))
            return false;
        // Damaged data runs on into the padding: stop before it ends.
        if (bits.Consumed() > scan.EndBits)
            return false;
    }
    return true;
}

} // namespace

bool ReadJpegScanDc(const std::uint8_t *data, std::size_t size, int mcusX, int mcusY, int restartInterval,
                    std::vector<JpegScanComponent> &components, std::size_t *secondHalfFrom)
{
    if (secondHalfFrom)
        *secondHalfFrom = 0;
    Scan scan;
    scan.Mcus = std::size_t(mcusX) * std::size_t(mcusY);
    scan.PerMcu = 0;
    std::map<const JpegHuffmanDefinition *, std::unique_ptr<Huffman>> built;
    for (JpegScanComponent &c : components) {
        Decoder d{c.H, c.V, nullptr, nullptr};
        for (auto [definition, table, dc] :
             {std::tuple{c.DcTable, &d.Dc, true}, std::tuple{c.AcTable, &d.Ac, false}}) {
            std::unique_ptr<Huffman> &h = built[definition];
            if (!h) {
                h = std::make_unique<Huffman>();
                if (!build(*h, definition->Counts.data(), definition->Values.data(), dc))
                    return false;
            }
            *table = h.get();
        }
        scan.Decoders.push_back(d);
        scan.PerMcu += c.H * c.V;
        c.Dc.assign(scan.Mcus * std::size_t(c.H) * std::size_t(c.V), 0);
    }

    std::unique_ptr<std::uint8_t[]> bytes;
    std::vector<std::size_t> ends;
    std::vector<int> restarts;
    if (!unstuff(data, size, 0, bytes, ends, restarts))
        return false;
    const std::size_t segments =
        restartInterval ? (scan.Mcus + std::size_t(restartInterval) - 1) / std::size_t(restartInterval) : 1;
    if (ends.size() != segments)
        return false;
    for (std::size_t i = 0; i < restarts.size(); ++i)
        if (restarts[i] != int(i % 8))
            return false;
    scan.Bytes = bytes.get();
    scan.EndBits = ends.back() * 8;

    const bool split = ends.back() >= SplitBytes && std::thread::hardware_concurrency() > 1;
    if (restartInterval)
        return readSegments(scan, ends, std::size_t(restartInterval), split, components, mcusX, secondHalfFrom);
    return readGuessing(scan, split, components, mcusX, secondHalfFrom);
}
