#include "YEncKernel.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

using u8 = unsigned char;

template <bool Nul> inline bool isLineEnd(u8 c) { return c == '\r' || c == '\n' || (Nul && c == 0); }

// Byte by byte, for short tails and the awkward blocks of the vector paths.
template <bool Nul> inline std::size_t bytewise(const u8 *in, std::size_t n, u8 *out, bool &escaped)
{
    u8 *o = out;
    bool esc = escaped;
    for (std::size_t i = 0; i < n; ++i) {
        const u8 c = in[i];
        if (esc) {
            esc = false;
            if (!isLineEnd<Nul>(c))
                *o++ = u8(c - 106);
        } else if (c == '=') {
            esc = true;
        } else if (!isLineEnd<Nul>(c)) {
            *o++ = u8(c - 42);
        }
    }
    escaped = esc;
    return std::size_t(o - out);
}

constexpr std::uint64_t Ones = 0x0101010101010101ull;
constexpr std::uint64_t Highs = 0x8080808080808080ull;

inline bool hasByte(std::uint64_t x, u8 c)
{
    const std::uint64_t y = x ^ (Ones * c);
    return ((y - Ones) & ~y & Highs) != 0;
}

// Eight bytes at a time while none of them is special: most of a yEnc body.
template <bool Nul> std::size_t scalar(const u8 *in, std::size_t n, u8 *out, bool &escaped)
{
    u8 *o = out;
    std::size_t i = 0;
    while (i + 8 <= n) {
        std::uint64_t x;
        std::memcpy(&x, in + i, 8);
        if (escaped || hasByte(x, '=') || hasByte(x, '\r') || hasByte(x, '\n') || (Nul && hasByte(x, 0))) {
            o += bytewise<Nul>(in + i, 8, o, escaped);
        } else {
            // Byte-wise subtraction of 42 without borrows between bytes.
            const std::uint64_t d = ((x | Highs) - Ones * 42) ^ (~x & Highs);
            std::memcpy(o, &d, 8);
            o += 8;
        }
        i += 8;
    }
    o += bytewise<Nul>(in + i, n - i, o, escaped);
    return std::size_t(o - out);
}

#if defined(__x86_64__)

// For each 8-bit keep mask, the indices of the kept bytes packed to the front.
struct CompactTable {
    alignas(16) u8 idx[256][16];
    unsigned char count[256];
    constexpr CompactTable() : idx(), count()
    {
        for (int m = 0; m < 256; ++m) {
            int k = 0;
            for (int b = 0; b < 8; ++b)
                if (m & (1 << b))
                    idx[m][k++] = u8(b);
            count[m] = u8(k);
            for (int j = k; j < 16; ++j)
                idx[m][j] = 0x80;
        }
    }
};
constexpr CompactTable compact;

// One 16-byte block without pshufb: the plain case in vector registers, any
// special byte through the byte loop.
template <bool Nul> __attribute__((target("sse2"))) inline std::size_t blockSse2(const u8 *in, u8 *out, bool &escaped)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
    const __m128i special = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('=')),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')),
                                                      _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
    const int nul = Nul ? _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) : 0;
    if (!escaped && (_mm_movemask_epi8(special) | nul) == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_sub_epi8(v, _mm_set1_epi8(42)));
        return 16;
    }
    return bytewise<Nul>(in, 16, out, escaped);
}

// One 16-byte block: escapes and line ends removed by a shuffle. Only a run
// of two "=" (an escaped "=") needs the byte loop.
template <bool Nul>
__attribute__((target("ssse3"), always_inline)) inline std::size_t blockSsse3(const u8 *in, u8 *out,
                                                                             bool &escaped)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
    __m128i eq = _mm_cmpeq_epi8(v, _mm_set1_epi8('='));
    __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
    if (Nul)
        ends = _mm_or_si128(ends, _mm_cmpeq_epi8(v, _mm_setzero_si128()));
    const int eqMask = _mm_movemask_epi8(eq);
    const int endMask = _mm_movemask_epi8(ends);
    if (!escaped && (eqMask | endMask) == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_sub_epi8(v, _mm_set1_epi8(42)));
        return 16;
    }
    // A byte escaped from the block before is data, even when it is "=".
    const __m128i carry = escaped ? _mm_cvtsi32_si128(0xFF) : _mm_setzero_si128();
    eq = _mm_andnot_si128(carry, eq);
    const int esc = eqMask & ~int(escaped);
    if (esc & (esc << 1))
        return bytewise<Nul>(in, 16, out, escaped);
    const __m128i follow = _mm_or_si128(_mm_slli_si128(eq, 1), carry);
    const __m128i dec = _mm_sub_epi8(_mm_sub_epi8(v, _mm_set1_epi8(42)), _mm_and_si128(follow, _mm_set1_epi8(64)));
    escaped = (esc >> 15) & 1;
    const unsigned keep = ~unsigned(esc | endMask) & 0xFFFF;
    const unsigned lo = keep & 0xFF, hi = keep >> 8;
    const __m128i shufLo = _mm_load_si128(reinterpret_cast<const __m128i *>(compact.idx[lo]));
    const __m128i shufHi = _mm_add_epi8(_mm_load_si128(reinterpret_cast<const __m128i *>(compact.idx[hi])),
                                        _mm_set1_epi8(8));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_shuffle_epi8(dec, shufLo));
    const std::size_t nLo = compact.count[lo];
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + nLo), _mm_shuffle_epi8(dec, shufHi));
    return nLo + compact.count[hi];
}

template <bool Nul> __attribute__((target("sse2"))) std::size_t sse2(const u8 *in, std::size_t n, u8 *out, bool &escaped)
{
    u8 *o = out;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        o += blockSse2<Nul>(in + i, o, escaped);
    o += bytewise<Nul>(in + i, n - i, o, escaped);
    return std::size_t(o - out);
}

template <bool Nul> __attribute__((target("ssse3"))) std::size_t ssse3(const u8 *in, std::size_t n, u8 *out, bool &escaped)
{
    u8 *o = out;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        o += blockSsse3<Nul>(in + i, o, escaped);
    o += bytewise<Nul>(in + i, n - i, o, escaped);
    return std::size_t(o - out);
}

// 32 plain bytes at a time; a block with anything special as two halves.
template <bool Nul> __attribute__((target("avx2"))) std::size_t avx2(const u8 *in, std::size_t n, u8 *out, bool &escaped)
{
    u8 *o = out;
    std::size_t i = 0;
    const __m256i eqC = _mm256_set1_epi8('='), crC = _mm256_set1_epi8('\r'), lfC = _mm256_set1_epi8('\n');
    const __m256i off = _mm256_set1_epi8(42);
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i));
        __m256i special = _mm256_or_si256(_mm256_cmpeq_epi8(v, eqC),
                                          _mm256_or_si256(_mm256_cmpeq_epi8(v, crC), _mm256_cmpeq_epi8(v, lfC)));
        if (Nul)
            special = _mm256_or_si256(special, _mm256_cmpeq_epi8(v, _mm256_setzero_si256()));
        if (!escaped && _mm256_testz_si256(special, special)) {
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(o), _mm256_sub_epi8(v, off));
            o += 32;
        } else {
            o += blockSsse3<Nul>(in + i, o, escaped);
            o += blockSsse3<Nul>(in + i + 16, o, escaped);
        }
    }
    for (; i + 16 <= n; i += 16)
        o += blockSsse3<Nul>(in + i, o, escaped);
    o += bytewise<Nul>(in + i, n - i, o, escaped);
    return std::size_t(o - out);
}

bool have(YEncPath p)
{
    static const bool sse2Ok = __builtin_cpu_supports("sse2");
    static const bool ssse3Ok = __builtin_cpu_supports("ssse3");
    static const bool avx2Ok = __builtin_cpu_supports("avx2");
    switch (p) {
    case YEncPath::Scalar:
        return true;
    case YEncPath::Sse2:
        return sse2Ok;
    case YEncPath::Ssse3:
        return ssse3Ok;
    case YEncPath::Avx2:
        return avx2Ok;
    }
    return false;
}
#else
bool have(YEncPath p) { return p == YEncPath::Scalar; }
#endif

YEncPath usable(YEncPath p)
{
    while (p != YEncPath::Scalar && !have(p))
        p = YEncPath(int(p) - 1);
    return p;
}

} // namespace

YEncPath YEncBestPath()
{
    static const YEncPath best = usable(YEncPath::Avx2);
    return best;
}

const char *YEncPathName(YEncPath path)
{
    switch (path) {
    case YEncPath::Scalar:
        return "scalar";
    case YEncPath::Sse2:
        return "SSE2";
    case YEncPath::Ssse3:
        return "SSSE3";
    case YEncPath::Avx2:
        return "AVX2";
    }
    return "?";
}

namespace {
template <bool Nul>
std::size_t decodeWith(YEncPath path, const unsigned char *in, std::size_t n, unsigned char *out, bool &escaped)
{
    switch (path) {
#if defined(__x86_64__)
    case YEncPath::Avx2:
        return avx2<Nul>(in, n, out, escaped);
    case YEncPath::Ssse3:
        return ssse3<Nul>(in, n, out, escaped);
    case YEncPath::Sse2:
        return sse2<Nul>(in, n, out, escaped);
#endif
    default:
        return scalar<Nul>(in, n, out, escaped);
    }
}
} // namespace

std::size_t YEncDecodeWith(YEncPath path, const unsigned char *in, std::size_t n, unsigned char *out,
                           bool &escaped, bool nulEndsLines)
{
    path = usable(path);
    return nulEndsLines ? decodeWith<true>(path, in, n, out, escaped) : decodeWith<false>(path, in, n, out, escaped);
}

std::size_t YEncDecodeKernel(const unsigned char *in, std::size_t n, unsigned char *out, bool &escaped)
{
    static const YEncPath best = YEncBestPath();
    return decodeWith<false>(best, in, n, out, escaped);
}

std::size_t YEncDecodeJoined(const unsigned char *in, std::size_t n, unsigned char *out)
{
    static const YEncPath best = YEncBestPath();
    bool escaped = false;
    return decodeWith<true>(best, in, n, out, escaped);
}
