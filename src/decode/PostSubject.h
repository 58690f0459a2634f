#pragma once
#include <QByteArray>

// What a poster's subject line says about the post: which part of how many
// an article is, and the file name it announces. Plain functions on bytes,
// so a table can feed them subjects.

struct PartMarker {
    int Part = 0;  // 1-based; 0 when the subject carries no marker
    int Total = 0;
    // The subject with the part number taken out: the same for every part
    // of one post, different for another post.
    QByteArray Post;
};

// The last marker of the shapes "(k/n)", "[k/n]" and "k of n", with
// 1 <= k <= n; the last, because a series number may come first
// ("[03/12] - cat.jpg (1/3)").
PartMarker ParsePartMarker(const QByteArray &subject);

// The file name a subject announces: a quoted name, else the word that looks
// like name.ext (a picture's extension first). Empty when there is none.
QByteArray AnnouncedName(const QByteArray &subject);

// A name that is more than blanks and whose bytes are valid in the file
// system's encoding.
bool UsableName(const QByteArray &name);

// A Base64 file's name: its MIME name, else the name its subject announces;
// empty when neither is usable (the caller falls back to the subject).
QByteArray Base64FileName(const QByteArray &decoderName, const QByteArray &subject);

// A JPEG or PNG from its first byte to its last: what a series numbered
// "(1/12)", one picture an article, posts under each number; a part of a
// split picture never both starts and ends so.
bool IsWholePicture(const QByteArray &data);
