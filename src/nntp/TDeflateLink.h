#pragma once
#include <QByteArray>
#include <QString>

#include <memory>

// The compression layer of an NNTP connection after COMPRESS DEFLATE
// (RFC 8054): raw deflate without a zlib header, one stream each way for
// the rest of the connection. What goes out is flushed at every call, so
// the server can act on each batch of commands; what comes in is inflated
// in pieces of a bounded size, so a small read cannot swell into one huge
// buffer before the reply limits are checked.
class TDeflateLink {
public:
    TDeflateLink();
    ~TDeflateLink();
    TDeflateLink(const TDeflateLink &) = delete;
    TDeflateLink &operator=(const TDeflateLink &) = delete;

    // Fresh streams both ways; false (Error tells why) when zlib cannot set
    // them up.
    bool Start();
    void Stop();
    bool Active() const { return streams_ != nullptr; }

    // plain compressed into out, ended by a sync flush; false on a zlib failure.
    bool Deflate(const QByteArray &plain, QByteArray &out);

    // Bytes as they came from the server, for Inflate to take.
    void Input(QByteArray compressed);
    // The next at most maxOut inflated bytes into out; empty once the input
    // is used up. False when the stream is broken (Error says how): the
    // connection cannot be read any further.
    bool Inflate(QByteArray &out, qsizetype maxOut);
    // zlib's words for the last failure.
    const QString &Error() const { return error_; }

private:
    struct Streams;
    bool Fail(int code, const char *message);

    std::unique_ptr<Streams> streams_;
    QByteArray in_;
    qsizetype inPos_ = 0;
    bool ended_ = false;
    bool filled_ = false; // the last Inflate filled its piece
    QString error_;
};
