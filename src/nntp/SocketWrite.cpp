#include "SocketWrite.h"

#include <QSslSocket>

#include <cerrno>

#include <sys/socket.h>

bool WriteToSocket(QTcpSocket *socket, const QByteArray &data)
{
    qsizetype done = 0;
    // A plain connection with nothing queued takes the bytes straight away:
    // Qt's buffered write arms the socket's write watch and disarms it on
    // the flush, two wake-ups of the event loop for every request.
    if (!qobject_cast<QSslSocket *>(socket) && socket->bytesToWrite() == 0) {
        const qintptr fd = socket->socketDescriptor();
        while (fd >= 0 && done < data.size()) {
            const ssize_t n = ::send(int(fd), data.constData() + done, size_t(data.size() - done),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break; // full, or failed: Qt queues the rest, or reports the failure
            done += n;
        }
    }
    if (done == data.size())
        return true;
    if (socket->write(data.constData() + done, data.size() - done) < 0)
        return false;
    socket->flush();
    return true;
}
