#include "TDeflateLink.h"

#include <zlib.h>

// Raw deflate: a negative window size leaves out the zlib header and check.
static constexpr int RawWindowBits = -15;

struct TDeflateLink::Streams {
    z_stream in{};
    z_stream out{};
    bool inReady = false;
    bool outReady = false;
    ~Streams()
    {
        if (inReady)
            inflateEnd(&in);
        if (outReady)
            deflateEnd(&out);
    }
};

TDeflateLink::TDeflateLink() = default;
TDeflateLink::~TDeflateLink() = default;

bool TDeflateLink::Start()
{
    Stop();
    auto s = std::make_unique<Streams>();
    int r = inflateInit2(&s->in, RawWindowBits);
    if (r != Z_OK)
        return Fail(r, s->in.msg);
    s->inReady = true;
    r = deflateInit2(&s->out, Z_DEFAULT_COMPRESSION, Z_DEFLATED, RawWindowBits, 8, Z_DEFAULT_STRATEGY);
    if (r != Z_OK)
        return Fail(r, s->out.msg);
    s->outReady = true;
    streams_ = std::move(s);
    return true;
}

void TDeflateLink::Stop()
{
    streams_.reset();
    in_.clear();
    inPos_ = 0;
    ended_ = false;
    filled_ = false;
    error_.clear();
}

bool TDeflateLink::Fail(int code, const char *message)
{
    error_ = message ? QString::fromLatin1(message) : QStringLiteral("zlib error %1").arg(code);
    return false;
}

bool TDeflateLink::Deflate(const QByteArray &plain, QByteArray &out)
{
    out.clear();
    if (!streams_)
        return Fail(Z_STREAM_ERROR, "compression is not on");
    z_stream &z = streams_->out;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.constData()));
    z.avail_in = uInt(plain.size());
    // Commands are short: the bound and a flush marker fit at the first go.
    qsizetype room = qsizetype(deflateBound(&z, uLong(plain.size()))) + 16;
    do {
        const qsizetype done = out.size();
        out.resize(done + room);
        z.next_out = reinterpret_cast<Bytef *>(out.data() + done);
        z.avail_out = uInt(room);
        const int r = deflate(&z, Z_SYNC_FLUSH);
        out.resize(done + room - qsizetype(z.avail_out));
        if (r != Z_OK && r != Z_BUF_ERROR)
            return Fail(r, z.msg);
    } while (z.avail_out == 0);
    return true;
}

void TDeflateLink::Input(QByteArray compressed)
{
    if (inPos_ >= in_.size()) {
        in_ = std::move(compressed);
    } else {
        in_.remove(0, inPos_);
        in_ += compressed;
    }
    inPos_ = 0;
}

bool TDeflateLink::Inflate(QByteArray &out, qsizetype maxOut)
{
    out.clear();
    if (!streams_)
        return Fail(Z_STREAM_ERROR, "compression is not on");
    if (!error_.isEmpty())
        return false;
    const qsizetype avail = in_.size() - inPos_;
    if (ended_) {
        if (avail > 0)
            return Fail(Z_DATA_ERROR, "data after the end of the stream");
        return true;
    }
    // zlib holds output back only when the last piece filled up.
    if (avail == 0 && !filled_)
        return true;
    z_stream &z = streams_->in;
    out.resize(maxOut);
    // zlib only reads its input: no need to detach a chunk shared with the socket.
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in_.constData() + inPos_));
    z.avail_in = uInt(avail);
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(maxOut);
    // One call runs until the input is used up or the piece is full.
    const int r = inflate(&z, Z_SYNC_FLUSH);
    inPos_ = in_.size() - qsizetype(z.avail_in);
    filled_ = z.avail_out == 0;
    out.resize(maxOut - qsizetype(z.avail_out));
    if (inPos_ >= in_.size()) {
        in_.clear();
        inPos_ = 0;
    }
    switch (r) {
    case Z_OK:
    case Z_BUF_ERROR: // nothing more to do with what has come
        return true;
    case Z_STREAM_END:
        // A server ends its stream only by closing the connection: nothing may follow.
        ended_ = true;
        if (inPos_ < in_.size()) {
            out.clear();
            return Fail(Z_DATA_ERROR, "data after the end of the stream");
        }
        return true;
    case Z_NEED_DICT:
        return Fail(r, "a preset dictionary is needed");
    default:
        out.clear();
        return Fail(r, z.msg);
    }
}
