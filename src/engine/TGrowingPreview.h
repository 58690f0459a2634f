#pragma once
#include <QByteArray>
#include <QList>

class TGrabEngine;

// The preview of a body still arriving. Decoding and loading a growing
// picture costs more the more has come: a pass at most every 200 lines,
// PreviewIntervalMs after the body request or the end of the last pass,
// never while the last pass took more than a quarter of the time since it
// ended, and not past any picture's size.
class TGrowingPreview {
public:
    explicit TGrowingPreview(TGrabEngine &engine) : w_(engine) {}
    // A body was asked for: one that comes quickly is only previewed once saved.
    void BodyRequested();
    // The body has grown to lines, bodyBytes.
    void Grown(const QList<QByteArray> &lines, qint64 bodyBytes);

private:
    TGrabEngine &w_;
    qint64 mark_ = 0; // body lines at the last pass
    // Measure-clock time of the body request or the end of the last pass;
    // -1 before the first body.
    qint64 lastNs_ = -1;
    qint64 lastPassNs_ = 0;
};
