#include "TMeasureClock.h"

#include <chrono>
#include <utility>

namespace {
TMeasureClock::Source &source()
{
    static TMeasureClock::Source s;
    return s;
}
} // namespace

qint64 TMeasureClock::NowNs()
{
    if (const Source &s = source())
        return s();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TMeasureClock::SetSource(Source s) { source() = std::move(s); }
