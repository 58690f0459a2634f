#include "TArticleLog.h"

#include "SafeText.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"

#include <QDateTime>
#include <QFile>

namespace {

bool enabled() { return IniReadBool("CONFIG", "LOG", false); }

// Linux locales carry no separate date and time separators, so the record
// uses "/" and ":" as written in the format.
QByteArray timeStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yy-hh:mm:ss")).toLatin1();
}

void writeRecord(const QByteArray &text)
{
    QFile f(ZqPaths::LogFile());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append) && !f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    f.write(text);
}

} // namespace

QByteArray TArticleLog::WithoutControls(QByteArray s) { return SafeText::ShownUtf8(s); }

void TArticleLog::Header(const QByteArray &groupName, qint64 articleNumber, const QByteArray &subject)
{
    // A subject of any length would make a line of that length.
    qsizetype cut = qMin<qsizetype>(subject.size(), MaxSubjectBytes);
    while (cut > 0 && cut < subject.size() && (static_cast<unsigned char>(subject[cut]) & 0xC0) == 0x80)
        --cut; // never inside a UTF-8 sequence
    if (enabled())
        writeRecord(" \r\n" + timeStamp() + '-' + WithoutControls(groupName) + '-' + QByteArray::number(articleNumber)
                    + '-' + WithoutControls(subject.left(cut)) + "\r\n");
}

void TArticleLog::Note(const QByteArray &groupName, const QByteArray &line)
{
    if (enabled())
        writeRecord(" \r\n" + timeStamp() + '-' + WithoutControls(groupName) + "\r\n" + WithoutControls(line) + "\r\n");
}

void TArticleLog::Line(const QByteArray &line)
{
    if (!enabled())
        return;
    QFile f(ZqPaths::LogFile());
    if (f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        f.write(WithoutControls(line) + "\r\n");
}
