#pragma once
#include <cstddef>
#include <cstdint>

// CRC-32/JAMCRC: the zip/PNG CRC-32 without its final complement.
constexpr std::uint32_t Crc32OptionEnabled = 0x01000000;

std::uint32_t Crc32Update(std::uint32_t start, const void *data, std::size_t length);

// The same without the processor's carry-less multiply (what machines without
// it run); exposed so both paths are tested everywhere.
std::uint32_t Crc32UpdatePortable(std::uint32_t start, const void *data, std::size_t length);

// Crc32Update(0, data, length) when options carry Crc32OptionEnabled, else 0.
std::uint32_t Crc32Checksum(const void *data, std::size_t length, std::uint32_t options);
