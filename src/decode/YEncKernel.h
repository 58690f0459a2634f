#pragma once
#include <cstddef>

// The inner loop of yEnc decoding: every byte is (c - 42) mod 256, a "="
// makes the next byte (c - 106) mod 256, CR and LF are dropped (they are the
// transport's; an escape followed by one of them is dropped with it). Works on
// one line or on a whole body as received once its dot-stuffing is undone.
//
// out needs room for n + YEncKernelSlack bytes: the vector paths store whole
// registers. escaped carries a "=" left open at the end of in to the next
// call; a caller decoding line by line passes false for every line.
constexpr std::size_t YEncKernelSlack = 32;

enum class YEncPath { Scalar, Sse2, Ssse3, Avx2 };

// Returns the number of bytes written.
std::size_t YEncDecodeKernel(const unsigned char *in, std::size_t n, unsigned char *out, bool &escaped);

// Lines the news client left side by side in one received block, each
// followed by the zero that replaced its CR and by its LF: decoded in one
// call, the zeros taken as line ends too (the encoding never has a bare one;
// the caller checks the size to be sure).
std::size_t YEncDecodeJoined(const unsigned char *in, std::size_t n, unsigned char *out);

// The same through one given path (falls back to the best one below it the
// processor has); exposed so every path is tested and benchmarked.
std::size_t YEncDecodeWith(YEncPath path, const unsigned char *in, std::size_t n, unsigned char *out,
                           bool &escaped, bool nulEndsLines = false);

// The path YEncDecodeKernel takes on this processor.
YEncPath YEncBestPath();
const char *YEncPathName(YEncPath path);
