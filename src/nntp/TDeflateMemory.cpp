#include "TDeflateMemory.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSet>

namespace {
QMutex mutex;
QSet<QByteArray> &Servers()
{
    static QSet<QByteArray> servers;
    return servers;
}
QByteArray Key(const QByteArray &host, quint16 port) { return QByteArray::number(port) + ' ' + host.toLower(); }
} // namespace

void TDeflateMemory::RememberBroken(const QByteArray &host, quint16 port)
{
    const QMutexLocker lock(&mutex);
    Servers().insert(Key(host, port));
}

bool TDeflateMemory::Broken(const QByteArray &host, quint16 port)
{
    const QMutexLocker lock(&mutex);
    return Servers().contains(Key(host, port));
}

void TDeflateMemory::Forget()
{
    const QMutexLocker lock(&mutex);
    Servers().clear();
}
