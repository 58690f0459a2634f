#pragma once
#include "TMeasureClock.h"

#include <QtGlobal>

// A clock that moves only when the test moves it, in the place of the steady
// one for as long as it lives: what a test checks of rates, round trips and
// pacing then follows what it was told, at any speed of the machine.
// (Header only: the support library does not link the news client.)
class ManualClock {
public:
    ManualClock()
    {
        TMeasureClock::SetSource([this] {
            const qint64 t = nowNs;
            nowNs += stepPerReadNs;
            return t;
        });
    }
    ~ManualClock() { TMeasureClock::SetSource({}); }
    ManualClock(const ManualClock &) = delete;
    ManualClock &operator=(const ManualClock &) = delete;

    void AdvanceMs(qint64 ms) { nowNs += ms * 1000000; }

    qint64 nowNs = 0;
    // Each reading moves the clock on by this much: work measured between two
    // readings then costs in proportion to the readings it takes, not to the
    // machine's speed.
    qint64 stepPerReadNs = 0;
};
