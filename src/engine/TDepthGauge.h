#pragma once
#include <QtGlobal>

// The automatic pipeline depth: how many requests each connection keeps in
// flight to cover its round trip, about twice the bytes its line carries in
// one round trip, in requests of the average body's size.
class TDepthGauge {
public:
    static constexpr int MinDepth = 2;
    static constexpr int MaxDepth = 256;

    // A new run: what the last one learnt of the line may not hold.
    void Reset();
    // Between bodies (a group's start, a lost connection): the next body's
    // wait is not a receive time.
    void Pause() { lastBodyDoneNs_ = Unset; }
    // A body taken whole: bytes, and the time from its first read to its last.
    void BodyTaken(qint64 bytes, qint64 transferNs);
    // The walk found the connection with its next body idle, waiting on the
    // round trip; FirstByte() says when the body began to come.
    void IdleWaitBegan();
    void NoIdleWait() { idleSinceNs_ = Unset; }
    void FirstByte(int currentDepth);

    int Depth(qint64 roundTripUs, int connectionsUp) const;

private:
    // Only bodies long enough to span several reads tell a line's rate.
    static constexpr qint64 MinTimedBody = 32 * 1024;
    // Before anything is measured: a usual line and body.
    static constexpr double AssumedLineRate = 20e6;
    static constexpr double AssumedBody = 100e3;
    // A wait on a first byte longer than a local server ever takes.
    static constexpr qint64 IdleWaitNs = 2000000;

    double rate_ = 0;     // bytes per second the walk takes in, over all connections
    double lineRate_ = 0; // bytes per second one connection carries while a reply flows
    double averageBody_ = 0;
    int floor_ = 0; // raised by idle waits: a rate held down by a shallow depth would keep it shallow
    // Times on TMeasureClock, Unset when nothing is timed.
    static constexpr qint64 Unset = -1;
    qint64 lastBodyDoneNs_ = Unset;
    qint64 idleSinceNs_ = Unset;
};
