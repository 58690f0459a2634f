#include "TRunSummary.h"

namespace {
QString counted(int n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}
}

QString TRunSummary::Text() const
{
    return QStringLiteral("Saved %1, %2, %3 filtered in %4")
        .arg(counted(Saved, "picture", "pictures"), counted(Duplicates, "duplicate", "duplicates"))
        .arg(Filtered)
        .arg(counted(Groups, "group", "groups"));
}
