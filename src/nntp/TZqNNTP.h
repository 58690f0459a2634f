#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

#include "NntpParse.h"
#include "TBodyPipeline.h"
#include "TBodyRequests.h"
#include "TDeflateLink.h"
#include "TNntpConnector.h"
#include "TNntpReceiver.h"
#include "TOverviewDialect.h"
#include "TSessionSetup.h"

class QTcpSocket;

class TZqNNTP;
using TDocOutputEvent = std::function<void(TZqNNTP *Sender, const QByteArray &strOutput)>;
using TStateChangeEvent = std::function<void(TZqNNTP *Sender, qint32 lState)>;
using TConnectionLostEvent = std::function<void(TZqNNTP *Sender)>;

// The news server client: one TCP or TLS connection watched by the Qt event
// loop, the session set-up (greeting, reader mode, login, compression), and
// the commands GROUP, HEAD, BODY and List; what arrives is read (inflated on a
// compressed connection) and routed by its TNntpReceiver. Every command sends one line and waits in the event loop,
// so the user's commands and the client's own events run nested inside the
// wait.
class TZqNNTP : public QObject {
    Q_OBJECT
public:
    enum { ModeNormal = 0, ModeBody = 2, ModeList = 3 };
    // OnStateChange also reports StateAttemptFailed, never held in ConnectionState.
    enum { StateConnecting = 1, StateConnected = 2, StateClosed = 3, StateAttemptFailed = 4 };

    // Why the last attempt or connection failed. The last three need the user:
    // retrying on one's own would not help (or would hammer the server).
    enum Failure { FailNone, FailNetwork, FailServer, FailCertificate, FailLogin, FailLoginRequired };

    explicit TZqNNTP(QObject *owner = nullptr);
    ~TZqNNTP() override;

    TDocOutputEvent OnDocOutput;     // every received chunk, before it is cut into lines
    TStateChangeEvent OnStateChange; // 2 connected (session set up), 4 attempt failed
    // Optional: an established connection ended without Disconnect (the server
    // closed it, the socket failed, a reply stayed away ReplyTimeoutMs, or the
    // server wants a login that cannot be given).
    TConnectionLostEvent OnConnectionLost;
    // Optional: a body asked for ahead has come whole (a success status and
    // its closing line) before anyone waits for it. The lines stay where a
    // later GetBody takes them; the handler may keep a copy, nothing more.
    std::function<void(TZqNNTP *sender, qint64 number, const QList<QByteArray> &body)> OnBodyAhead;

    // A command that receives nothing for this long counts the connection as
    // lost; 0 or less waits for ever.
    static constexpr int DefaultReplyTimeoutMs = 60000;
    int ReplyTimeoutMs = DefaultReplyTimeoutMs;
    // A reply that brings fewer bytes than this per ReplyTimeoutMs is a
    // drip, not a server at work: the connection counts as lost.
    static constexpr qint64 DefaultReplyMinBytes = 1000;
    qint64 ReplyMinBytes = DefaultReplyMinBytes;
    // What a server may send: a line outside a body, and one reply (a body
    // with its status and closing line). Past either the connection is
    // dropped, so a hostile or broken server cannot exhaust memory.
    static constexpr qint64 MaxLineBytes = qint64(1) << 20;
    qint64 MaxReplyBytes = qint64(256) << 20;
    // BODY requests in flight at most, the one awaited included (1: one at
    // a time). Read at every GetBody.
    int Pipeline = 1;
    // The last GROUP's round trip, from the command going out to its
    // status line: what a deep enough pipeline has to cover.
    qint64 RoundTripUs = 0;
    // Covers name lookup, TCP, TLS, greeting, reader mode and login.
    static constexpr int ConnectGuardMs = 10000;

    // How to connect; read at every Connect.
    bool UseTls = false;
    QByteArray UserName; // empty: no login unless the server asks
    QByteArray Password;
    // SHA-256 of a certificate the user chose to trust although it does not
    // verify (hex digits); empty trusts only what the system store verifies.
    QByteArray TrustedSha256;
    // COMPRESS DEFLATE when the server offers it, unless its compressed
    // stream broke earlier in this run (TDeflateMemory).
    bool UseCompression = true;

    // This connection is deflated both ways.
    bool Compressing() const { return deflate_.Active(); }
    // Bytes through the socket over this client's life, as they went over
    // the wire (compressed while Compressing).
    qint64 WireBytesIn = 0;
    qint64 WireBytesOut = 0;

    // The last failure: its kind and, for the user, "host:port: reason".
    Failure LastFailure = FailNone;
    QString FailureText;
    // The last status line the server sent for a command (its own words).
    QByteArray LastStatus;
    // For a refused certificate: its SHA-256 (hex) and the system's reasons.
    QByteArray PeerSha256;
    QString CertificateErrors;

    QList<QByteArray> ReplyLines;
    QList<QByteArray> BodyLines;
    QList<QByteArray> *GroupListTarget = nullptr;

    qint64 ArticleNumber = 0;
    qint32 Lines = 0;
    QByteArray Subject;
    Nntp::HeaderFields Header; // of the last header fetched
    QByteArray MessageID;
    qint64 FirstArticle = 0;
    qint64 LastArticle = 0;
    bool Connected = false;
    qint32 ReceiveMode = ModeNormal;
    qint32 ConnectionState = StateClosed;

    bool Connect(const QByteArray &host, int port);
    bool Disconnect();
    void SendCommand(const QByteArray &text);

    // overFirst..overLast: the overview batch a walk that knows where it
    // will start (a group walked before) asks for in the same write, a round
    // trip saved; a GetOverview from overFirst up to at most overLast takes
    // its reply.
    bool SelectGroup(const QByteArray &name, qint64 overFirst = 0, qint64 overLast = 0);
    bool GetHeader(qint64 number);
    // Fetches number's body into BodyLines. Before waiting, BODY requests for
    // the numbers in ahead go out too, while fewer than Pipeline are in
    // flight, so their replies arrive while this one is handled; a later
    // GetBody for one of them takes what has come. Requests in flight that
    // are not asked for next are read and dropped.
    // expectedId: the message id the overview or header gave; a reply for
    // another article (by number or id) ends the connection as a protocol
    // error (ProtocolError), so no picture is filed under the wrong article.
    bool GetBody(qint64 number, const QList<qint64> &ahead = {}, const QByteArray &expectedId = {});
    // Sends BODY requests without waiting (a later GetBody takes
    // its reply). With ByMessageId the request names id instead, so a
    // connection serves bodies without selecting the group; its reply is
    // then checked by id alone. False when nothing could be sent.
    using Want = TBodyWant;
    // All sent in one write; returns how many went out.
    int RequestBodies(const QList<Want> &wants);
    bool ByMessageId = false;
    // Requests sent and still wanted, and the bytes their replies hold so far.
    int RequestsWanted() const { return pipeline_.Wanted(); }
    qint64 BytesWaiting() const { return pipeline_.WantedBytes(); }
    bool HasRequest(qint64 number) { return pipeline_.Find(number) != nullptr; }
    // number's reply has not begun and no reply is due before it: the
    // connection sits waiting on the round trip, so more in flight would help.
    bool WaitsForRoundTrip(qint64 number);
    // No request sent so far is wanted any more: their replies are read and dropped.
    void DropRequests() { pipeline_.DiscardAll(); }
    // The last GetBody's or GetHeader's reply was another article's; the
    // connection was ended with it.
    bool ProtocolError = false;
    // The last GetBody's reply passed MaxReplyBytes; its lines were dropped
    // (and the connection with them unless the reply had already ended).
    bool OversizeArticle = false;
    // Bytes of the current body reply as received so far, status and closing line included.
    qint64 BodyBytes = 0;
    // The last GetBody's reply from its first read to its last, in ns (0
    // when it came in one read).
    qint64 BodyTransferNs = 0;
    // Requests sent whose replies are not yet taken (for tests and the owner's progress).
    int InFlight() const { return pipeline_.Size(); }
    // The overview of first..last (OVER, else XOVER, fields placed by LIST
    // OVERVIEW.FMT); articles it does not list are gaps. False when the
    // server offers no overview (OverviewRefused then stays set for this
    // connection) or the connection ended (Connected tells which).
    bool GetOverview(qint64 first, qint64 last, QList<Nntp::OverviewEntry> &entries);
    bool OverviewRefused = false;
    // The last overview batch had lines that could not be read: the numbers
    // it does not list may be articles, not gaps.
    bool OverviewIncomplete = false;
    // Fills target with the server's group names as they arrive; GroupListGrew
    // is emitted on every pass of the wait so a view can follow the list.
    bool GetGroupList(QList<QByteArray> &target);

    static QByteArray GetField(const QByteArray &line, int index, char separator);

    // "host:port", with brackets around an IPv6 address.
    QString Where() const;
    // Of the last Connect.
    QByteArray Host() const { return host_; }
    quint16 Port() const { return port_; }

signals:
    void GroupListGrew();

    // (implementation details are private and free to change)
private:
    friend class TNntpReceiver; // the receive path works on this client's lines and socket
    friend class TBodyRequests; // and so does the body path
    void CloseSocket();
    // Every command goes out here, deflated while compression is on.
    bool Write(const QByteArray &data);
    void Opened(QTcpSocket *socket);
    void SocketError();
    void StartSession();
    void SetupReply();
    void SetupDone();
    void AttemptFailed(Failure kind, const QString &reason);
    void ConnectTimeout();
    void TransportEnded(const QString &reason);
    bool LogInAgain();
    void EndForLogin(Failure kind, const QString &reason);
    bool Retry480(bool ok);
    bool SelectGroupOnce(const QByteArray &name, qint64 overFirst, qint64 overLast);
    bool GetHeaderOnce(qint64 number);
    bool GetGroupListOnce(QList<QByteArray> &target);
    bool MultiLineOnce(const QByteArray &command, QList<QByteArray> &lines);
    // Waits for the multi-line reply that heads ReplyLines and takes it.
    bool TakeMultiLineReply(quint64 generation, QList<QByteArray> &lines);
    // Two multi-line commands in one write, a round trip saved: firstOk and
    // firstLines say how the first went; returns how the second went.
    bool TwoMultiLineOnce(const QByteArray &first, const QByteArray &second, bool &firstOk,
                          QList<QByteArray> &firstLines, QList<QByteArray> &lines);
    void StateChange(qint32 state);

    TNntpConnector connector_{this};
    QPointer<QTcpSocket> socket_;
    QTimer connectTimer_;
    TBodyPipeline pipeline_;
    qint64 awaitedNumber_ = -1; // the body GetBody waits for
    TNntpReceiver receiver_{*this};
    TBodyRequests bodies_{*this};
    QByteArray lineTerminator_;
    // Bumped whenever the socket is opened or closed, so that work begun for
    // one connection stops when a nested handler replaced it.
    quint64 generation_ = 0;
    TSessionSetup setup_;
    TDeflateLink deflate_;
    QByteArray host_;
    quint16 port_ = 0;
    TOverviewDialect dialect_;
    // The reply to an OVER sent with GROUP, until GetOverview takes it.
    struct OverviewAhead {
        quint64 generation = 0; // 0: none
        qint64 first = 0, last = 0;
        QByteArray verb, status;
        bool ok = false;
        QList<QByteArray> lines;
    } overviewAhead_;
};
