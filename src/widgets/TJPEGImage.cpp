#include "TJPEGImage.h"

#include "JpegWorkLimit.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

EJPEGError::EJPEGError(int code)
    : std::runtime_error("JPEG error #" + std::to_string(code)), Code(code)
{
}

namespace {

// libjpeg's default error_exit prints and calls exit(); ours jumps back to
// the decoding function instead. Only plain data lives here.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    std::longjmp(err->jump, 1);
}

// Warnings (premature end, corrupt data) are not reported: a picture still
// arriving is shown as far as it goes.
void emitMessage(j_common_ptr, int) {}
void outputMessage(j_common_ptr) {}

// Memory source that ends the data with a fake EOI marker, as libjpeg's own
// sources do, but without the "premature end" warning.
const JOCTET fakeEoi[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}

boolean fillInputBuffer(j_decompress_ptr cinfo)
{
    // Reached only after the whole buffer was consumed (or when it was empty).
    cinfo->src->next_input_byte = fakeEoi;
    cinfo->src->bytes_in_buffer = 2;
    return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count)
{
    jpeg_source_mgr *src = cinfo->src;
    while (count > 0) {
        if (size_t(count) <= src->bytes_in_buffer) {
            src->next_input_byte += count;
            src->bytes_in_buffer -= size_t(count);
            return;
        }
        count -= long(src->bytes_in_buffer);
        fillInputBuffer(cinfo);
    }
}

void termSource(j_decompress_ptr) {}

// The length of the data that ends with the last whole marker segment. Data
// cut inside a segment header (a Huffman table or scan header between the
// scans of a progressive picture) would make libjpeg fail; without the broken
// segment it decodes the scans that did arrive. Data that does not walk as
// JPEG segments is left for libjpeg to judge.
size_t completeLength(const JOCTET *d, size_t size)
{
    if (size < 2 || d[0] != 0xFF || d[1] != 0xD8)
        return size;
    size_t pos = 2;
    for (;;) {
        if (pos >= size)
            return size;
        if (d[pos] != 0xFF)
            return size;
        while (pos + 1 < size && d[pos + 1] == 0xFF) // fill bytes
            ++pos;
        if (pos + 1 >= size)
            return pos;
        const int marker = d[pos + 1];
        if (marker == JPEG_EOI)
            return size;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // TEM, RSTn: no length
            pos += 2;
            continue;
        }
        if (pos + 4 > size)
            return pos;
        const size_t length = size_t(d[pos + 2]) << 8 | d[pos + 3];
        if (pos + 2 + length > size)
            return pos;
        pos += 2 + length;
        if (marker != 0xDA) // SOS
            continue;
        // Entropy-coded data runs to the next marker other than a stuffed zero
        // or a restart; cut there is fine, libjpeg ends the scan itself.
        // Megabytes of it in a big picture: jump from 0xFF to 0xFF.
        for (;; ++pos) {
            const void *ff = pos < size ? std::memchr(d + pos, 0xFF, size - pos) : nullptr;
            if (ff == nullptr)
                return size;
            pos = size_t(static_cast<const JOCTET *>(ff) - d);
            if (pos + 1 >= size)
                return size;
            const int next = d[pos + 1];
            if (next != 0 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7))
                break;
        }
    }
}

// Adobe writes CMYK inverted (and says so with its APP14 marker); plain CMYK
// is stored the ordinary way.
inline void cmykToRgb(const JSAMPLE *in, uchar *out, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        int c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[0] = uchar(c * k / 255);
        out[1] = uchar(m * k / 255);
        out[2] = uchar(y * k / 255);
    }
}

inline void grayToRgb(const JSAMPLE *in, uchar *out, JDIMENSION width)
{
    for (JDIMENSION x = 0; x < width; ++x, out += 3)
        out[0] = out[1] = out[2] = in[x];
}

// Decodes into *out (and the stored size into *full) and returns 0, or
// returns libjpeg's message number. No object with a destructor lives in this
// frame: a longjmp out of libjpeg would skip it. The image is created by
// assignment, whose temporary is gone before libjpeg runs again.
int decode(const JOCTET *data, size_t size, int targetWidth, int targetHeight, QImage *out, QSize *full)
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_source_mgr src;
    JpegWorkLimit limit;

    // Zeroed so that destroying after a failed create is harmless.
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
    if (setjmp(err.jump)) {
        const int code = err.pub.msg_code;
        jpeg_destroy_decompress(&cinfo);
        return code != 0 ? code : int(JERR_FILE_READ);
    }
    jpeg_create_decompress(&cinfo);

    if (size == 0)
        ERREXIT(&cinfo, JERR_INPUT_EMPTY);

    src.next_input_byte = data;
    src.bytes_in_buffer = completeLength(data, size);
    src.init_source = initSource;
    src.fill_input_buffer = fillInputBuffer;
    src.skip_input_data = skipInputData;
    src.resync_to_restart = jpeg_resync_to_restart;
    src.term_source = termSource;
    cinfo.src = &src;

    jpeg_read_header(&cinfo, TRUE);

    if (qint64(cinfo.image_width) * qint64(cinfo.image_height) > TJPEGImage::MaxPixels)
        ERREXIT1(&cinfo, JERR_IMAGE_TOO_BIG, JPEG_MAX_DIMENSION);
    limit.Watch(&cinfo);

    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        break;
    default:
        cinfo.out_color_space = JCS_RGB;
        break;
    }
    *full = QSize(int(cinfo.image_width), int(cinfo.image_height));
    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(TJPEGImage::ScaleDenominator(*full, QSize(targetWidth, targetHeight)));
    jpeg_start_decompress(&cinfo);

    *out = QImage(int(cinfo.output_width), int(cinfo.output_height), QImage::Format_RGB888);
    if (out->isNull())
        ERREXIT1(&cinfo, JERR_OUT_OF_MEMORY, 0);

    {
        const bool direct = cinfo.out_color_space == JCS_RGB;
        const bool inverted = cinfo.saw_Adobe_marker;
        JSAMPARRAY row = nullptr;
        if (!direct)
            row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                             cinfo.output_width * JDIMENSION(cinfo.output_components), 1);
        while (cinfo.output_scanline < cinfo.output_height) {
            uchar *line = out->scanLine(int(cinfo.output_scanline));
            JSAMPROW target = direct ? line : row[0];
            // Our source never suspends, so no row would mean a stuck loop.
            if (jpeg_read_scanlines(&cinfo, &target, 1) != 1)
                ERREXIT(&cinfo, JERR_INPUT_EOF);
            if (direct)
                continue;
            if (cinfo.out_color_space == JCS_GRAYSCALE)
                grayToRgb(row[0], line, cinfo.output_width);
            else
                cmykToRgb(row[0], line, cinfo.output_width, inverted);
        }
    }

    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return 0;
}

} // namespace

int TJPEGImage::ScaleDenominator(QSize full, QSize target)
{
    if (target.width() <= 0 || target.height() <= 0)
        return 1;
    const auto covers = [&](int d) {
        return (qint64(full.width()) + d - 1) / d >= target.width()
            && (qint64(full.height()) + d - 1) / d >= target.height();
    };
    for (int d : {8, 4, 2})
        if (covers(d))
            return d;
    return 1;
}

void TJPEGImage::LoadFromData(const QByteArray &data, QSize target)
{
    QImage image;
    QSize full;
    const int code = decode(reinterpret_cast<const JOCTET *>(data.constData()), size_t(data.size()), target.width(),
                            target.height(), &image, &full);
    if (code != 0)
        throw EJPEGError(code);
    bitmap_ = std::move(image);
    fullSize_ = full;
}

void TJPEGImage::LoadFromFile(const QString &path, QSize target)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EJPEGError(JERR_FILE_READ);
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EJPEGError(JERR_FILE_READ);
    LoadFromData(data, target);
}
