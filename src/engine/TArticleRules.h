#pragma once
#include "NntpParse.h"
#include "TRuleSet.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

// "Rules.dat" as the search applies it: read again only when the file
// changed, its bad lines logged once per reading, and one verdict for all
// parts of a multi-part post. A file that cannot be read holds no rules.
class TArticleRules {
public:
    // Reads the file now; later Refresh calls read it again when changed.
    void Load(const QString &path);
    void Refresh();
    const TRuleSet &Set() const { return set_; }
    QString Path() const { return path_; }

    // The walk and the bodies it asks for ahead both judge by this, so an
    // article skipped here is never requested.
    TRuleSet::Verdict Decide(const TRuleFacts &facts);
    // A skipped article: its body emptied, counted as filtered and logged,
    // as a subject filter hit is. True when skipped.
    bool Skip(const QByteArray &group, const TRuleFacts &facts, QList<QByteArray> &bodyLines, qint64 articleBytes);

    static TRuleFacts FactsOf(const QByteArray &group, const Nntp::OverviewEntry &entry);
    static TRuleFacts FactsOf(const QByteArray &group, const QByteArray &subject, const Nntp::HeaderFields &header,
                              qint64 lines);

    // Verdicts kept for posts seen, at most.
    static constexpr int MaxPosts = 4096;

private:
    QString path_;
    QDateTime stamp_;
    qint64 size_ = -1;
    TRuleSet set_;
    QHash<QByteArray, TRuleSet::Verdict> posts_; // point into set_: emptied when it is read again
};
