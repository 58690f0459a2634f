#pragma once
#include <QtGlobal>

#include <thread>

// A loopback TCP proxy to a local port that holds every byte back a fixed
// time in each direction, order kept, so one command and its reply cost
// twice the delay, as over a distant link. Runs on a thread of its own, so
// the program that uses it may block in its own waits.
class DelayProxy {
public:
    DelayProxy(quint16 targetPort, int delayMs);
    ~DelayProxy();
    DelayProxy(const DelayProxy &) = delete;
    DelayProxy &operator=(const DelayProxy &) = delete;

    // Where clients connect; 0 when it could not listen.
    quint16 Port() const { return port_; }

private:
    void Loop();

    quint16 target_;
    int delayMs_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1}; // a byte in the pipe ends the loop
    quint16 port_ = 0;
    std::thread thread_;
};
