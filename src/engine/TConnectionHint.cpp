#include "TConnectionHint.h"

namespace {
bool IsTlsPort(int port) { return port == 563 || port == 443; }
bool IsPlainPort(int port) { return port == 119 || port == 433; }
}

QString TConnectionHint::For(TGrabFailure kind, bool tls, int port, const QString &failure)
{
    if (kind != TGrabFailure::ConnectFailed && kind != TGrabFailure::Certificate)
        return QString();
    // A TLS server waits for a handshake and sends no greeting to a plain client.
    const bool silent = failure.contains(QLatin1String("greeting"), Qt::CaseInsensitive);
    if (!tls && kind == TGrabFailure::ConnectFailed && (IsTlsPort(port) || silent))
        return QStringLiteral("\n\nPort %1 may expect an encrypted connection: try switching on "
                              "\"Encrypted connection (TLS)\" in Options > Configuration.")
            .arg(port);
    if (tls && IsPlainPort(port))
        return QStringLiteral("\n\nPort %1 usually takes plain connections: try switching off "
                              "\"Encrypted connection (TLS)\" in Options > Configuration, or use port 563.")
            .arg(port);
    return QString();
}
