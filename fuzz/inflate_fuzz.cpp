// Arbitrary bytes as a server's compressed stream, through the client's
// inflate layer in arbitrary reads and pieces. The first bytes choose the read
// sizes and the piece size; what comes out, and whether the stream is found
// broken, must not depend on them.
#include "TDeflateLink.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

struct Result {
    QByteArray out;
    bool broken = false;
};

Result Run(const uint8_t *data, size_t size, const uint8_t *cuts, size_t ncuts, qsizetype piece)
{
    Result r;
    TDeflateLink link;
    if (!link.Start())
        std::abort();
    size_t pos = 0, k = 0;
    while (pos < size && !r.broken) {
        size_t n = ncuts ? size_t(cuts[k++ % ncuts]) + 1 : size;
        if (n > size - pos)
            n = size - pos;
        link.Input(QByteArray(reinterpret_cast<const char *>(data) + pos, qsizetype(n)));
        pos += n;
        QByteArray got;
        do {
            if (!link.Inflate(got, piece)) {
                r.broken = true;
                break;
            }
            if (got.size() > piece)
                std::abort();
            r.out += got;
        } while (!got.isEmpty() && r.out.size() < (qsizetype(1) << 24));
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const qsizetype piece = qsizetype(data[0]) * 64 + 1;
    const size_t ncuts = data[1] % 8;
    if (size < 2 + ncuts)
        return 0;
    const uint8_t *cuts = data + 2;
    const uint8_t *stream = data + 2 + ncuts;
    const size_t len = size - 2 - ncuts;

    const Result whole = Run(stream, len, nullptr, 0, qsizetype(1) << 16);
    const Result split = Run(stream, len, cuts, ncuts, piece);
    if (whole.broken != split.broken)
        std::abort();
    // A broken stream may have given a little more before the break was seen.
    if (!whole.broken && whole.out != split.out)
        std::abort();
    return 0;
}
