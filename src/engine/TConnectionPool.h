#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <climits>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "TZqNNTP.h"

// The connections a run fetches bodies over: the engine's own client and
// the extra ones opened beside it with the same settings. The extras ask
// for bodies by message id, so they never need a group selected and a
// request can move to any of them. Requests go out in article order to
// whichever connection has room; the walk takes the replies in article
// order from whoever holds them.
class TConnectionPool : public QObject {
    Q_OBJECT
public:
    explicit TConnectionPool(TZqNNTP &primary, QObject *parent = nullptr);
    ~TConnectionPool() override;

    static constexpr int DefaultConnections = 8;
    static constexpr int MaxConnections = 50;

    // Pause before each quick reconnection of a lost extra, then the slow pace.
    QList<int> ReconnectDelaysMs{5000, 15000, 45000, 60000, 60000};
    int SlowReconnectDelayMs = 10 * 60 * 1000;
    // Told once per run when the server refuses an extra connection.
    std::function<void(const QString &text)> OnNote;
    // Every chunk an extra receives.
    std::function<void(TZqNNTP *client, const QByteArray &chunk)> OnOutput;
    // A body an extra received ahead of the walk (TZqNNTP::OnBodyAhead).
    decltype(TZqNNTP::OnBodyAhead) OnBodyAhead;

    // Connections wanted in all (CONNECTIONS, 1..MaxConnections); opens
    // the extras that are missing and neither waiting to retry nor refused
    // in this run. Settings are taken from the engine's client.
    void Open(int connections);
    // Ends every extra. endOfRun also forgets this run's refusals.
    void Close(bool endOfRun);
    // Extra connections up now (the engine's own not counted).
    int ExtrasUp() const;
    int Up() const { return (primary_.Connected ? 1 : 0) + ExtrasUp(); }
    // Extra connections on their way up.
    int ExtrasComing() const;

    // Sends requests for wants (in article order, the first the one the
    // walk waits for) to the connections with room: at most depth wanted
    // per connection, and nothing more once the replies waiting hold
    // byteLimit bytes. Wants without a sendable id go to the engine's
    // client only.
    // The wants are a window kept from one call to the next: what the walk
    // passed leaves it and wants past its end join it; wants already in it
    // need not be given again (LastWanted). Only requests not yet out are
    // looked at, so a deep window costs per article what changed.
    // primaryToo false: the engine's client gets none (it has a command due).
    void Fill(const QList<TZqNNTP::Want> &wants, int depth, qint64 byteLimit, bool primaryToo = true);
    // The last article of the window, or 0.
    qint64 LastWanted() const { return window_.empty() ? 0 : window_.back().number; }
    // A group begins or ends: no request sent so far is wanted.
    void Forget();
    // The connection whose request for number is still wanted, or null.
    TZqNNTP *Holder(qint64 number) const;
    // Bytes held by replies not yet taken, over every connection.
    qint64 BytesWaiting() const;

    // For tests: the extra clients.
    QList<TZqNNTP *> Extras() const;

private:
    struct Extra {
        std::unique_ptr<TZqNNTP> client;
        bool connecting = false;
        bool refused = false;
        int attempts = 0; // failed reconnections since it was last up
        QTimer retry;
    };
    void Start(Extra &e);
    void StateChanged(Extra &e, qint32 state);
    void Lost(Extra &e);
    void ScheduleRetry(Extra &e);
    void NoteRefusals();
    // Between the walk's own calls, when a connection came up or was lost:
    // only the extras get requests, since the engine's client may be in
    // the middle of a command.
    void Refill();
    void Send(int depth, qint64 byteLimit, bool primaryToo);
    void ForgetWindow();

    TZqNNTP &primary_;
    std::vector<std::unique_ptr<Extra>> extras_;
    int wantedExtras_ = 0;
    bool refusalSeen_ = false;
    bool refusalNoted_ = false;
    QHash<qint64, QPointer<TZqNNTP>> assigned_;
    // The walk's window, so requests of a lost connection go out again at once.
    std::deque<TZqNNTP::Want> window_;
    // Every want after the first up to this one is out on a connection in
    // lastUp_; a change of connections looks at them all again.
    qint64 sentThrough_ = LLONG_MIN;
    QList<TZqNNTP *> lastUp_;
    qint64 forgottenBelow_ = LLONG_MIN; // assigned_ holds nothing below it
    int lastDepth_ = 0;
    qint64 lastByteLimit_ = 0;
};
