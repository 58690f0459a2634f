#pragma once
#include <QByteArray>

// Pictures that cost a decoder far more than their size suggests, made from
// real ones.

// A JPEG made progressive by jpegtran (its own ten scans for colour, or the
// scan script given).
QByteArray Progressive(const QByteArray &jpeg, const QByteArray &scanScript = QByteArray());
// The JPEG with its scan-th scan (from 0; -1 the last) following itself
// `times` more times, as one repeated scan would.
QByteArray RepeatedScan(const QByteArray &jpeg, int scan, int times);
// The same picture claiming another size in its frame header (its data
// then decodes as far as it fits).
QByteArray WithFrameSize(QByteArray jpeg, int width, int height);
// The GIF with its first frame (and the extension before it) following
// itself `times` more times: an animation of that many frames.
QByteArray RepeatedFirstFrame(const QByteArray &gif, int times);
