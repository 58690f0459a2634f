// Arbitrary bytes read as a JPEG picture, and for the size and bounds their
// headers declare: an error is fine, a crash or an exit() is not, nor a
// picture decoded that its markers put past the work bounds.
#include "FuzzCheck.h"
#include "JpegWorkLimit.h"
#include "TJPEGImage.h"
#include "TPictureBounds.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // The headers the disposition reads of every file, whatever its format.
    const QSize declared = TPictureBounds::DeclaredSize(bytes);
    check(!declared.isValid() || !declared.isEmpty(), "an empty declared size");
    const bool refused = !TPictureBounds::Refusal(bytes).isEmpty();
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromData(bytes);
        const QImage &img = jpeg.Bitmap();
        if (!img.isNull() && (img.width() <= 0 || img.height() <= 0))
            __builtin_trap();
        // What its markers put past the bounds, libjpeg must not have read.
        check(JpegWorkLimit::Of(bytes) == JpegWorkLimit::Within && !refused, "decoded past the work bounds");
    } catch (const EJPEGError &) {
    }
    return 0;
}
