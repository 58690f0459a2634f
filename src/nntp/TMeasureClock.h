#pragma once
#include <QtGlobal>

#include <functional>

// The clock the line's measures read (the round trip, a body's transfer, the
// depth gauge's rates and idle waits), and the pacing of what the window
// shows: the steady clock, unless a test puts its own in place, so that what
// it checks follows the delays it set up rather than how busy the machine is.
class TMeasureClock {
public:
    using Source = std::function<qint64()>; // nanoseconds, never going back

    static qint64 NowNs();
    // An empty source brings the steady clock back.
    static void SetSource(Source source);
};
