#include "TDepthGauge.h"

#include <QtGlobal>

#include <cmath>

#include "TMeasureClock.h"

void TDepthGauge::Reset()
{
    *this = TDepthGauge();
}

void TDepthGauge::BodyTaken(qint64 bytes, qint64 transferNs)
{
    const qint64 now = TMeasureClock::NowNs();
    const qint64 ns = lastBodyDoneNs_ == Unset ? 0 : now - lastBodyDoneNs_;
    lastBodyDoneNs_ = now;
    // Weighted toward the recent, so a change of line or of picture size
    // shows within some dozen articles.
    constexpr double weight = 0.2;
    const auto blend = [](double &average, double value) {
        average = average <= 0 ? value : average + weight * (value - average);
    };
    blend(averageBody_, double(bytes));
    if (ns > 0)
        blend(rate_, double(bytes) * 1e9 / double(ns));
    // The rate the walk sees would stay as low as a shallow depth holds it;
    // what a line carries while a reply flows does not depend on the depth.
    if (transferNs > 0 && bytes >= MinTimedBody)
        blend(lineRate_, double(bytes) * 1e9 / double(transferNs));
}

void TDepthGauge::IdleWaitBegan() { idleSinceNs_ = TMeasureClock::NowNs(); }

void TDepthGauge::FirstByte(int currentDepth)
{
    if (idleSinceNs_ == Unset)
        return;
    if (TMeasureClock::NowNs() - idleSinceNs_ > IdleWaitNs)
        floor_ = qMin(MaxDepth, 2 * qMax(floor_, currentDepth));
    idleSinceNs_ = Unset;
}

int TDepthGauge::Depth(qint64 roundTripUs, int connectionsUp) const
{
    const double roundTrip = double(roundTripUs) / 1e6;
    if (roundTrip <= 0)
        return qBound(MinDepth, floor_, MaxDepth);
    // Each connection carries its share of the rate measured over all, or
    // what its line was seen to carry, whichever is more.
    double rate = qMax(rate_ / qMax(1, connectionsUp), lineRate_);
    double body = averageBody_;
    if (rate <= 0 || body <= 0) {
        rate = AssumedLineRate;
        body = AssumedBody;
    }
    const double wanted = qMax(double(floor_), 2.0 * rate * roundTrip / qMax(1.0, body));
    return int(qBound(double(MinDepth), std::ceil(wanted), double(MaxDepth)));
}
