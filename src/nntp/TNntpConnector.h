#pragma once
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QSslError;
class QTcpSocket;

// Opens the connection a session runs on: every address of the host in
// turn, then TLS with the certificate checked against the system store or a
// fingerprint the user chose to trust. Knows nothing of NNTP.
class TNntpConnector : public QObject {
    Q_OBJECT
public:
    explicit TNntpConnector(QObject *owner = nullptr) : QObject(owner) {}
    ~TNntpConnector() override { Abort(); }

    // The socket is connected (and encrypted with TLS); it now belongs to
    // the owner, and this connector lets go of it.
    std::function<void(QTcpSocket *socket)> OnOpened;
    // No address could be opened; certificate tells a refused certificate.
    std::function<void(bool certificate, const QString &reason)> OnFailed;

    // Starts with the first address; the outcome is always reported later.
    void Open(const QList<QHostAddress> &addresses, const QByteArray &host, quint16 port, bool tls,
              const QByteArray &trustedSha256);
    void Abort();
    bool Opening() const { return opening_; }
    // An address was reached and a TLS handshake has begun or ended.
    bool Reached() const { return reached_; }

    // For a refused certificate: its SHA-256 (hex) and the system's reasons.
    QByteArray PeerSha256;
    QString CertificateErrors;
    bool CertificateRefused = false;

    // "AA:bb cc" as a user pastes it -> "AABBCC".
    static QByteArray NormalisedFingerprint(const QByteArray &text);
    // Every address of host, IPv6 and IPv4, in the resolver's order (a
    // literal address as it is); false with the reason when there is none.
    static bool Resolve(const QByteArray &host, QList<QHostAddress> &addresses, QString &why);

private:
    void TryNext();
    void Connected();
    void SslErrors(const QList<QSslError> &errors);
    void SocketError();
    void Opened();
    void Fail(bool certificate, const QString &reason);
    void DropSocket();

    QPointer<QTcpSocket> socket_;
    QList<QHostAddress> addresses_;
    int next_ = 0;
    QByteArray host_;
    quint16 port_ = 0;
    bool tls_ = false;
    QByteArray trusted_;
    QString lastError_;
    bool opening_ = false;
    bool reached_ = false;
    quint64 attempt_ = 0; // bumped per socket, so a stale socket's signals are ignored
};
