#pragma once
#include <QByteArray>

#include <functional>

// The fewest round trips a grab can make over a number of connections to
// one server: the first connection (already greeted when the clock starts)
// sends GROUP and one OVER for the whole group while the others are opened;
// then every wanted BODY goes out at once, spread round-robin over all of
// them (the others select the group in the same write), and the replies are
// read as they come on every connection and thrown away.
struct LimitRun {
    double seconds = -1; // from the first GROUP to the last byte; -1 on a failure
    int bodies = 0;      // BODY replies read whole
    qint64 bytes = 0;    // of those replies, status lines included
};

LimitRun RunLimitClient(quint16 port, const QByteArray &group, int connections,
                        const std::function<bool(const QByteArray &subject)> &filtered);
