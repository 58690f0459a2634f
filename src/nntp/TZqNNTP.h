#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

#include "NntpParse.h"

class QSocketNotifier;

class TZqNNTP;
using TDocOutputEvent = std::function<void(TZqNNTP *Sender, const QByteArray &strOutput)>;
using TStateChangeEvent = std::function<void(TZqNNTP *Sender, qint32 lState)>;
using TConnectionLostEvent = std::function<void(TZqNNTP *Sender)>;

// The news server client: one non-blocking TCP connection watched by the Qt
// event loop, line assembly and routing, and the commands GROUP, HEAD, BODY
// and List. Every command sends one line and waits in the event loop, so the
// user's commands and the client's own events run nested inside the wait.
class TZqNNTP : public QObject {
    Q_OBJECT
public:
    enum { ModeNormal = 0, ModeBody = 2, ModeList = 3 };
    enum { StateConnecting = 1, StateConnected = 2, StateClosed = 3 };

    explicit TZqNNTP(QObject *owner = nullptr);
    ~TZqNNTP() override;

    TDocOutputEvent OnDocOutput;     // every received chunk, before it is cut into lines
    TStateChangeEvent OnStateChange; // 2 connected (greeting in), 4 attempt failed
    // Optional: an established connection ended without Disconnect (the server
    // closed it, the socket failed, or a reply stayed away ReplyTimeoutMs).
    TConnectionLostEvent OnConnectionLost;

    // A command that receives nothing for this long counts the connection as
    // lost; 0 or less waits for ever.
    static constexpr int DefaultReplyTimeoutMs = 60000;
    int ReplyTimeoutMs = DefaultReplyTimeoutMs;

    QList<QByteArray> ReplyLines;
    QList<QByteArray> BodyLines;
    QList<QByteArray> *GroupListTarget = nullptr;

    qint32 ArticleNumber = 0;
    qint32 Lines = 0;
    QByteArray Subject;
    QByteArray MessageID;
    qint32 FirstArticle = 0;
    qint32 LastArticle = 0;
    bool Connected = false;
    qint32 ReceiveMode = ModeNormal;
    qint32 ConnectionState = StateClosed;

    bool Connect(const QByteArray &host, int port);
    bool Disconnect();
    void SendCommand(const QByteArray &text);

    bool SelectGroup(const QByteArray &name);
    bool GetHeader(qint32 number);
    bool GetBody(qint32 number);
    // Fills target with the server's group names as they arrive; GroupListGrew
    // is emitted on every pass of the wait so a view can follow the list.
    bool GetGroupList(QList<QByteArray> &target);

    static QByteArray GetField(const QByteArray &line, int index, char separator);

signals:
    void GroupListGrew();

    // (implementation details are private and free to change)
private:
    void CloseSocket();
    void ConnectDone();
    void ConnectFailed();
    void ConnectTimeout();
    void Readable();
    void GreetingArrived();
    void TransportEnded(int error);
    void ReplyTimedOut();
    bool WaitPass(quint64 generation);
    struct ReplyWait;
    void StateChange(qint32 state);

    int socket_ = -1;
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    QTimer connectTimer_;
    QTimer replyTimer_; // runs while a command waits; restarted by every read
    Nntp::LineCutter cutter_;
    QByteArray lineTerminator_;
    std::unique_ptr<char[]> receiveBuffer_;
    // Bumped whenever the socket is opened or closed, so that work begun for
    // one connection stops when a nested handler replaced it.
    quint64 generation_ = 0;
    bool awaitingGreeting_ = false;
};
