#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include "NntpParse.h"

class TZqNNTP;

// The news client's receive path: reads its socket, inflates what comes on a
// compressed connection, cuts it into lines and routes them to the reply, the body, the group list or the BODY
// requests in flight, and holds the server to the limits on lines, replies
// and time (a silence or a drip ends the connection). The client's commands
// wait for their replies here.
class TNntpReceiver : public QObject {
    Q_OBJECT
public:
    explicit TNntpReceiver(TZqNNTP &client);

    // The most one read takes from the socket.
    static constexpr qint64 ReadSize = 32768;
    // The most a compressed read is inflated into at a time before the
    // lines are cut and the reply limits checked: a read's size, so the heap
    // hands the same blocks back as on a plain connection.
    static constexpr qsizetype InflatePieceSize = ReadSize;

    // Which non-pipelined reply a wait is for, so a reply that has ended
    // stops the time-out even while a nested dialog holds the wait.
    enum class Awaiting { Nothing, Status, MultiLine };

    // Runs the reply timer for the lifetime of one command's wait. The
    // client, and this receiver with it, may be deleted inside the wait.
    class ReplyWait {
    public:
        ReplyWait(TNntpReceiver &receiver, Awaiting kind);
        ~ReplyWait();
        ReplyWait(const ReplyWait &) = delete;
        ReplyWait &operator=(const ReplyWait &) = delete;

    private:
        QPointer<TNntpReceiver> receiver_;
        Awaiting outer_;
    };

    // The socket has something to read.
    void Readable();

    // One pass of the event loop: false once the connection ended, was
    // replaced (generation) or the client was deleted.
    bool WaitPass(quint64 generation);
    bool WaitStatus(quint64 generation);
    // Before a command that is not pipelined: the bodies still due are read
    // and dropped, or with keepWanted (a command of the same group) read and
    // kept for the GetBody that asks for them.
    bool DrainAhead(bool keepWanted = false);

    void StopReplyTimer() { replyTimer_.stop(); }
    // Bytes cut off mid-line belong to no reply any more.
    void DropPartialLine() { cutter_.Clear(); }
    // A non-pipelined reply begins; its size counts from here.
    void ResetReplyBytes() { replyBytes_ = 0; }
    // The connection ended: what was read of it and not yet routed goes too.
    void DropHeld() { held_.clear(); }

private:
    // A read brought bytes (inflated ones when compressed) while a reply is
    // awaited: the time-out starts again, and a drip ends the connection.
    bool Heard(qint64 bytes);
    // Cuts and routes received (inflated) bytes; false when the connection
    // ended or was replaced meanwhile, or this receiver (self) was deleted.
    bool Route(QByteArray chunk, quint64 generation, const QPointer<TNntpReceiver> &self);
    void ReplyTimedOut();
    bool ReplyAwaited() const;

    TZqNNTP &client_;
    QTimer replyTimer_; // runs while a command waits; restarted by every read
    QElapsedTimer window_; // since the reply wait began or the last drip check
    qint64 windowBytes_ = 0;
    qint64 replyBytes_ = 0; // of the non-pipelined reply in hand
    Awaiting awaiting_ = Awaiting::Nothing;
    Nntp::LineCutter cutter_;
    // Read past the reply to COMPRESS, routed once that reply was judged.
    QByteArray held_;
};
