#pragma once
#include "FakeNntpServer.h"
#include "MessageRecorder.h"
#include "TGrabEngine.h"
#include "TGrabEvents.h"
#include "TempProgramDir.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>

// Everything an engine tells, in order, as short readable lines
// ("state 1", "done saved pic.jpg", "failed login ask: ..."), with the
// pieces a test looks at kept apart as well.
class RecordedEvents : public TGrabEvents {
public:
    QStringList log;
    QList<int> states;
    QStringList statuses;
    QStringList failures; // "<ask|tell>: text"
    QList<QByteArray> previews;
    QList<TArticleDisposition::Outcome> outcomes;
    int runsEnded = 0;
    bool walkedAll = false;
    QString endReason;
    bool trustAnswer = false;

    void StateChanged(int state) override;
    void ConnectionCommandsHeld() override { log << QStringLiteral("held"); }
    void ProgressCleared() override { log << QStringLiteral("cleared"); }
    void RunStarted() override { log << QStringLiteral("run"); }
    void RunEnded(const TRunSummary &summary, bool walked, const QString &why) override;
    void GroupStarted(int index, int count, const QByteArray &name) override;
    void ArticleStarted(qint64 number, qint64 position, qint64 count, const QByteArray &group) override;
    void SubjectKnown(const QByteArray &subject) override;
    void PreviewData(const QByteArray &data, bool finished) override;
    void ArticleFiltered(const QByteArray &subject) override;
    void ArticleDone(TArticleDisposition::Outcome outcome, const QByteArray &fileName, const QString &path) override;
    void Status(const QString &text) override;
    void Failed(TGrabFailure kind, const QString &text, bool mustAsk) override;
    bool TrustCertificate(const QString &text, const QByteArray &sha256Hex) override;
};

// The portable log lies in the current folder: a test that reads it works
// from the program folder for as long as this lives.
class InFolder {
public:
    explicit InFolder(const QString &dir);
    ~InFolder();

private:
    QString old_;
};

// The log as it stands, empty when there is none.
QByteArray LogText();

// A program folder with settings for the fake server, which serves alt.a:
// 1 a uuencoded picture ("pic.jpg"), 2 a text.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;

    // Connects and waits for the server's greeting to be reported.
    void connect(TGrabEngine &e);
    // Runs f once, when the server receives a command starting with prefix.
    void onCommand(const QByteArray &prefix, std::function<void()> f);
    int countCommands(const QByteArray &prefix) const;
    static QByteArray picture(); // the test JPEG

    TempProgramDir dir;
    MessageRecorder boxes; // none may be shown: the engine asks through its events
    FakeNntpServer server;
    RecordedEvents events;
};
