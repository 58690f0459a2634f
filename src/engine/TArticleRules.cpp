#include "TArticleRules.h"

#include "PostSubject.h"
#include "TArticleLog.h"
#include "ZqStatistics.h"

#include <QFile>
#include <QFileInfo>

void TArticleRules::Load(const QString &path)
{
    path_ = path;
    size_ = -2; // never a file's size: the next Refresh reads
    Refresh();
}

void TArticleRules::Refresh()
{
    if (path_.isEmpty())
        return;
    const QFileInfo info(path_);
    const QDateTime stamp = info.exists() ? info.lastModified() : QDateTime();
    const qint64 size = info.exists() ? info.size() : -1;
    if (stamp == stamp_ && size == size_)
        return;
    stamp_ = stamp;
    size_ = size;
    QFile f(path_);
    // One byte past the cap tells the parser the file went on.
    set_ = TRuleSet::Parse(f.open(QIODevice::ReadOnly) ? f.read(TRuleSet::MaxBytes + 1) : QByteArray());
    posts_.clear();
    const QByteArray file = QFile::encodeName(QFileInfo(path_).fileName());
    if (!set_.Warning().isEmpty())
        TArticleLog::Note(file, file + ": " + set_.Warning().toUtf8());
    for (const TRuleSet::Error &e : set_.Errors())
        TArticleLog::Note(file, file + " line " + QByteArray::number(e.line) + ": " + e.message.toUtf8());
}

TRuleSet::Verdict TArticleRules::Decide(const TRuleFacts &facts)
{
    if (set_.IsEmpty())
        return {};
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const PartMarker part = ParsePartMarker(facts.subject);
    if (part.Total <= 1)
        return set_.Decide(facts, now);
    // The first part seen decides for its post: the last part is smaller,
    // and a size rule must not take it alone.
    const QByteArray key = part.Post + '\0' + facts.from + '\0' + facts.group;
    const auto known = posts_.constFind(key);
    if (known != posts_.cend())
        return *known;
    if (posts_.size() >= MaxPosts)
        posts_.clear();
    return posts_.insert(key, set_.Decide(facts, now)).value();
}

bool TArticleRules::Skip(const QByteArray &group, const TRuleFacts &facts, QList<QByteArray> &bodyLines,
                         qint64 articleBytes)
{
    const TRuleSet::Verdict verdict = Decide(facts);
    if (verdict.gaveUp)
        TArticleLog::Line(TRuleSet::GaveUpLine(verdict));
    if (!verdict.skip)
        return false;
    bodyLines.clear();
    AddStatistic("FILTERED_COUNT", group, 1);
    AddStatistic("FILTERED_BYTES", group, articleBytes);
    TArticleLog::Line(TRuleSet::LogLine(verdict));
    return true;
}

TRuleFacts TArticleRules::FactsOf(const QByteArray &group, const Nntp::OverviewEntry &entry)
{
    return {entry.subject, entry.from, entry.date, group, entry.bytes, entry.lines > 0 ? entry.lines : -1};
}

TRuleFacts TArticleRules::FactsOf(const QByteArray &group, const QByteArray &subject,
                                  const Nntp::HeaderFields &header, qint64 lines)
{
    return {subject, header.from, header.date, group, header.bytes, lines > 0 ? lines : -1};
}
