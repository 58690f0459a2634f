// CRC-32 throughput on 1 MiB, ours against zlib's on the same buffer.
#include "ZqChecksumCRC32.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

const std::vector<unsigned char> &data()
{
    static const std::vector<unsigned char> buf = [] {
        std::vector<unsigned char> b(1 << 20);
        std::mt19937 rng(42);
        for (auto &c : b)
            c = static_cast<unsigned char>(rng());
        // Same answer or the comparison is meaningless.
        const uLong z = crc32(crc32(0, nullptr, 0), b.data(), uInt(b.size()));
        if (Crc32Checksum(b.data(), b.size(), Crc32OptionEnabled) != ~std::uint32_t(z))
            throw std::runtime_error("CRC mismatch against zlib");
        return b;
    }();
    return buf;
}

void BM_Crc32Pixtrawl(benchmark::State &state)
{
    const auto &b = data();
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc32Checksum(b.data(), b.size(), Crc32OptionEnabled));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
}

void BM_Crc32Zlib(benchmark::State &state)
{
    const auto &b = data();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0, b.data(), uInt(b.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
}

} // namespace

BENCHMARK(BM_Crc32Pixtrawl);
BENCHMARK(BM_Crc32Zlib);
