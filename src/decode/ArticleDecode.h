#pragma once
#include <QByteArray>
#include <QList>

#include "Decode.h"
#include "TPictureFingerprint.h"
#include "YEnc.h"

#include <cstdint>

// The heavy, stateless part of an article's disposal: decoding its body and
// what is worked out from the bytes alone (checksums, the look-alike
// fingerprint, whether the preview may decode it). A plain function of the
// body, so it runs on any thread; what to do with the result (joining,
// screening, saving) is the keeper's.

struct TArticleWish {
    bool Fingerprint = false; // SIMILAR_SCREENING is on
};

struct TDecodedArticle {
    enum Kind {
        Other,      // Base64 or nothing known: the keeper decodes it, with its own state
        YEnc,       // Y holds the file, the part or the damage
        Attachment, // uuencode or xxencode: DecodeAttachment's answer on this body alone
    };
    Kind What = Other;
    YEncResult Y;
    // Attachment: the answer, the body as the decoder left it (what joining
    // relies on), the bytes and the name.
    int Result = DecodeNothing;
    QList<QByteArray> Lines;
    QByteArray Stream;
    QByteArray Name;

    // Of a whole file (a whole yEnc file, or a complete attachment).
    bool Whole = false;
    std::uint32_t KeyCrc = 0; // the CRC-32 as the duplicate list's keys carry it
    bool Printed = false;     // Print was worked out (Fingerprint wished)
    TPictureFingerprint Print;
    QByteArray Refusal; // why the preview will not decode it, or empty
    // A whole file's bytes written already to a hidden temporary (the
    // output folder's), for the keeper to rename into place or remove.
    QByteArray Temporary;

    // Decoded bytes held.
    qint64 Bytes() const { return Y.Data.size() + Stream.size(); }
};

TDecodedArticle DecodeArticle(const QList<QByteArray> &body, const TArticleWish &wish);
