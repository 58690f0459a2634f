// Arbitrary bytes read for their block means, against libjpeg's own 1/8
// decode: what the fast reader accepts, libjpeg must read too, and to the
// same luma, byte for byte.
#include "FuzzCheck.h"
#include "JpegBlockMeans.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    JpegBlockMeans means;
    if (!DecodeJpegBlockMeans(bytes, &means))
        return 0;
    JpegPixels ref;
    check(DecodeJpegScaled(bytes, 0, &ref),
          "libjpeg refuses what the means reader read");
    check(ref.Width == means.Width && ref.Height == means.Height && ref.Channels == means.Channels,
          "another shape than libjpeg's");
    for (size_t i = 0; i < size_t(ref.Width) * size_t(ref.Height); ++i)
        check(ref.Pixels[i * size_t(ref.Channels)] == means.Pixels[i * size_t(ref.Channels)], "other luma than libjpeg's");
    return 0;
}
