#include "EngineFixture.h"

#include "SearchSetup.h"
#include "WaitUntil.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <memory>

namespace {

const char *outcomeName(TArticleDisposition::Outcome o)
{
    switch (o) {
    case TArticleDisposition::OutcomeSaved:
        return "saved";
    case TArticleDisposition::OutcomeDuplicate:
        return "duplicate";
    case TArticleDisposition::OutcomeEmpty:
        return "empty";
    case TArticleDisposition::OutcomeSavedBefore:
        return "saved-before";
    case TArticleDisposition::OutcomeSaveFailed:
        return "save-failed";
    default:
        return "none";
    }
}

} // namespace

void RecordedEvents::StateChanged(int state)
{
    states << state;
    log << QStringLiteral("state %1").arg(state);
}

void RecordedEvents::RunEnded(const TRunSummary &summary, bool walked, const QString &why)
{
    ++runsEnded;
    walkedAll = walked;
    endReason = why;
    log << QStringLiteral("end ") + summary.Text();
}

void RecordedEvents::GroupStarted(int index, int count, const QByteArray &name)
{
    log << QStringLiteral("group %1/%2 %3").arg(index + 1).arg(count).arg(QString::fromLatin1(name));
}

void RecordedEvents::ArticleStarted(qint64 number, qint64, qint64, const QByteArray &)
{
    log << QStringLiteral("article %1").arg(number);
}

void RecordedEvents::SubjectKnown(const QByteArray &subject)
{
    log << QStringLiteral("subject ") + QString::fromLatin1(subject);
}

void RecordedEvents::PreviewData(const QByteArray &data, bool finished)
{
    previews << data;
    log << QString::fromLatin1(finished ? "preview file" : "preview body");
}

void RecordedEvents::ArticleFiltered(const QByteArray &subject)
{
    log << QStringLiteral("filtered ") + QString::fromLatin1(subject);
}

void RecordedEvents::ArticleDone(TArticleDisposition::Outcome outcome, const QByteArray &fileName, const QString &)
{
    outcomes << outcome;
    log << QStringLiteral("done %1 %2").arg(QLatin1String(outcomeName(outcome)), QString::fromLatin1(fileName));
}

void RecordedEvents::Status(const QString &text)
{
    statuses << text;
    log << QStringLiteral("status ") + text;
}

void RecordedEvents::Failed(TGrabFailure, const QString &text, bool mustAsk)
{
    failures << QString::fromLatin1(mustAsk ? "ask: " : "tell: ") + text;
    log << QStringLiteral("failed ") + failures.last();
}

bool RecordedEvents::TrustCertificate(const QString &text, const QByteArray &)
{
    log << QStringLiteral("trust? ") + text;
    return trustAnswer;
}

void EngineTest::SetUp()
{
    ASSERT_TRUE(server.Listen());
    SetUpSearchOfAltA(server, dir.path("out/"), picture());
}

QByteArray EngineTest::picture()
{
    QFile f(QStringLiteral(PIXTRAWL_TEST_DATA "/jpeg/baseline.jpg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void EngineTest::connect(TGrabEngine &e)
{
    e.SetEvents(&events);
    e.LoadGroups();
    e.LoadFilters();
    ASSERT_TRUE(e.Connect());
    ASSERT_TRUE(WaitUntil([&] { return e.State() == TGrabEngine::StateOnline; }, 10000))
        << events.log.join(QStringLiteral("; ")).toStdString();
}

void EngineTest::onCommand(const QByteArray &prefix, std::function<void()> f)
{
    server.OnCommandOnce(prefix, std::move(f));
}

int EngineTest::countCommands(const QByteArray &prefix) const
{
    int n = 0;
    for (const QByteArray &c : server.commands)
        n += c.startsWith(prefix);
    return n;
}

InFolder::InFolder(const QString &dir) : old_(QDir::currentPath()) { QDir::setCurrent(dir); }

InFolder::~InFolder() { QDir::setCurrent(old_); }

QByteArray LogText()
{
    QFile log(ZqPaths::LogFile());
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}
