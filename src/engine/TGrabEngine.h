#pragma once
#include "TArticleDisposition.h"
#include "TArticleRules.h"
#include "TGrabEvents.h"
#include "TGroupMark.h"
#include "TRunSummary.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class TConnectionPool;
class TDecodeWorkers;
class TGroupSearch;
class TZqNNTP;

// Threads:
//  1. The engine's thread (the window's, or --grab's) owns the engine, the settings, pointers and connections.
//  2. It receives, and decides each article in order: filter, rules, screening, saving, pointer (the keeper).
//  3. A body that is whole goes as plain data to TDecodeWorkers (cores but one, at least one): DecodeArticle.
//  4. Results return through the event loop; the walk waits there, so connections read on and commands come.
//  5. Workers never touch the engine, settings or widgets; the engine's end waits for them, drops their results.
//
// The grab without a window: the news client, the lists a search works from
// (groups and their marks, filters, known checksums, parts), the group
// search loop and the reconnection policy. Commands come in as calls; all it
// does goes out through TGrabEvents. A running search lives inside
// DecodeGroups; the commands reach it only through StopReason plus
// NewsClient->Disconnect(), which makes the waiting request return at once.
class TGrabEngine : public QObject {
    Q_OBJECT
public:
    enum { StateOffline = 0, StateOnline = 1, StateSearching = 2 };
    enum { StopNone = 0, StopDisconnect = 1, StopSearch = 2, StopSkipArticle = 3, StopSkipGroup = 4 };

    explicit TGrabEngine(QObject *parent = nullptr);
    ~TGrabEngine() override;

    // Null: nobody listens.
    void SetEvents(TGrabEvents *events) { events_ = events; }
    TGrabEvents &Events() { return events_ ? *events_ : quiet_; }

    // Pause before each of the quick automatic reconnection attempts of a
    // search whose connection was lost (or, with auto start, never came up).
    QList<int> ReconnectDelaysMs{5000, 15000, 45000, 60000, 60000};
    // After those the run keeps trying at this pace until a command ends it.
    int SlowReconnectDelayMs = 10 * 60 * 1000;
    // Least time between the body request or the end of the last preview of a
    // body still arriving and the next one.
    qint64 PreviewIntervalMs = 250;
    // A body past this is no picture's: its preview stops growing.
    qint64 PreviewBodyLimitBytes = qint64(64) << 20;
    bool PreviewEnabled = true;

    QString ProgramDir;
    TZqNNTP *NewsClient = nullptr;
    // The connections a run fetches bodies over, NewsClient among them.
    TConnectionPool &Pool() { return *pool_; }
    // The threads an article's decoding and a thumbnail are made on.
    TDecodeWorkers &Workers() { return *workers_; }
    QList<QByteArray> GroupNames;
    QList<TGroupMark> GroupMarks;
    QList<QByteArray> FilterStrings;
    TArticleDisposition Disposition{FilterStrings};
    TArticleRules Rules; // "Rules.dat"
    TRunSummary Summary; // of the current or last run

    qint32 StopReason = StopNone;
    qint32 ProgressPhase = 0; // 1 header, 2 body
    qint64 ArticleBytes = 0;  // received for the article in hand
    qint64 CurrentFirst = 0;
    qint64 CurrentLast = 0;

    // The group list and marks, the filters and rules, "CRC-32.dat" and the parts store.
    void LoadGroups();
    void LoadFilters();
    bool SaveChecksums();

    int State() const { return state_; }
    void SetState(int state);
    bool Searching() const { return searching_; }
    bool Closing() const { return closing_; }

    // --- commands ---
    // Starts a connection attempt with the configured server; false (and a
    // failure told) when it could not even start.
    bool Connect();
    void Disconnect() { StopCommand(StopDisconnect); }
    void Stop() { StopCommand(StopSearch); }
    void SkipArticle() { StopCommand(StopSkipArticle); }
    void SkipGroup() { StopCommand(StopSkipGroup); }
    // Search All Groups: only on an idle connection, one search at a time.
    void SearchAllGroups();
    // One group, from the group's index.
    void SearchGroup(int index);
    // The group search loop from firstGroup (only it when oneGroup); the
    // caller has set the state.
    void DecodeGroups(int firstGroup, bool oneGroup);
    // Auto start: connect with nobody there to answer, then search; a first
    // connection that fails for the network's sake is retried as a lost one.
    void AutoStart();
    // A search is about to take up a command (a reason is left).
    bool CommandPending();
    // Ends everything: a running search unwinds at once with its pointer
    // exact. orderly: also goes offline and writes "CRC-32.dat".
    void Close(bool orderly);

    // The words for a failure that needs the user; empty for a network failure.
    QString RefusalText() const;
    TGrabFailure RefusalKind() const;
    // Whether the last run walked every group, and if not, why.
    bool WalkedAll() const { return walkedAll_; }
    QString EndReason() const { return endReason_; }

    // Connections to the server that are up now.
    int ConnectionsInUse() const;
    // Every chunk the client receives, during any of its waits.
    void ClientOutput(const QByteArray &chunk);
    // Blocks in the event loop until done() holds.
    void WaitUntil(const std::function<bool()> &done);

private:
    friend class TGroupSearch;
    friend class TReconnection;
    void RunSearch(int firstGroup, bool oneGroup);
    bool StartConnect();
    void StopCommand(int reason);
    void ClientStateChange(qint32 state);
    void ClientConnectionLost();
    bool OfferTrust();
    void ReportSaveFailure();
    QString SaveFailureText() const;
    void EndEarly(const QString &why);
    // The server would not select group: named in the summary, status and log.
    void GroupRefused(const QByteArray &group);

    TGrabEvents quiet_;
    TGrabEvents *events_ = nullptr;
    // Before the search, whose queue hands them work. Their results only
    // ever reach this thread through its event loop, never while it unwinds.
    std::unique_ptr<TDecodeWorkers> workers_;
    std::unique_ptr<TConnectionPool> pool_;
    std::unique_ptr<TGroupSearch> search_;
    int state_ = StateOffline;
    bool searching_ = false;
    bool closing_ = false;
    qint32 connectOutcome_ = 0;     // last client state since the last connection attempt
    bool quietConnect_ = false;     // an automatic reconnection awaits its outcome: no failure told, no state change
    bool unattendedConnect_ = false; // auto start's first attempt: a network failure is not asked about
    bool walkedAll_ = false;
    QString endReason_;
};
