// One article judged by 100 rules, 20 of them regular expressions: the cost
// every overview line pays before its body may be asked for. The articles
// pass every skip rule, so each rule is tried (the slowest case); budget
// 2 us an article.
#include "TRuleSet.h"

#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QList>

#include <stdexcept>

namespace {

QByteArray hundredRules()
{
    QByteArray text = "# 100 rules, 20 of them regular expressions\n";
    for (int i = 0; i < 40; ++i)
        text += "skip subject contains unwanted" + QByteArray::number(i) + "\n";
    for (int i = 0; i < 15; ++i)
        text += "skip from contains @spam" + QByteArray::number(i) + ".example\n";
    for (int i = 0; i < 5; ++i)
        text += "skip from is bot" + QByteArray::number(i) + " <bot@example.org>\n";
    for (int i = 0; i < 10; ++i)
        text += "skip subject matches \\bsample" + QByteArray::number(i) + "\\d{2}\\b\n";
    for (int i = 0; i < 5; ++i)
        text += "skip name matches ^(thumb|preview)" + QByteArray::number(i) + "_.*\\.(jpe?g|png)$\n";
    for (int i = 0; i < 5; ++i)
        text += "skip group matches ^alt\\.binaries\\.(video|sounds)" + QByteArray::number(i) + "\\.\n";
    text += "skip bytes > 50M\nskip bytes < 1K\nskip lines < 10\nskip lines > 900000\nskip age > 365\n";
    for (const char *ext : {"exe", "zip", "rar", "par2", "nfo", "avi", "mkv", "mp4", "txt", "sfv"})
        text += QByteArray("skip ext is ") + ext + "\n";
    for (const char *ext : {"webp", "gif", "png", "jpeg", "jpg"})
        text += QByteArray("only ext is ") + ext + "\n";
    return text;
}

QList<TRuleFacts> articles()
{
    QList<TRuleFacts> list;
    for (int i = 0; i < 1000; ++i) {
        TRuleFacts f;
        const QByteArray n = QByteArray::number(i);
        f.subject = "[" + n + "/1000] - \"Holiday at the lake " + n + ".jpg\" yEnc (1/" + QByteArray::number(1 + i % 7)
            + ")";
        f.from = "Poster " + QByteArray::number(i % 37) + " <poster" + QByteArray::number(i % 37) + "@example.net>";
        f.date = "Mon, " + QByteArray::number(1 + i % 28) + " Dec 2026 10:" + QByteArray::number(10 + i % 50)
            + ":00 +0000";
        f.group = "alt.binaries.pictures.lakes";
        f.bytes = 400000 + i * 97;
        f.lines = 3000 + i;
        list << f;
    }
    return list;
}

void BM_HundredRulesPerArticle(benchmark::State &state)
{
    const TRuleSet set = TRuleSet::Parse(hundredRules());
    if (set.Rules().size() != 100 || !set.Errors().isEmpty())
        throw std::runtime_error("the bench's rules did not parse");
    const QList<TRuleFacts> list = articles();
    const qint64 now = QDateTime(QDate(2026, 12, 31), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
    for (const TRuleFacts &f : list)
        if (set.Decide(f, now).skip)
            throw std::runtime_error("a bench article was skipped: not every rule would be tried");
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(set.Decide(list[i], now));
        i = (i + 1) % list.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HundredRulesPerArticle);

} // namespace
