#include "TGroupSearch.h"

#include "Decode.h"
#include "TConnectionPool.h"
#include "TDecodeWorkers.h"
#include "TDepthGauge.h"
#include "TOverviewWindow.h"
#include "TGrabEngine.h"
#include "TMeasureClock.h"
#include "TZqNNTP.h"
#include "YEnc.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QFile>
#include <QScopeGuard>
#include <QHash>
#include <QLocale>
#include <QTime>
#include <QTimer>

#include <climits>

#include <cmath>
#include <utility>

namespace {

QString shown(const QByteArray &bytes) { return QString::fromLocal8Bit(bytes); }

// Holds the settings writes of one stretch of an article without waits, so
// they reach the file as one replacement.
class HeldWrites {
public:
    ~HeldWrites() { Flush(); }
    void Hold()
    {
        if (!on_)
            IniGatherWrites();
        on_ = true;
    }
    void Flush()
    {
        if (on_)
            IniFlushWrites();
        on_ = false;
    }

private:
    bool on_ = false;
};

} // namespace

TGroupSearch::TGroupSearch(TGrabEngine &engine)
    : primary_(engine), w_(engine), decoding_(engine.Workers()), thumbnails_(engine), preview_(engine)
{
}

void TGroupSearch::WritePointer(int group, qint64 number, bool complete, const QByteArray *id)
{
    if (group < 0 || group >= w_.GroupNames.size())
        return;
    // The number walked, never the client's last good one: a header that
    // failed must not leave another article's (or group's) number here.
    QByteArray mark = id ? *id : w_.NewsClient->ArticleNumber == number ? w_.NewsClient->MessageID : QByteArray();
    if (complete)
        mark += '+';
    inFlightWritten_ = complete ? InFlightMark{} : InFlightMark{group, number};
    IniWriteString("GROUPS", w_.GroupNames[group], QByteArray::number(number) + ',' + mark);
    if (group < w_.GroupMarks.size())
        w_.GroupMarks[group] = TGroupMark{mark, number};
}

void TGroupSearch::AddGroupTime(const QByteArray &group, const QElapsedTimer &started)
{
    const double days = double(started.elapsed()) / 86400000.0;
    AddStatistic("TIME", group, std::llround(days / 0.00001156));
}

void TGroupSearch::Run(int firstGroup, bool oneGroup)
{
    // A reason left by a command while nothing was searching must not end this run.
    w_.StopReason = TGrabEngine::StopNone;
    inFlightWritten_ = {};
    depth_.Reset();
    primary_.Forget();
    decoding_.Forget();
    walking_ = true;
    // Whatever way the walk ends, nothing waits to be decoded for it.
    const auto walked = qScopeGuard([this] {
        walking_ = false;
        decoding_.Forget();
    });

    enum class Next { Article, Group, EndRun };

    // Ends the run on a reason taken up after a request; returns what comes next.
    auto takeUpStop = [this](const QByteArray &group, const QElapsedTimer &started, bool groupSelected) -> Next {
        const int reason = w_.closing_ ? int(TGrabEngine::StopDisconnect) : w_.StopReason;
        if (reason != TGrabEngine::StopNone)
            primary_.Forget(); // the command ended every connection
        auto endRun = [&] {
            w_.EndEarly(w_.closing_ || reason == TGrabEngine::StopDisconnect ? QStringLiteral("The search was ended.")
                                                                              : QStringLiteral("The search was stopped."));
            w_.Events().ProgressCleared();
            w_.StopReason = TGrabEngine::StopNone;
            w_.NewsClient->BodyLines.clear();
            AddGroupTime(group, started);
            return Next::EndRun;
        };
        switch (reason) {
        case TGrabEngine::StopDisconnect:
            return endRun();
        case TGrabEngine::StopSkipArticle:
        case TGrabEngine::StopSkipGroup:
            w_.Events().ConnectionCommandsHeld();
            if (!primary_.ReconnectAndWait()) {
                w_.SetState(TGrabEngine::StateOffline);
                return endRun();
            }
            w_.StopReason = TGrabEngine::StopNone;
            if (reason == TGrabEngine::StopSkipArticle && groupSelected)
                w_.NewsClient->SelectGroup(group);
            w_.SetState(TGrabEngine::StateSearching);
            w_.NewsClient->BodyLines.clear();
            return reason == TGrabEngine::StopSkipArticle && groupSelected ? Next::Article : Next::Group;
        case TGrabEngine::StopSearch:
            w_.Events().ConnectionCommandsHeld();
            w_.Events().ProgressCleared();
            w_.Connect();
            return endRun();
        default:
            return Next::Article;
        }
    };

    // The connection ended without a command asking for it.
    auto lost = [this] { return !w_.NewsClient->Connected && w_.StopReason == TGrabEngine::StopNone && !w_.closing_; };
    // Automatic reconnection attempts since an article last went through or was given up.
    int attempts = 0;
    // The server refused us: the run ends offline with its reason on the
    // label; a box only where the user is not away behind a reconnection.
    auto refused = [&](const QByteArray &group, const QElapsedTimer &started, bool box) {
        const QString why = w_.RefusalText();
        w_.NewsClient->BodyLines.clear();
        AddGroupTime(group, started);
        w_.EndEarly(why);
        w_.SetState(TGrabEngine::StateOffline);
        w_.Events().ProgressCleared();
        w_.Events().Status(QString(why).replace('\n', ' '));
        w_.Events().Failed(w_.RefusalKind(), why, box);
    };

    const int n = w_.GroupNames.size();
    for (int g = firstGroup; g >= 0 && g < w_.GroupNames.size(); ++g) {
        QElapsedTimer started;
        started.start();
        const QByteArray group = w_.GroupNames[g];
        w_.Events().GroupStarted(g, n, group);
        w_.ProgressPhase = 1;

        if (!SendableGroupName(group)) {
            // A blank or control character would end the command early and let
            // the rest pass for a command of its own.
            w_.Disposition.LogNote(group, "Group name holds a blank or control character; the group was skipped.");
            w_.Summary.Skipped.append({group, QStringLiteral("its name holds a blank or control character")});
            w_.Events().Status(QStringLiteral("Group %1 skipped: its name holds a blank or control character")
                                   .arg(shown(PrintableName(group))));
            if (oneGroup)
                break;
            continue;
        }
        w_.Rules.Refresh(); // an edited "Rules.dat" counts from the next group on
        connections_ = qBound(1, int(IniReadInteger("CONFIG", "CONNECTIONS", TConnectionPool::DefaultConnections)),
                              TConnectionPool::MaxConnections);
        w_.Pool().Open(connections_); // they come up while the group and its overview are asked for
        // A group walked before most likely resumes at its mark: its first
        // overview batch goes out with GROUP.
        const qint64 resumeGuess = ResumeGuess(g < w_.GroupMarks.size() ? w_.GroupMarks[g] : TGroupMark{});
        bool selected = !primary_.Down() &&
                        w_.NewsClient->SelectGroup(group, resumeGuess,
                                                   resumeGuess > 0 ? resumeGuess + OverviewBatch - 1 : 0);
        if (!selected && (primary_.Down() || lost())) {
            const Resumed resumed = primary_.Await(group, attempts);
            switch (resumed) {
            case Resumed::Selected:
                selected = true;
                break;
            case Resumed::Refused:
            case Resumed::RefusedOnReconnect:
                refused(group, started, resumed == Resumed::Refused);
                return;
            case Resumed::GroupRefused:
            case Resumed::Command:
                break;
            }
        }
        if (!selected) {
            // A command that interrupted the selection is taken up here, so a
            // disconnected run does not walk on through every group.
            if (w_.StopReason != TGrabEngine::StopNone || w_.closing_) {
                if (takeUpStop(group, started, false) == Next::EndRun)
                    return;
            } else if (w_.NewsClient->Connected) {
                w_.GroupRefused(group);
            }
            AddGroupTime(group, started);
            if (oneGroup)
                break;
            continue;
        }

        ++w_.Summary.Groups;
        w_.CurrentFirst = w_.NewsClient->FirstArticle;
        w_.CurrentLast = w_.NewsClient->LastArticle;
        const TGroupMark mark = g < w_.GroupMarks.size() ? w_.GroupMarks[g] : TGroupMark{};
        TResumeRange range = ResumeRange(w_.CurrentFirst, w_.CurrentLast, mark);
        // A group seen for the first time may start with its newest articles only.
        const qint64 newest = IniReadInteger("CONFIG", "NEW_GROUP_ARTICLES", 0);
        if (mark == TGroupMark{} && newest > 0 && range.Count > newest) {
            range.First += range.Count - newest;
            range.Count = newest;
        }
        w_.CurrentFirst = range.First;
        const qint64 count = range.Count;
        // Read per group, so a change in Configuration is taken up soon.
        const int pipeline = qBound(0, int(IniReadInteger("CONFIG", "PIPELINE", DefaultPipeline)), MaxPipeline);
        autoDepth_ = pipeline == 0;
        w_.NewsClient->Pipeline = autoDepth_ ? AutoDepth() : pipeline;
        depth_.Pause(); // the GROUP's wait is no body's
        const qint64 maxMb = qBound(qint64(1), qint64(IniReadInteger("CONFIG", "MAX_ARTICLE_MB", DefaultMaxArticleMb)), qint64(1) << 20);
        w_.NewsClient->MaxReplyBytes = maxMb << 20;
        bytesAhead_ = qMax(MinBytesAhead, (maxMb << 20) * 2);
        w_.Pool().OnNote = [this, group](const QString &text) {
            w_.Disposition.LogNote(group, text.toLocal8Bit());
            w_.Events().Status(text);
        };
        w_.Events().GroupSelected(g, group, count);

        const qint64 first = w_.CurrentFirst;
        const qint64 lastWanted = first + count - 1;
        TOverviewWindow overview(first, lastWanted, OverviewBatch);
        // Asks for the batch from..; false when the connection was lost.
        auto fetchOverview = [&](qint64 from, qint64 walked) {
            overview.Fetch(*w_.NewsClient, from, walked);
            return !lost();
        };
        w_.Pool().Forget(); // nothing asked for in another group is wanted here
        decoding_.Forget();
        wish_.Fingerprint = IniReadBool("CONFIG", "SIMILAR_SCREENING", false);
        decoding_.TemporaryDir = TArticleDisposition::OutputDir();
        for (qint64 i = 0; i < count; ++i) {
            const qint64 a = first + i;
            bool groupRefused = false;
            bool gap = false;
            int losses = 0; // connections lost on this article
            TZqNNTP *bodyFrom = nullptr; // the connection the body came over
            bool headerLogged = false;
            bool givenUp = false; // lost too often: skipped as empty
            bool oversize = false; // larger than MAX_ARTICLE_MB: skipped as empty
            HeldWrites held; // the pointer before the body; a filtered article's whole record
            // One pass per try at this article; a lost connection is taken up
            // before anything is logged, counted or marked for it.
            for (;;) {
                w_.Events().ArticleStarted(a, a - w_.CurrentFirst, count, group);
                w_.ProgressPhase = 1;
                w_.ArticleBytes = 0;
                if (!primary_.Mind(group)) {
                    refused(group, started, false);
                    return;
                }

                // Lost between requests (while the last article was
                // decoded): taken up as if this request had lost it.
                bool requestsLost = lost() && !primary_.Down();
                bool extraLost = false;
                // What only the engine's own connection can do, with it down.
                bool needPrimary = false;
                if (!w_.NewsClient->OverviewRefused && overview.Needed(a)) {
                    needPrimary = primary_.Down();
                    requestsLost = needPrimary || !fetchOverview(a, a);
                } else if (!w_.NewsClient->OverviewRefused && !primary_.Down() && overview.AheadDue(a)) {
                    // The next batch while this one's bodies still come, so a
                    // big group never waits on its overview.
                    overview.Asked();
                    requestsLost = !fetchOverview(overview.NextFrom(), a);
                }
                // Each listed article is counted its own overview line below.
                w_.ArticleBytes = 0;
                const Nntp::OverviewEntry *entry = overview.Entry(a);
                // A batch with lines that could not be read may not list an
                // article that is there: its header is asked for instead.
                if (!requestsLost && !entry && overview.IsGap(a)) {
                    gap = true;
                    break;
                }
                if (!requestsLost && entry) {
                    // The same values a header and its status line would have given.
                    w_.NewsClient->ArticleNumber = entry->number;
                    w_.NewsClient->MessageID = entry->messageId;
                    w_.NewsClient->Subject = entry->subject;
                    w_.NewsClient->Lines = entry->lines;
                    w_.ArticleBytes = entry->wireBytes; // its share of the overview, as a header's bytes were
                } else if (!requestsLost) {
                    // A header that does not come must not leave the previous
                    // article's subject and id to be logged, filtered or stored.
                    w_.NewsClient->Subject.clear();
                    w_.NewsClient->MessageID.clear();
                    w_.NewsClient->Lines = 0;
                    needPrimary = primary_.Down();
                    if (!needPrimary)
                        w_.NewsClient->GetHeader(a);
                    requestsLost = needPrimary || lost();
                    if (requestsLost && !needPrimary && w_.NewsClient->ProtocolError) {
                        attempts = 0; // answered: see the body's mismatch below
                        w_.Disposition.LogNote(group, "Article " + QByteArray::number(a) + ": "
                                                          + w_.NewsClient->FailureText.toLocal8Bit());
                    }
                }
                if (!requestsLost) {
                    held.Hold();
                    if (!headerLogged)
                        w_.Disposition.LogHeader(group, a, w_.NewsClient->Subject);
                    headerLogged = true;
                    const bool filtered =
                        w_.Disposition.SubjectFilter(group, w_.NewsClient->Subject, w_.NewsClient->BodyLines,
                                                     w_.ArticleBytes)
                        || w_.Rules.Skip(group,
                                         entry ? TArticleRules::FactsOf(group, *entry)
                                               : TArticleRules::FactsOf(group, w_.NewsClient->Subject,
                                                                        w_.NewsClient->Header, w_.NewsClient->Lines),
                                         w_.NewsClient->BodyLines, w_.ArticleBytes);
                    if (filtered) {
                        ++w_.Summary.Filtered;
                        w_.Events().ArticleFiltered(w_.NewsClient->Subject);
                    }
                    if ((w_.NewsClient->Connected || primary_.Down()) && !filtered) {
                        w_.Events().SubjectKnown(w_.NewsClient->Subject);
                        if (!(inFlightWritten_ == InFlightMark{g, a}))
                            WritePointer(g, a, false);
                        held.Flush();
                        w_.ProgressPhase = 2;
                        preview_.BodyRequested();
                        const qint64 headerBytes = w_.ArticleBytes;
                        const QByteArray expectedId = w_.NewsClient->MessageID;
                        // Bodies go to the other connections while the next
                        // overview batch is due on this one.
                        const bool overviewDue = !w_.NewsClient->OverviewRefused && overview.AheadSoon(a);
                        TZqNNTP *from = RequestBodies(a, expectedId, overview, !overviewDue && !primary_.Down(), group);
                        needPrimary = from == w_.NewsClient && primary_.Down();
                        bodyClient_ = from;
                        if (!needPrimary)
                            from->GetBody(a, {}, expectedId);
                        bodyClient_ = nullptr;
                        bodyFrom = from;
                        if (from != w_.NewsClient)
                            w_.NewsClient->BodyLines = std::move(from->BodyLines);
                        w_.ArticleBytes = headerBytes + from->BodyBytes;
                        oversize = from->OversizeArticle;
                        requestsLost = needPrimary || lost();
                        // The body came over another connection: the engine's
                        // own, lost meanwhile, comes back while the walk goes on.
                        if (requestsLost && !needPrimary && from != w_.NewsClient && primary_.CanHandOver(entry)) {
                            primary_.HandOver();
                            requestsLost = false;
                        }
                        // Another connection ended under it: the others carry on
                        // and the article is asked for again on one of them.
                        extraLost = from != w_.NewsClient && !from->Connected && !requestsLost
                            && w_.StopReason == TGrabEngine::StopNone && !w_.closing_;
                        if (!requestsLost && !extraLost)
                            BodyTaken(from->BodyBytes, from->BodyTransferNs);
                        else
                            depth_.Pause();
                        if (from->ProtocolError) {
                            // The reply belonged to another article: nothing
                            // is filed, the article is asked for again. The
                            // server answered, so it is not away: its
                            // reconnection keeps the quick pace.
                            attempts = 0;
                            w_.NewsClient->ArticleNumber = a;
                            w_.NewsClient->MessageID = expectedId;
                            w_.Disposition.LogNote(group, "Article " + QByteArray::number(a) + ": "
                                                              + from->FailureText.toLocal8Bit());
                        }
                    }
                }
                if (extraLost && !oversize) {
                    givenUp = ++losses >= MaxArticleLosses;
                    if (givenUp)
                        break;
                    continue;
                }
                if (!requestsLost)
                    break;
                if (!oversize && !needPrimary)
                    ++losses;
                // Its requests go to the others at once; the article too.
                if (!oversize && !needPrimary && primary_.CanHandOver(entry)) {
                    primary_.HandOver();
                    givenUp = losses >= MaxArticleLosses;
                    if (givenUp)
                        break;
                    continue;
                }
                const Resumed resumed = primary_.Await(group, attempts);
                if (resumed == Resumed::Selected) {
                    // An article the server always fails on must not hold
                    // the run (and every later run) for good.
                    givenUp = losses >= MaxArticleLosses;
                    if (givenUp || oversize)
                        break;
                    continue; // the same article again
                }
                if (resumed == Resumed::Refused || resumed == Resumed::RefusedOnReconnect) {
                    refused(group, started, resumed == Resumed::Refused);
                    return;
                }
                groupRefused = resumed == Resumed::GroupRefused;
                break; // a command is taken up below, as after any request
            }
            if (groupRefused) {
                w_.GroupRefused(group); // the rest of it, on the reconnection
                break;
            }
            if (gap && w_.StopReason == TGrabEngine::StopNone && !w_.closing_)
                continue; // not on the server: nothing to log, count or mark

            // The workers decode it (they may have begun before it was
            // asked for); the connections read on meanwhile. A command
            // given during the wait is taken up for this article.
            std::shared_ptr<TDecodeQueue::Job> decoded;
            if (!givenUp && !oversize && !w_.NewsClient->BodyLines.isEmpty()) {
                decoded = decoding_.Take(bodyFrom, a, w_.NewsClient->BodyLines, wish_);
                if (!decoded->done) {
                    held.Flush();
                    // The body is whole: a connection ending meanwhile must
                    // not take its lines along with the client's.
                    QList<QByteArray> body = w_.NewsClient->BodyLines;
                    w_.WaitUntil([&decoded] { return decoded->done; });
                    w_.NewsClient->BodyLines = std::move(body);
                }
            }
            if (w_.StopReason != TGrabEngine::StopNone || w_.closing_)
                held.Flush(); // the stop may wait for a reconnection
            const Next next = takeUpStop(group, started, true);
            if (next == Next::EndRun)
                return;
            if (next == Next::Group)
                break;
            if (gap)
                continue;

            held.Hold();
            if (givenUp || oversize) {
                if (!headerLogged)
                    w_.Disposition.LogHeader(group, a, w_.NewsClient->Subject);
                w_.Disposition.SkipArticle(
                    group, w_.ArticleBytes,
                    oversize ? "Article was larger than " + QByteArray::number(w_.NewsClient->MaxReplyBytes >> 20)
                                   + " MB and was skipped"
                             : "Article was skipped after " + QByteArray::number(MaxArticleLosses)
                                   + " failed attempts");
                Disposed(TArticleDisposition::OutcomeEmpty);
                WritePointer(g, a, true);
                held.Flush();
                w_.NewsClient->BodyLines.clear();
                // Its tries are over as if it had gone through: the next
                // article's reconnections start from the quick pace again.
                attempts = 0;
                continue;
            }
            w_.Disposition.InFlightRefetch = ResumedInFlight(mark, a, w_.NewsClient->MessageID);
            const auto outcome = w_.Disposition.Dispose(group, w_.NewsClient->Subject, w_.NewsClient->BodyLines,
                                                     w_.ArticleBytes, w_.PreviewEnabled,
                                                     decoded && decoded->body.constData() == w_.NewsClient->BodyLines.constData()
                                                         ? &decoded->result
                                                         : nullptr); // a skip emptied the lines
            Disposed(outcome);
            if (outcome == TArticleDisposition::OutcomeSaveFailed) {
                // Left without its completion mark, so it comes again.
                held.Flush();
                w_.StopReason = TGrabEngine::StopSearch;
                w_.EndEarly(w_.SaveFailureText());
                takeUpStop(group, started, true);
                w_.ReportSaveFailure();
                return;
            }
            // The next article's body is fetched at once: the same write
            // marks it as the one in flight, which says this one is done.
            // Not while parts or joined lines wait for the commit: a kill
            // before they are let go must not pass for one on the next article.
            const Nntp::OverviewEntry *after = i + 1 < count ? overview.Entry(a + 1) : nullptr;
            if (after && !w_.NewsClient->OverviewRefused && !w_.Disposition.ReleasesPending()
                && !Skipped(group, *after))
                WritePointer(g, a + 1, false, &after->messageId);
            else
                WritePointer(g, a, true);
            held.Flush();
            w_.Disposition.Committed();
            attempts = 0;
        }

        AddGroupTime(group, started);
        if (oneGroup)
            break;
    }
    w_.walkedAll_ = true;
    if (primary_.Down()) {
        // The walk ended on the other connections: the engine's own is not
        // waited for now, and no half-made attempt is left behind.
        primary_.Forget();
        w_.quietConnect_ = false;
        w_.NewsClient->Disconnect();
        w_.SetState(TGrabEngine::StateOffline);
    } else {
        w_.SetState(TGrabEngine::StateOnline);
    }
    w_.Events().ProgressCleared();
}

void TGroupSearch::Disposed(TArticleDisposition::Outcome outcome)
{
    const TArticleDisposition &d = w_.Disposition;
    if (outcome == TArticleDisposition::OutcomeDuplicate)
        ++w_.Summary.Duplicates;
    QString path;
    if (outcome == TArticleDisposition::OutcomeSaved) {
        const QByteArray file = d.OutputDir() + d.LastSavedName;
        w_.Summary.CountSaved(file);
        path = QFile::decodeName(file);
        thumbnails_.Add(std::exchange(w_.Disposition.LastSavedData, QByteArray()), path);
    }
    w_.Events().ArticleDone(outcome, outcome == TArticleDisposition::OutcomeSaved ? d.LastSavedName : d.LastFileName,
                            path);
}

void TGroupSearch::DocOutput(TZqNNTP *client, const QByteArray &strOutput)
{
    // A body's own bytes are counted by the client: with requests sent
    // ahead a chunk may hold the next articles' bodies as well.
    if (w_.ProgressPhase != 2 && client == w_.NewsClient)
        w_.ArticleBytes += strOutput.size();
    w_.Events().BytesReceived(strOutput.size());
    // Only the connection the walk waits on shows progress.
    TZqNNTP *from = bodyClient_ ? bodyClient_ : w_.NewsClient;
    if (client != from || !from->Connected || w_.ProgressPhase != 2)
        return;
    depth_.FirstByte(w_.NewsClient->Pipeline);
    const qint64 lines = from->BodyLines.size();
    const qint64 percent = w_.NewsClient->Lines <= 2 ? 0 : lines * 100 / (w_.NewsClient->Lines - 1);
    w_.Events().BodyProgress(from->BodyBytes, percent);

    preview_.Grown(from->BodyLines, from->BodyBytes);
}

void TGroupSearch::BodyAhead(TZqNNTP *client, qint64 number, const QList<QByteArray> &body)
{
    if (walking_)
        decoding_.Offer(client, number, body, wish_);
}

void TGroupSearch::BodyTaken(qint64 bytes, qint64 transferNs)
{
    depth_.BodyTaken(bytes, transferNs);
    if (autoDepth_)
        w_.NewsClient->Pipeline = AutoDepth();
}

int TGroupSearch::AutoDepth() const { return depth_.Depth(w_.NewsClient->RoundTripUs, w_.Pool().Up()); }

TZqNNTP *TGroupSearch::RequestBodies(qint64 a, const QByteArray &id, TOverviewWindow &overview, bool primaryToo,
                                     const QByteArray &group)
{
    TConnectionPool &pool = w_.Pool();
    pool.Open(connections_);
    // Lost at the start of a group, before the extras were up: one of them
    // takes the article as soon as it is.
    if (primary_.Down() && pool.ExtrasUp() == 0)
        w_.WaitUntil([&] {
            return pool.ExtrasUp() > 0 || pool.ExtrasComing() == 0 || w_.StopReason != TGrabEngine::StopNone
                || w_.closing_;
        });
    const int depth = w_.NewsClient->Pipeline;
    QList<TZqNNTP::Want> wants{{a, id}};
    if (overview.Covers(a)) {
        const int most = depth * qMax(1, pool.Up()) - 1;
        const auto filtered = [&](const Nntp::OverviewEntry &e) { return Skipped(group, e); };
        // What the pool holds from the last step is not given again.
        const qint64 known = pool.LastWanted();
        for (qint64 b : overview.Ahead(a, most, filtered))
            if (b > known)
                wants.append({b, overview.Entry(b)->messageId});
    }
    const bool askedBefore = pool.Holder(a) != nullptr;
    // Decoded bodies the walk has not reached count against the bound too.
    // Nor do bodies go over a compressed engine's client while another can take them.
    const bool primaryTakes = primaryToo && !w_.NewsClient->Compressing();
    pool.Fill(wants, depth, qMax<qint64>(0, bytesAhead_ - decoding_.BytesHeld()), primaryTakes || pool.ExtrasUp() == 0);
    TZqNNTP *holder = pool.Holder(a);
    // The connection is idle, waiting on the round trip: how long until its
    // first byte tells whether the depth falls short (see DocOutput).
    depth_.NoIdleWait();
    if (autoDepth_ && askedBefore && holder && holder->WaitsForRoundTrip(a) && pool.BytesWaiting() < bytesAhead_)
        depth_.IdleWaitBegan();
    return holder ? holder : w_.NewsClient;
}

bool TGroupSearch::Skipped(const QByteArray &group, const Nntp::OverviewEntry &e) const
{
    return w_.Disposition.WouldFilter(e.subject) || w_.Rules.Decide(TArticleRules::FactsOf(group, e)).skip;
}

bool TGroupSearch::SendableGroupName(const QByteArray &name)
{
    if (name.isEmpty())
        return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f')
            return false;
    return true;
}
