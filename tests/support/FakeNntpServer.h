#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QHostAddress;
class QTcpServer;
class QTcpSocket;

// A scriptable news server on 127.0.0.1, living in the test process. It runs
// in the same event loop as the client under test, so it answers while the
// client's commands wait.
//
// What it can do:
//  - greet (greeting), stay silent (silent: accept, never send a byte), close
//    right after accepting (closeOnAccept), or refuse: StopListening() after
//    Listen(), or ClosedPort() for a port nothing listens on;
//  - serve several connections at once (maxClients), each with its own
//    group, login and send queue; Send, Stall and CloseClient act on the
//    one whose command is being answered, else the newest;
//  - serve GROUP, HEAD, BODY (by number or message id), OVER/XOVER, LIST, LIST OVERVIEW.FMT (any case) and QUIT from a table of groups
//    and articles; bodies are dot-stuffed on the way out, article numbers,
//    message ids and subjects come from the table;
//  - answer any exact command line with a scripted reply given as pieces
//    (Script), or through a general responder hook; pieces are written one by
//    one with pieceDelayMs between them and flushed, so the client sees each
//    piece as a read of its own (any byte boundary, CR without LF, zero bytes,
//    unstuffed or 4xx replies: the pieces are sent exactly as given);
//  - stall on a command (stallOn: no reply to it or to anything after it on
//    that connection) or close the connection when a
//    command arrives (closeOn);
//  - answer MODE READER, and log in with AUTHINFO USER/PASS when user is set;
//    ask for a login (480) on every command until logged in (loginRequired),
//    or once on the first command with a prefix (askLoginOnce);
//  - list its capabilities (CAPABILITIES) and, by compression, offer COMPRESS
//    DEFLATE and then speak raw deflate both ways, refuse it (403), or
//    answer 206 followed by bytes that are no deflate stream;
//  - record every byte received (received, inflated when compressed) and
//    every command line exactly as sent, terminator included: the session
//    set-up (MODE READER, AUTHINFO, CAPABILITIES, COMPRESS) in
//    sessionCommands, everything else in commands.
class FakeNntpServer : public QObject {
    Q_OBJECT
public:
    struct Article {
        qint32 number = 0;
        QByteArray messageId; // with angle brackets
        QByteArray subject;
        QList<QByteArray> body;   // lines as meant; stuffed when sent
        QList<QByteArray> header; // when set, sent instead of the generated header; its Subject, From and Date go into the overview
        bool linesHeader = true;  // generated header carries "Lines: <body lines>"
    };
    struct Group {
        QByteArray name;
        QList<Article> articles;
        // -1: taken from the articles (count, lowest and highest number).
        qint32 count = -1;
        qint32 first = -1;
        qint32 last = -1;
        char posting = 'y';
        // When set, articles first..last (both must be set) are made on
        // demand instead of being kept, for groups far too big to hold.
        std::function<Article(qint32 number)> generate;
    };

    explicit FakeNntpServer(QObject *parent = nullptr);
    ~FakeNntpServer() override;

    bool Listen(quint16 port = 0); // 0: an ephemeral port on 127.0.0.1
    bool Listen(quint16 port, const QHostAddress &address);
    quint16 Port() const { return port_; }
    void StopListening(); // later connects are refused; open ones stay
    static quint16 ClosedPort();

    // Behaviour
    QByteArray greeting = "200 fake news server ready";
    // Connections at once; one more is greeted with tooManyReply and closed
    // (0: no limit).
    int maxClients = 0;
    QByteArray tooManyReply = "502 too many connections";
    bool silent = false;
    bool closeOnAccept = false;
    QByteArray stallOn; // command prefix that gets no reply
    QByteArray closeOn; // command prefix on which the connection is closed
    int pieceDelayMs = 80; // long enough for a sandboxed loopback to deliver each piece alone
    // When set, the bytes the client under test has taken in (over its one
    // connection): a piece then goes only once the client has read all that
    // was written before it, so each piece is a read of its own however late
    // the client gets to run; pieceDelayMs is then only a pause.
    std::function<qint64()> clientBytesRead;
    // A round trip of the network: each command is answered this long after
    // it arrived, the ones that came together together (not one after another).
    int latencyMs = 0;
    // The time latencyMs makes, and nothing else: each delayed answer moves
    // it to its command's arrival plus the latency (answers to commands that
    // came at the same time share one step). Put in the place of the
    // client's clock, the round trips and rates it measures are the ones set
    // up here, however busy the machine is.
    qint64 DelayClockNs() const { return delayClockNs_; }
    QList<Group> groups;
    // OVER, XOVER and LIST OVERVIEW.FMT from the table (false: refused as
    // unknown, like a server without an overview database); xoverOnly refuses
    // OVER alone. Numbers in overviewGaps are left out of the overview.
    bool overview = true;
    bool xoverOnly = false;
    QList<qint64> overviewGaps;
    QList<QByteArray> overviewFormat{"Subject:", "From:", "Date:", "Message-ID:", "References:", ":bytes", ":lines"};
    QByteArray modeReaderReply = "200 reader mode, posting allowed";
    // Off: COMPRESS is not listed (and refused if asked for anyway).
    enum class Compression { Off, Deflate, Refuse, Broken };
    Compression compression = Compression::Off;
    // Bytes written to the sockets as they went, compressed or not.
    qint64 wireBytesOut = 0;
    QByteArray user;     // set: AUTHINFO USER user / PASS password log in
    QByteArray password;
    bool loginRequired = false;
    QByteArray askLoginOnce;
    // Returns true when it has answered the command itself (e.g. with Send).
    std::function<bool(FakeNntpServer &server, const QByteArray &command)> responder;

    // An exact command line (without CR LF) answered with these pieces.
    void Script(const QByteArray &command, const QList<QByteArray> &pieces);

    // Queues raw pieces for the current connection. A null QByteArray among
    // them closes the connection at that point (an empty one is just a pause).
    void Send(const QList<QByteArray> &pieces);
    void Send(const QByteArray &bytes) { Send(QList<QByteArray>{bytes}); }
    // Runs f once, from the event loop, soon after a command starting with
    // prefix arrives: a test's command in the middle of a search.
    void OnCommandOnce(const QByteArray &prefix, std::function<void()> f);
    // Sends to this connection later, from outside its answer: the rest of a
    // reply held back until something else has happened (nothing once the
    // connection is gone).
    std::function<void(const QList<QByteArray> &pieces)> SenderToThisClient();
    // From now on this connection answers nothing, as after stallOn.
    void Stall();
    void CloseClient();
    void ResetClient(); // ends the connection with a TCP reset instead of a close
    bool SendQueueEmpty() const { return !current() || current()->queue.isEmpty(); }
    // Connections open now.
    int OpenClients() const;

    // What the table serves, as wire bytes.
    static QByteArray Stuffed(const QList<QByteArray> &lines); // with the closing ".\r\n"
    static Article MakeArticle(qint32 number, const QByteArray &subject, const QList<QByteArray> &body);
    QByteArray GroupReply(const Group &g) const;
    static QByteArray OverviewLine(const Article &a); // without CR LF

    // Recorded traffic (record false: nothing is kept, for long runs).
    bool record = true;
    QByteArray received;
    QList<QByteArray> commands;
    QList<QByteArray> sessionCommands;
    int connections = 0;

signals:
    void ClientConnected();
    void CommandReceived(const QByteArray &command);

private:
    struct Zlib; // the deflate streams of a compressed session
    struct Session {
        Session();
        ~Session();
        std::unique_ptr<Zlib> zlib;
        QPointer<QTcpSocket> socket;
        QByteArray inbox;
        QList<QByteArray> queue;
        std::unique_ptr<QTimer> pieceTimer;
        QByteArray currentGroup;
        QByteArray userGiven;
        bool loggedIn = false;
        bool stalled = false;
    };
    Session *current() const;
    void Accept();
    void ReadClient(Session *session);
    void WriteNext(Session *session);
    // The current session with nothing more to send, or null.
    QTcpSocket *EndingSession();
    void Answer(const QByteArray &command);
    void AnswerCompress();
    const Group *FindGroup(const QByteArray &name) const;
    const Article *FindArticle(qint32 number) const;
    const Article *FindById(const QByteArray &id) const;

    QTcpServer *server_ = nullptr;
    std::vector<std::unique_ptr<Session>> sessions_;
    Session *answering_ = nullptr; // the session whose command is being answered
    quint16 port_ = 0;
    QList<QPair<QByteArray, QList<QByteArray>>> scripts_;
    mutable Article generated_; // the last article a generated group made
    qint64 delayClockNs_ = 0;
    qint64 written_ = 0; // bytes of pieces written, over all connections
};
