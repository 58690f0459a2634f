#pragma once
#include <QtGlobal>

#include <thread>

// A loopback TCP proxy to a local port that holds every byte back a fixed
// time in each direction, order kept, so one command and its reply cost
// twice the delay, as over a distant link. Optionally each connection's
// server-to-client bytes are paced to a rate, as providers cap a
// connection's download. Runs on a thread of its own, so the program that
// uses it may block in its own waits.
class DelayProxy {
public:
    // downBytesPerSec 0: no cap.
    DelayProxy(quint16 targetPort, int delayMs, qint64 downBytesPerSec = 0);
    ~DelayProxy();
    DelayProxy(const DelayProxy &) = delete;
    DelayProxy &operator=(const DelayProxy &) = delete;

    // Where clients connect; 0 when it could not listen.
    quint16 Port() const { return port_; }

private:
    void Loop();

    quint16 target_;
    int delayMs_;
    qint64 downRate_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1}; // a byte in the pipe ends the loop
    quint16 port_ = 0;
    std::thread thread_;
};
