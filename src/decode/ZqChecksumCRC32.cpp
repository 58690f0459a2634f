#include "ZqChecksumCRC32.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr std::uint32_t Poly = 0xEDB88320u;

// Slicing-by-8: table 0 is the classic byte table; table k advances a byte
// that sits k positions further back, so eight bytes cost eight look-ups and
// no dependent shifts between them.
constexpr std::array<std::array<std::uint32_t, 256>, 8> makeTables()
{
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t k = 0; k < 256; ++k) {
        std::uint32_t r = k;
        for (int i = 0; i < 8; ++i)
            r = (r & 1) ? (r >> 1) ^ Poly : r >> 1;
        t[0][k] = r;
    }
    for (std::uint32_t k = 0; k < 256; ++k)
        for (int s = 1; s < 8; ++s)
            t[s][k] = (t[s - 1][k] >> 8) ^ t[0][t[s - 1][k] & 0xFF];
    return t;
}

constexpr auto Tables = makeTables();

static_assert(Tables[0][1] == 0x77073096u);
static_assert(Tables[0][2] == 0xEE0E612Cu);
static_assert(Tables[0][3] == 0x990951BAu);
static_assert(Tables[0][255] == 0x2D02EF8Du);

#if defined(__x86_64__)
// Carry-less multiplication folding (Gopal et al., "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ"), bit-reflected constants for
// 0xEDB88320. Takes and returns the running register; length >= 64 and a
// multiple of 16. Roughly ten times the table method on current processors.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t foldPclmul(const unsigned char *buf,
                                                                 std::size_t len,
                                                                 std::uint32_t crc)
{
    alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const std::uint64_t poly[] = {0x01db710641, 0x01f7011641};

    __m128i x0, x1, x2, x3, x4, x5, x6, x7, x8, y5, y6, y7, y8;
    x1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + 0x00));
    x2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + 0x10));
    x3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + 0x20));
    x4 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + 0x30));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(int(crc)));
    x0 = _mm_load_si128(reinterpret_cast<const __m128i *>(k1k2));
    buf += 64;
    len -= 64;

    while (len >= 64) {
        x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
        x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
        x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
        x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
        x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
        y5 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + 0x00));
        y6 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + 0x10));
        y7 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + 0x20));
        y8 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + 0x30));
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), y5);
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), y6);
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), y7);
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), y8);
        buf += 64;
        len -= 64;
    }

    // Fold the four lanes into one.
    x0 = _mm_load_si128(reinterpret_cast<const __m128i *>(k3k4));
    for (__m128i next : {x2, x3, x4}) {
        x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, next), x5);
    }
    while (len >= 16) {
        x2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf));
        x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x2), x5);
        buf += 16;
        len -= 16;
    }

    // 128 -> 64 bits.
    x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
    x3 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_srli_si128(x1, 8);
    x1 = _mm_xor_si128(x1, x2);
    x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, x3);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);

    // Barrett reduction to 32 bits.
    x0 = _mm_load_si128(reinterpret_cast<const __m128i *>(poly));
    x2 = _mm_and_si128(x1, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
    x2 = _mm_and_si128(x2, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return std::uint32_t(_mm_extract_epi32(x1, 1));
}

bool havePclmul()
{
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}
#endif

} // namespace

namespace {
std::uint32_t tableUpdate(std::uint32_t r, const unsigned char *p, std::size_t length)
{
    while (length >= 8) {
        std::uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        if constexpr (std::endian::native == std::endian::big) {
            lo = __builtin_bswap32(lo);
            hi = __builtin_bswap32(hi);
        }
        lo ^= r;
        r = Tables[7][lo & 0xFF] ^ Tables[6][(lo >> 8) & 0xFF] ^ Tables[5][(lo >> 16) & 0xFF]
            ^ Tables[4][lo >> 24] ^ Tables[3][hi & 0xFF] ^ Tables[2][(hi >> 8) & 0xFF]
            ^ Tables[1][(hi >> 16) & 0xFF] ^ Tables[0][hi >> 24];
        p += 8;
        length -= 8;
    }
    while (length--)
        r = Tables[0][(r ^ *p++) & 0xFF] ^ (r >> 8);
    return r;
}
} // namespace

std::uint32_t Crc32UpdatePortable(std::uint32_t start, const void *data, std::size_t length)
{
    return tableUpdate(~start, static_cast<const unsigned char *>(data), length);
}

std::uint32_t Crc32Update(std::uint32_t start, const void *data, std::size_t length)
{
    std::uint32_t r = ~start;
    auto p = static_cast<const unsigned char *>(data);
#if defined(__x86_64__)
    if (length >= 64 && havePclmul()) {
        const std::size_t chunk = length & ~std::size_t(15);
        r = foldPclmul(p, chunk, r);
        p += chunk;
        length -= chunk;
    }
#endif
    return tableUpdate(r, p, length);
}

std::uint32_t Crc32Checksum(const void *data, std::size_t length, std::uint32_t options)
{
    if (!(options & Crc32OptionEnabled))
        return 0;
    return Crc32Update(0, data, length);
}
