#pragma once
#include <QByteArray>
#include <QList>

// A bare blocking NNTP connection on loopback for the reference clients of
// the benchmarks: commands go out as given and replies are read as lines,
// with nothing decoded, logged or stored.
class RawNntpClient {
public:
    RawNntpClient() = default;
    ~RawNntpClient();
    RawNntpClient(const RawNntpClient &) = delete;
    RawNntpClient &operator=(const RawNntpClient &) = delete;

    // Connects and reads the greeting; false unless it is 200 or 201.
    bool Connect(quint16 port);
    bool Send(const QByteArray &text);
    // One line without its line end; false when the connection failed.
    bool ReadLine(QByteArray &line);
    // The lines of a multi-line block up to its ".", undotted, into lines
    // (dropped when lines is null); false when the connection failed.
    bool ReadBlock(QList<QByteArray> *lines);
    // Sends one command line and reads its status line (empty on failure).
    QByteArray Command(const QByteArray &line);

    // For a reader that waits on several connections at once: the socket,
    // and what was read from it but not yet taken as lines (handed over).
    int Socket() const { return fd_; }
    QByteArray TakeBuffered();

private:
    bool Fill();

    int fd_ = -1;
    QByteArray buffer_;
    qsizetype pos_ = 0;
};
