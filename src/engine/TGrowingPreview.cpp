#include "TGrowingPreview.h"

#include "Decode.h"
#include "TGrabEngine.h"
#include "TMeasureClock.h"

void TGrowingPreview::BodyRequested()
{
    mark_ = 0;
    lastNs_ = TMeasureClock::NowNs();
}

void TGrowingPreview::Grown(const QList<QByteArray> &lines, qint64 bodyBytes)
{
    const qint64 count = lines.size();
    if (!w_.PreviewEnabled || count - mark_ < 200 || bodyBytes > w_.PreviewBodyLimitBytes)
        return;
    if (lastNs_ >= 0) {
        const qint64 lastPassNs = mark_ == 0 ? 0 : lastPassNs_; // 0: none yet for this body
        const qint64 sinceNs = TMeasureClock::NowNs() - lastNs_;
        if (sinceNs < w_.PreviewIntervalMs * 1000000 || sinceNs < 4 * lastPassNs)
            return;
    }
    const qint64 passStartNs = TMeasureClock::NowNs();
    mark_ = count;
    QList<QByteArray> copy = lines; // the decoder edits its list
    QByteArray stream;
    QByteArray name;
    const int r = DecodeAttachment(copy, stream, name);
    if (r == DecodeComplete || r == DecodePartial)
        w_.Events().PreviewData(stream, false);
    lastNs_ = TMeasureClock::NowNs();
    lastPassNs_ = lastNs_ - passStartNs;
}
