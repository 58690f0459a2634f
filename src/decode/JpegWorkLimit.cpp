#include "JpegWorkLimit.h"

#include <jerror.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The bound a new scan of this many blocks passes, if any; counts it in.
JpegWorkLimit::Reason count(int &scans, std::int64_t &blocks, int newScans, std::int64_t scanBlocks)
{
    scans += newScans;
    blocks += scanBlocks * newScans;
    if (scans > JpegWorkLimit::MaxScans)
        return JpegWorkLimit::TooManyScans;
    if (blocks > JpegWorkLimit::MaxScanBlocks)
        return JpegWorkLimit::TooManyBlocks;
    return JpegWorkLimit::Within;
}

void monitor(j_common_ptr common)
{
    if (!common->is_decompressor)
        return;
    auto *cinfo = reinterpret_cast<j_decompress_ptr>(common);
    auto *limit = reinterpret_cast<JpegWorkLimit *>(cinfo->progress);
    // Called for every row of blocks: a scan is counted when first seen.
    if (cinfo->input_scan_number <= limit->Scans)
        return;
    std::int64_t scanBlocks = 0;
    for (int i = 0; i < cinfo->comps_in_scan; ++i)
        scanBlocks += std::int64_t(cinfo->cur_comp_info[i]->width_in_blocks)
            * cinfo->cur_comp_info[i]->height_in_blocks;
    limit->Exceeded = count(limit->Scans, limit->Blocks, cinfo->input_scan_number - limit->Scans, scanBlocks);
    if (limit->Exceeded != JpegWorkLimit::Within)
        ERREXIT1(cinfo, JERR_IMAGE_TOO_BIG, JPEG_MAX_DIMENSION);
}

int be16(const std::uint8_t *p) { return p[0] << 8 | p[1]; }

std::int64_t roundUp(std::int64_t n, int multiple) { return (n + multiple - 1) / multiple * multiple; }

struct Component {
    int Id = -1;
    std::int64_t Blocks = 0;
    std::int64_t Buffered = 0; // whole rows and columns of its MCUs, as libjpeg keeps them
};

// A component's blocks as libjpeg sizes them from the frame.
Component component(int id, std::int64_t width, std::int64_t height, int h, int v, int hMax, int vMax)
{
    const std::int64_t across = (width * h + 8 * hMax - 1) / (8 * hMax);
    const std::int64_t down = (height * v + 8 * vMax - 1) / (8 * vMax);
    return {id, across * down, roundUp(across, h) * roundUp(down, v)};
}

} // namespace

void JpegWorkLimit::Watch(jpeg_decompress_struct *cinfo)
{
    Progress.progress_monitor = monitor;
    Exceeded = Within;
    Scans = 0;
    Blocks = 0;
    cinfo->progress = &Progress;
    if (!jpeg_has_multiple_scans(cinfo))
        return;
    std::int64_t buffered = 0;
    for (int c = 0; c < cinfo->num_components; ++c) {
        const jpeg_component_info &info = cinfo->comp_info[c];
        buffered +=
            roundUp(info.width_in_blocks, info.h_samp_factor) * roundUp(info.height_in_blocks, info.v_samp_factor);
    }
    if (buffered > MaxBufferedBlocks) {
        Exceeded = TooLarge;
        ERREXIT1(cinfo, JERR_IMAGE_TOO_BIG, JPEG_MAX_DIMENSION);
    }
}

void JpegWorkLimit::Check(jpeg_decompress_struct *cinfo)
{
    if (cinfo->progress)
        cinfo->progress->progress_monitor(reinterpret_cast<j_common_ptr>(cinfo));
}

JpegWorkLimit::Reason JpegWorkLimit::Of(const QByteArray &data)
{
    const auto *d = reinterpret_cast<const std::uint8_t *>(data.constData());
    const std::size_t n = std::size_t(data.size());
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return Within;
    std::array<Component, 4> comps{};
    bool progressive = false;
    int components = 0, scans = 0;
    std::int64_t blocks = 0;
    std::size_t at = 2;
    for (;;) {
        if (at + 2 > n || d[at] != 0xFF)
            return Within; // damaged or cut: libjpeg stops there too
        while (at + 1 < n && d[at + 1] == 0xFF)
            ++at;
        if (at + 2 > n)
            return Within;
        const std::uint8_t m = d[at + 1];
        at += 2;
        if (m == 0xD9)
            return Within;
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7))
            continue;
        if (at + 2 > n)
            return Within;
        const std::size_t len = std::size_t(be16(d + at));
        if (len < 2 || at + len > n)
            return Within;
        const std::uint8_t *s = d + at + 2;
        const std::size_t sLen = len - 2;
        at += len;
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            // A frame: each component's blocks as libjpeg sizes them.
            if (sLen < 6 || s[5] < 1 || s[5] > 4 || sLen < 6 + 3 * std::size_t(s[5]))
                return Within;
            const std::int64_t height = be16(s + 1), width = be16(s + 3);
            const int count = s[5];
            int hMax = 1, vMax = 1;
            for (int c = 0; c < count; ++c) {
                const int h = s[7 + 3 * c] >> 4, v = s[7 + 3 * c] & 15;
                if (h < 1 || v < 1)
                    return Within; // libjpeg refuses the frame
                hMax = std::max(hMax, h);
                vMax = std::max(vMax, v);
            }
            comps.fill({});
            for (int c = 0; c < count; ++c)
                comps[std::size_t(c)] = component(s[6 + 3 * c], width, height, s[7 + 3 * c] >> 4, s[7 + 3 * c] & 15,
                                                  hMax, vMax);
            progressive = m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE;
            components = count;
            continue;
        }
        if (m != 0xDA || sLen < 1)
            continue;
        std::int64_t scanBlocks = 0;
        for (std::size_t i = 0; i < s[0] && 2 + 2 * i < sLen; ++i) {
            const auto c =
                std::find_if(comps.begin(), comps.end(), [&](const Component &k) { return k.Id == s[1 + 2 * i]; });
            if (c != comps.end())
                scanBlocks += c->Blocks;
        }
        // As libjpeg decides at the first scan: several scans are buffered whole.
        if (scans == 0 && (progressive || s[0] < components)) {
            std::int64_t buffered = 0;
            for (const Component &c : comps)
                buffered += c.Buffered;
            if (buffered > MaxBufferedBlocks)
                return TooLarge;
        }
        if (const Reason r = count(scans, blocks, 1, scanBlocks); r != Within)
            return r;
        // The entropy-coded data runs to the next marker that is not a
        // stuffed zero or a restart.
        for (;;) {
            const void *ff = at < n ? std::memchr(d + at, 0xFF, n - at) : nullptr;
            if (!ff)
                return Within;
            at = std::size_t(static_cast<const std::uint8_t *>(ff) - d);
            if (at + 1 >= n)
                return Within;
            const std::uint8_t next = d[at + 1];
            if (next != 0 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7))
                break;
            at += next == 0xFF ? 1 : 2;
        }
    }
}

QByteArray JpegWorkLimit::Line(Reason reason)
{
    switch (reason) {
    case TooManyScans:
        return "The picture was not previewed: it has more than " + QByteArray::number(MaxScans) + " scans.";
    case TooManyBlocks:
        return "The picture was not previewed: its scans cover more than " + QByteArray::number(MaxScanBlocks)
            + " blocks.";
    case TooLarge:
        return "The picture was not previewed: it is too large to hold while its scans are read.";
    case Within:
        break;
    }
    return {};
}
