#pragma once
#include <QByteArray>

// Running counters in section STATISTICS: each under its own name (total) and
// under the group's name immediately followed by the counter name.
void AddStatistic(const QByteArray &counter, const QByteArray &group, qint64 amount);
qint64 ReadStatistic(const QByteArray &counter, const QByteArray &prefix);
