#include "TRunSummary.h"

#include "SafeText.h"

#include <QStringList>

namespace {
QString counted(int n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}
}

QString TRunSummary::Text() const
{
    const QString skipped = SkippedText();
    return QStringLiteral("Saved %1, %2, %3 filtered in %4")
               .arg(counted(Saved, "picture", "pictures"), counted(Duplicates, "duplicate", "duplicates"))
               .arg(Filtered)
               .arg(counted(Groups, "group", "groups"))
        + (skipped.isEmpty() ? QString() : QStringLiteral("; ") + skipped);
}

QString TRunSummary::SkippedText() const
{
    if (Skipped.isEmpty())
        return QString();
    QStringList names;
    for (const Skip &s : Skipped)
        names << SafeText::Shown(s.Group) + QStringLiteral(" (") + s.Why + ')';
    return counted(int(Skipped.size()), "group", "groups") + QStringLiteral(" skipped: ") + names.join(QStringLiteral(", "));
}

void TRunSummary::CountSaved(const QByteArray &path)
{
    const qsizetype before = SavedFiles.size();
    SavedFiles.insert(path);
    Saved += int(SavedFiles.size() - before);
}
