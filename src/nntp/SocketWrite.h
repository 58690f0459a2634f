#pragma once
#include <QByteArray>

class QTcpSocket;

// Writes data to socket at once, as far as the kernel takes it; the rest
// is queued for the event loop to send. False when the socket failed.
bool WriteToSocket(QTcpSocket *socket, const QByteArray &data);
