// Arbitrary bytes read for their block means, against libjpeg's own 1/8
// decode: what the fast reader accepts, libjpeg must read too, and to the
// same luma, byte for byte.
#include "FuzzCheck.h"
#include "JpegBlockMeans.h"

#include <QByteArray>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// No object with a destructor lives in this frame, which libjpeg may leave
// by longjmp: the pixels belong to the caller.
bool libjpegEighth(const std::uint8_t *data, std::size_t size, std::vector<std::uint8_t> *pixels, int *width,
                   int *height, int *channels)
{
    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<ErrorManager *>(c->err)->jump, 1); };
    err.pub.emit_message = [](j_common_ptr, int) {};
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_YCbCr;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    *width = int(cinfo.output_width);
    *height = int(cinfo.output_height);
    *channels = cinfo.output_components;
    pixels->resize(size_t(*width) * size_t(*height) * size_t(*channels));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW r = pixels->data() + size_t(cinfo.output_scanline) * size_t(*width) * size_t(*channels);
        jpeg_read_scanlines(&cinfo, &r, 1);
    }
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    JpegBlockMeans means;
    if (!DecodeJpegBlockMeans(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), &means))
        return 0;
    std::vector<std::uint8_t> pixels;
    int width = 0, height = 0, channels = 0;
    check(libjpegEighth(data, size, &pixels, &width, &height, &channels), "libjpeg refuses what the means reader read");
    check(width == means.Width && height == means.Height && channels == means.Channels, "another shape than libjpeg's");
    for (size_t i = 0; i < size_t(width) * size_t(height); ++i)
        check(pixels[i * size_t(channels)] == means.Pixels[i * size_t(channels)], "other luma than libjpeg's");
    return 0;
}
