#include "ZqChecksumCRC32.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <gtest/gtest.h>
#include <zlib.h>

TEST(Crc32, CheckValues)
{
    EXPECT_EQ(Crc32Checksum("", 0, Crc32OptionEnabled), 0xFFFFFFFFu);
    EXPECT_EQ(Crc32Checksum("abc", 3, Crc32OptionEnabled), 0xCADBBE3Du);
    EXPECT_EQ(Crc32Checksum("123456789", 9, Crc32OptionEnabled), 0x340BC6D9u);
    EXPECT_EQ(Crc32Checksum("123456789", 9, 0), 0u);
    EXPECT_EQ(Crc32Checksum("123456789", 9, 0x00FFFFFF), 0u);
    EXPECT_EQ(Crc32Checksum("123456789", 9, 0xFF000000), 0x340BC6D9u);
}

TEST(Crc32, IsTheComplementOfZlibOnRandomDataOfManyLengthsAndAlignments)
{
    QRandomGenerator rng(1234);
    QByteArray buf(70000, '\0');
    for (auto &c : buf)
        c = char(rng.bounded(256));
    for (int len : {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 63, 64, 65, 255, 1000, 4097, 65536, 69990}) {
        for (int off : {0, 1, 3, 5}) {
            const auto *p = reinterpret_cast<const unsigned char *>(buf.constData()) + off;
            const uLong z = crc32(crc32(0, nullptr, 0), p, uInt(len));
            EXPECT_EQ(Crc32Checksum(p, size_t(len), Crc32OptionEnabled), ~std::uint32_t(z))
                << "len " << len << " offset " << off;
            EXPECT_EQ(Crc32UpdatePortable(0, p, size_t(len)), ~std::uint32_t(z))
                << "portable, len " << len << " offset " << off;
        }
    }
}

TEST(Crc32, UpdateStartsFromTheComplementOfStart)
{
    // Start is complemented on entry and the result is not: passing the
    // complement of a partial result continues the same checksum.
    const char *data = "123456789";
    const std::uint32_t first = Crc32Update(0, data, 4);
    EXPECT_EQ(Crc32Update(~first, data + 4, 5), 0x340BC6D9u);
}
