// Arbitrary bytes read as a JPEG picture: an error is fine, a crash or an
// exit() is not, nor a picture decoded that its markers put past the work
// bounds.
#include "FuzzCheck.h"
#include "JpegWorkLimit.h"
#include "TJPEGImage.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromData(bytes);
        const QImage &img = jpeg.Bitmap();
        if (!img.isNull() && (img.width() <= 0 || img.height() <= 0))
            __builtin_trap();
        // What its markers put past the bounds, libjpeg must not have read.
        check(JpegWorkLimit::Of(bytes) == JpegWorkLimit::Within, "decoded past the work bounds");
    } catch (const EJPEGError &) {
    }
    return 0;
}
