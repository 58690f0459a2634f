#include "ZqStatistics.h"

#include "ZqIniFile.h"

namespace {
void addOne(const QByteArray &key, qint64 amount)
{
    const qint64 v = CounterParse(IniReadString("STATISTICS", key, "0"));
    IniWriteString("STATISTICS", key, CounterFormat(v + amount));
}
}

void AddStatistic(const QByteArray &counter, const QByteArray &group, qint64 amount)
{
    addOne(counter, amount);
    addOne(group + counter, amount);
}

qint64 ReadStatistic(const QByteArray &counter, const QByteArray &prefix)
{
    return CounterParse(IniReadString("STATISTICS", prefix + counter, "0"));
}
