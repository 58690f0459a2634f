// The walk against a server that answers with the wrong article.
#include "EngineFixture.h"

#include "ZqIniFile.h"
#include "ZqPaths.h"
#include "ZqStatistics.h"

#include <QDir>
#include <QFile>

namespace {

// Ends the run where the reconnection falls back to its slow pace: a
// reachable server must never get there.
class SlowPaceStops : public RecordedEvents {
public:
    TGrabEngine *engine = nullptr;
    bool reached = false;
    void Status(const QString &text) override
    {
        RecordedEvents::Status(text);
        if (engine && text.startsWith(QLatin1String("Connection lost; next try at"))) {
            reached = true;
            engine->Stop();
        }
    }
};

// A server out of step answers BODY n (and HEAD n) with article n + 1:
// each try counts against the article, which is skipped after
// MaxArticleLosses of them, and the run ends at the group's end, over one
// connection or several, by number or by message id, with the overview or
// with headers.
TEST_F(EngineTest, AServerThatAnswersWithTheNextArticleSkipsEachAndTheRunEnds)
{
    IniWriteString("CONFIG", "LOG", "yes");
    InFolder here(dir.dir());
    auto &articles = server.groups[0].articles;
    articles << FakeNntpServer::MakeArticle(3, "three", {"x"}) << FakeNntpServer::MakeArticle(4, "four", {"y"});
    const QList<FakeNntpServer::Article> table = articles;
    const auto next = [&](const QByteArray &arg) -> const FakeNntpServer::Article * {
        for (qsizetype i = 0; i < table.size(); ++i)
            if (table[i].messageId == arg || QByteArray::number(table[i].number) == arg)
                return &table[(i + 1) % table.size()];
        return nullptr;
    };
    server.responder = [&](FakeNntpServer &s, const QByteArray &command) {
        const bool body = command.startsWith("BODY ");
        if (!body && !command.startsWith("HEAD "))
            return false;
        const QByteArray arg = command.mid(5);
        const FakeNntpServer::Article *a = next(arg);
        if (!a)
            return false;
        const QByteArray number = arg.startsWith('<') ? "0" : QByteArray::number(a->number);
        s.Send((body ? "222 " : "221 ") + number + ' ' + a->messageId + "\r\n"
               + FakeNntpServer::Stuffed(body ? a->body : QList<QByteArray>{"Subject: " + a->subject}));
        return true;
    };

    struct Case {
        int connections;
        bool overview; // false: a header per article, bodies by number on the engine's own connection
    };
    for (const Case c : {Case{1, true}, Case{8, true}, Case{1, false}, Case{8, false}}) {
        SCOPED_TRACE(testing::Message() << c.connections << " connections, overview " << c.overview);
        IniWriteInteger("CONFIG", "CONNECTIONS", c.connections);
        IniWriteString("GROUPS", "alt.a", "");
        QFile::remove(ZqPaths::LogFile());
        server.overview = c.overview;
        TGrabEngine e;
        e.ReconnectDelaysMs = {1, 1, 1, 1, 1};
        SlowPaceStops stops;
        stops.engine = &e;
        connect(e);
        e.SetEvents(&stops);
        e.SearchAllGroups();

        EXPECT_FALSE(stops.reached);
        EXPECT_TRUE(e.WalkedAll());
        // Without the overview the article's own id never came.
        EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), c.overview ? "4,<art4@fake.invalid>+" : "4,+");
        EXPECT_EQ(ReadStatistic("SAVED_COUNT", ""), 0);
        EXPECT_TRUE(QDir(dir.path("out")).entryList(QDir::Files).isEmpty());
        QFile log(ZqPaths::LogFile());
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_EQ(log.readAll().count("Article was skipped after 3 failed attempts"), 4);
    }
}

} // namespace
