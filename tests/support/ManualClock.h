#pragma once
#include "TMeasureClock.h"

#include <QtGlobal>

// A clock that moves only when the test moves it, in the place of the steady
// one for as long as it lives: what a test checks of rates, round trips and
// pacing then follows what it was told, at any speed of the machine.
// (Header only: the support library does not link the news client.)
class ManualClock {
public:
    ManualClock() { TMeasureClock::SetSource([this] { return nowNs; }); }
    ~ManualClock() { TMeasureClock::SetSource({}); }
    ManualClock(const ManualClock &) = delete;
    ManualClock &operator=(const ManualClock &) = delete;

    void AdvanceMs(qint64 ms) { nowNs += ms * 1000000; }

    qint64 nowNs = 0;
};
