#include "RawNntpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

RawNntpClient::~RawNntpClient()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool RawNntpClient::Connect(quint16 port)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return false;
    // Commands sent one by one must not wait for the previous reply's ACK.
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    QByteArray greeting;
    return ReadLine(greeting) && (greeting.startsWith("200") || greeting.startsWith("201"));
}

bool RawNntpClient::Send(const QByteArray &text)
{
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd_, text.constData() + done, size_t(text.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool RawNntpClient::Fill()
{
    if (pos_ > 0) {
        buffer_.remove(0, pos_);
        pos_ = 0;
    }
    const qsizetype old = buffer_.size();
    buffer_.resize(old + 65536);
    ssize_t n;
    do
        n = ::recv(fd_, buffer_.data() + old, 65536, 0);
    while (n < 0 && errno == EINTR);
    buffer_.resize(old + qMax<ssize_t>(n, 0));
    // INN writes a status line and its data separately: without a prompt ACK
    // the data waits for the delayed-ACK timer. The kernel leaves quick-ACK
    // mode on its own, so it is set again after every read.
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    return n > 0;
}

bool RawNntpClient::ReadLine(QByteArray &line)
{
    for (;;) {
        const qsizetype end = buffer_.indexOf('\n', pos_);
        if (end >= 0) {
            line = buffer_.mid(pos_, end - pos_);
            pos_ = end + 1;
            if (line.endsWith('\r'))
                line.chop(1);
            return true;
        }
        if (!Fill())
            return false;
    }
}

bool RawNntpClient::ReadBlock(QList<QByteArray> *lines)
{
    for (;;) {
        QByteArray line;
        if (!ReadLine(line))
            return false;
        if (line == ".")
            return true;
        if (lines)
            lines->append(line.startsWith('.') ? line.mid(1) : line);
    }
}

QByteArray RawNntpClient::Command(const QByteArray &line)
{
    QByteArray status;
    if (!Send(line + "\r\n") || !ReadLine(status))
        status.clear();
    return status;
}

QByteArray RawNntpClient::TakeBuffered()
{
    QByteArray rest = buffer_.mid(pos_);
    buffer_.clear();
    pos_ = 0;
    return rest;
}
