// Arbitrary bytes read as a JPEG picture: an error is fine, a crash or an
// exit() is not.
#include "TJPEGImage.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromData(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
        const QImage &img = jpeg.Bitmap();
        if (!img.isNull() && (img.width() <= 0 || img.height() <= 0))
            __builtin_trap();
    } catch (const EJPEGError &) {
    }
    return 0;
}
