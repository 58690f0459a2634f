#include "ArticleDecode.h"

#include "TPictureBounds.h"
#include "ZqChecksumCRC32.h"

namespace {

void judgeWhole(TDecodedArticle &d, const QByteArray &data, const TArticleWish &wish)
{
    d.Whole = true;
    if (wish.Fingerprint) {
        d.Print = TPictureFingerprint::Of(data);
        d.Printed = true;
    }
    d.Refusal = TPictureBounds::Refusal(data);
}

} // namespace

TDecodedArticle DecodeArticle(const QList<QByteArray> &body, const TArticleWish &wish)
{
    TDecodedArticle d;
    if (IsYEncBody(body)) {
        d.What = TDecodedArticle::YEnc;
        d.Y = DecodeYEnc(body);
        if (d.Y.State == YEncResult::Whole) {
            d.KeyCrc = ~d.Y.Crc;
            judgeWhole(d, d.Y.Data, wish);
        }
        return d;
    }
    if (EncodingOf(body) != BodyEncoding::Uue)
        return d;
    d.What = TDecodedArticle::Attachment;
    d.Lines = body;
    d.Result = DecodeAttachment(d.Lines, d.Stream, d.Name);
    if (d.Result == DecodeComplete) {
        d.KeyCrc = Crc32Checksum(d.Stream.constData(), size_t(d.Stream.size()), Crc32OptionEnabled);
        judgeWhole(d, d.Stream, wish);
    }
    return d;
}
