#include "ZqChecksumCRC32.h"

#include <array>
#include <bit>
#include <cstring>

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

} // namespace

std::uint32_t Crc32Update(std::uint32_t start, const void *data, std::size_t length)
{
    std::uint32_t r = ~start;
    auto p = static_cast<const unsigned char *>(data);
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

std::uint32_t Crc32Checksum(const void *data, std::size_t length, std::uint32_t options)
{
    if (!(options & Crc32OptionEnabled))
        return 0;
    return Crc32Update(0, data, length);
}
