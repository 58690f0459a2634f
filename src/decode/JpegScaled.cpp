#include "JpegScaled.h"

#include "JpegWorkLimit.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1); }
void emitMessage(j_common_ptr, int) {}

// The largest of 8, 4, 2 that keeps both sides at minSide or more, else 1.
unsigned denominator(unsigned width, unsigned height, unsigned minSide)
{
    for (unsigned d : {8u, 4u, 2u})
        if ((width + d - 1) / d >= minSide && (height + d - 1) / d >= minSide)
            return d;
    return 1;
}

} // namespace

// No object with a destructor lives in this frame, which libjpeg may
// longjmp out of: the pixels belong to the caller.
bool DecodeJpegScaled(const QByteArray &data, int minSide, JpegPixels *out)
{
    std::vector<std::uint8_t> *pixels = &out->Pixels;
    int *width = &out->Width, *height = &out->Height, *channels = &out->Channels;
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    JpegWorkLimit limit;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(data.constData()), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    // Pictures declare their size: a few hostile bytes must not ask for gigabytes.
    if (qint64(cinfo.image_width) * cinfo.image_height > 64ll * 1024 * 1024 || cinfo.num_components == 4) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    limit.Watch(&cinfo);
    cinfo.out_color_space = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_YCbCr;
    cinfo.scale_num = 1;
    cinfo.scale_denom = denominator(cinfo.image_width, cinfo.image_height, unsigned(qMax(0, minSide)));
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.do_block_smoothing = FALSE;
    // At 1/8 scale only the mean of each block is wanted: a progressive
    // picture sends those first, and the rest of it is never decoded. (A
    // sequential one of several scans has no coefficient bits to watch.)
    const bool progressive = cinfo.progressive_mode && cinfo.scale_denom == 8;
    cinfo.buffered_image = progressive ? TRUE : FALSE;
    jpeg_start_decompress(&cinfo);
    if (progressive) {
        for (;;) {
            JpegWorkLimit::Check(&cinfo);
            const int r = jpeg_consume_input(&cinfo);
            if (r == JPEG_REACHED_EOI || r == JPEG_SUSPENDED)
                break;
            if (r != JPEG_SCAN_COMPLETED)
                continue;
            bool allMeans = true;
            for (int c = 0; c < cinfo.num_components; ++c)
                allMeans = allMeans && cinfo.coef_bits[c][0] >= 0;
            if (allMeans)
                break;
        }
        jpeg_start_output(&cinfo, cinfo.input_scan_number);
    }
    *width = int(cinfo.output_width);
    *height = int(cinfo.output_height);
    *channels = cinfo.output_components;
    pixels->resize(size_t(*width) * size_t(*height) * size_t(*channels));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels->data() + size_t(cinfo.output_scanline) * size_t(*width) * size_t(*channels);
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
            break;
    }
    jpeg_abort_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}
