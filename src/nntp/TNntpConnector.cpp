#include "TNntpConnector.h"

#include <QHostInfo>

#include <QNetworkProxy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QStringList>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

QByteArray TNntpConnector::NormalisedFingerprint(const QByteArray &text)
{
    QByteArray out;
    for (char c : text) {
        if (c != ':' && c != ' ')
            out += c;
    }
    return out.toUpper();
}

void TNntpConnector::Open(const QList<QHostAddress> &addresses, const QByteArray &host, quint16 port, bool tls,
                          const QByteArray &trustedSha256)
{
    Abort();
    addresses_ = addresses;
    next_ = 0;
    host_ = host;
    port_ = port;
    tls_ = tls;
    trusted_ = NormalisedFingerprint(trustedSha256);
    lastError_.clear();
    PeerSha256.clear();
    CertificateErrors.clear();
    CertificateRefused = false;
    reached_ = false;
    opening_ = true;
    const quint64 attempt = attempt_;
    QTimer::singleShot(0, this, [this, attempt] {
        if (attempt == attempt_ && opening_)
            TryNext();
    });
}

void TNntpConnector::Abort()
{
    opening_ = false;
    DropSocket();
}

void TNntpConnector::DropSocket()
{
    ++attempt_;
    if (QTcpSocket *s = socket_) {
        socket_ = nullptr;
        s->disconnect(this);
        s->abort();
        // Perhaps inside its own signal.
        s->deleteLater();
    }
}

void TNntpConnector::TryNext()
{
    if (next_ >= addresses_.size()) {
        Fail(false, lastError_.isEmpty() ? QStringLiteral("no address to connect to") : lastError_);
        return;
    }
    const QHostAddress address = addresses_[next_++];
    DropSocket();
    reached_ = false;
    // Plain connections skip the TLS socket's layer: it costs a signal hop and
    // a copy for every read.
    QTcpSocket *s = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
    socket_ = s;
    // A news server is reached directly, whatever proxy the session names.
    s->setProxy(QNetworkProxy::NoProxy);
    const quint64 attempt = attempt_;
    auto mine = [this, attempt] { return attempt == attempt_; };
    connect(s, &QAbstractSocket::connected, this, [this, mine] {
        if (mine())
            Connected();
    });
    connect(s, &QAbstractSocket::errorOccurred, this, [this, mine] {
        if (mine())
            SocketError();
    });
    if (!tls_) {
        s->connectToHost(address, port_);
        return;
    }
    auto *tls = static_cast<QSslSocket *>(s);
    connect(tls, &QSslSocket::encrypted, this, [this, mine] {
        if (mine())
            Opened();
    });
    connect(tls, &QSslSocket::sslErrors, this, [this, mine](const QList<QSslError> &errors) {
        if (mine())
            SslErrors(errors);
    });
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setProtocol(QSsl::TlsV1_2OrLater);
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    tls->setSslConfiguration(conf);
    // Connect to this address, but verify (and send SNI for) the name.
    tls->connectToHostEncrypted(address.toString(), port_, QString::fromUtf8(host_));
}

void TNntpConnector::Connected()
{
    reached_ = true;
    // INN and others write a reply's status line and its data separately:
    // without prompt ACKs every command waits for the delayed-ACK timer.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
#ifdef TCP_QUICKACK
    const int one = 1;
    ::setsockopt(int(socket_->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
    if (!tls_)
        Opened();
}

void TNntpConnector::SslErrors(const QList<QSslError> &errors)
{
    auto *tls = static_cast<QSslSocket *>(socket_.data()); // only TLS sockets report these
    PeerSha256 = tls->peerCertificate().digest(QCryptographicHash::Sha256).toHex().toUpper();
    if (!trusted_.isEmpty() && !PeerSha256.isEmpty() && PeerSha256 == trusted_) {
        tls->ignoreSslErrors(errors);
        return;
    }
    QStringList why;
    for (const QSslError &e : errors)
        why << e.errorString();
    CertificateErrors = why.join(QStringLiteral("; "));
    CertificateRefused = true;
    // The socket now fails its handshake; SocketError reports it.
}

void TNntpConnector::SocketError()
{
    if (CertificateRefused) {
        Fail(true, QStringLiteral("certificate refused: ") + CertificateErrors);
        return;
    }
    lastError_ = socket_ ? socket_->errorString() : QString();
    const quint64 attempt = attempt_;
    // Not from inside the failing socket's own signal.
    QTimer::singleShot(0, this, [this, attempt] {
        if (attempt == attempt_ && opening_)
            TryNext();
    });
}

void TNntpConnector::Opened()
{
    QTcpSocket *s = socket_;
    socket_ = nullptr;
    s->disconnect(this);
    ++attempt_;
    opening_ = false;
    const auto handler = OnOpened;
    if (handler)
        handler(s);
}

void TNntpConnector::Fail(bool certificate, const QString &reason)
{
    opening_ = false;
    DropSocket();
    const auto handler = OnFailed;
    if (handler)
        handler(certificate, reason);
}

bool TNntpConnector::Resolve(const QByteArray &host, QList<QHostAddress> &addresses, QString &why)
{
    addresses.clear();
    if (host.isEmpty() || host.contains('\0')) {
        why = QStringLiteral("no host name");
        return false;
    }
    QHostAddress literal;
    if (literal.setAddress(QString::fromLatin1(host))) {
        addresses.append(literal);
        return true;
    }
    const QHostInfo info = QHostInfo::fromName(QString::fromUtf8(host));
    addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
        why = info.errorString();
        return false;
    }
    return true;
}
