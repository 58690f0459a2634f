#pragma once
#include <QByteArray>
#include <QDeadlineTimer>

#include <optional>

#include "NntpParse.h"

class TGrabEngine;

// Brings the engine's own connection back after a loss, on the
// reconnection back-off: with the walk waiting for it, or between articles
// while the extra connections carry the bodies (the walk needs it again
// only for a group, an overview or a header).
class TReconnection {
public:
    explicit TReconnection(TGrabEngine &engine);

    enum class Resumed { Selected, GroupRefused, Command, Refused, RefusedOnReconnect };
    // With the walk waiting; attempts: automatic ones since an article last
    // went through. Selected: back, with group selected again.
    Resumed Resume(const QByteArray &group, int &attempts);
    // After a Skip: the connection the command ended, made anew.
    bool ReconnectAndWait();
    // false when a command came during the pause.
    bool PauseUnlessCommanded(int ms);

    // The walk can go on without it: the article can be asked for by id
    // over an extra connection, and the loss was not commanded.
    bool CanHandOver(const Nntp::OverviewEntry *entry) const;
    void HandOver();
    bool Down() const { return down_; }
    // Between articles; false when the server refused the reconnection.
    bool Mind(const QByteArray &group);
    // The walk needs it now: waits as for any lost connection.
    Resumed Await(const QByteArray &group, int &attempts);
    void Forget();

private:
    void ScheduleRetry();
    // An attempt has ended: what it came to, or nothing when another try is due.
    std::optional<Resumed> Settled(const QByteArray &group);
    TGrabEngine &w_;
    bool down_ = false;
    bool reconnecting_ = false;
    int attempts_ = 0;
    QDeadlineTimer retryAt_;
};
