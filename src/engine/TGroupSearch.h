#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>

#include "NntpParse.h"
#include "TArticleDisposition.h"

class TGrabEngine;
class TZqNNTP;

// The group search loop: walks the engine's groups article by article and
// takes up the stop reasons its commands leave. It works on the engine's
// lists and client; the engine owns it.
class TGroupSearch {
public:
    explicit TGroupSearch(TGrabEngine &engine);

    void Run(int firstGroup, bool oneGroup);
    // Every chunk a connection receives, during any of its waits.
    void DocOutput(TZqNNTP *client, const QByteArray &strOutput);

    // Overview lines asked for at once.
    static constexpr qint64 OverviewBatch = 2000;
    // BODY requests in flight (PIPELINE: 0 automatic, else fixed up to
    // MaxPipeline) and the largest article taken (MAX_ARTICLE_MB), when the
    // settings do not say.
    static constexpr int DefaultPipeline = 0;
    static constexpr int MinAutoPipeline = 2;
    static constexpr int MaxPipeline = 256;
    static constexpr int DefaultMaxArticleMb = 256;
    // Lost connections on one article before it is skipped.
    static constexpr int MaxArticleLosses = 3;
    // Bytes of bodies that came ahead of the walk, at least (else twice
    // MAX_ARTICLE_MB): past it no new request goes out.
    static constexpr qint64 MinBytesAhead = qint64(64) << 20;

    // A group name that can go into a command line: not empty, no blank, no
    // control character.
    static bool SendableGroupName(const QByteArray &name);

private:
    enum class Resumed { Selected, GroupRefused, Command, Refused, RefusedOnReconnect };
    Resumed ResumeLostConnection(const QByteArray &group, int &attempts);
    bool PauseUnlessCommanded(int ms);
    bool ReconnectAndWait();
    void WritePointer(int group, qint64 number, bool complete);
    // The articles after a whose bodies may be asked for before a's arrives.
    QList<qint64> BodiesAhead(qint64 a, qint64 overviewEnd, const QHash<qint64, Nntp::OverviewEntry> &overview,
                              int most);
    // Requests of a and the articles ahead sent over the connections; the
    // one that holds a's request.
    TZqNNTP *RequestBodies(qint64 a, const QByteArray &id, qint64 overviewEnd,
                           const QHash<qint64, Nntp::OverviewEntry> &overview, bool primaryToo);
    int connections_ = 1; // CONNECTIONS of this group
    qint64 bytesAhead_ = MinBytesAhead;
    TZqNNTP *bodyClient_ = nullptr; // the connection the walk waits on for a body
    // The filter's verdict on each overview entry looked at ahead, so a deep
    // pipeline does not judge the same subjects again for every article.
    QHash<qint64, bool> aheadFiltered_;
    void AddGroupTime(const QByteArray &group, const QElapsedTimer &started);

    void Disposed(TArticleDisposition::Outcome outcome);
    // The automatic depth: about twice the bytes the measured receive rate
    // brings in one round trip, in requests of the measured average size.
    void MeasureBody(qint64 bodyBytes, qint64 transferNs);
    static constexpr qint64 MinTimedBody = 32 * 1024;
    static constexpr double AssumedLineRate = 20e6;
    static constexpr double AssumedBody = 100e3;
    double lineRate_ = 0;
    int AutoDepth() const;
    bool autoDepth_ = true;
    // Raised each time the walk finds a connection idle, waiting on the
    // round trip for the body it needs next: a depth measured from the
    // rate alone would stay as low as the rate it holds down.
    int depthFloor_ = 0;
    QElapsedTimer idleSince_; // the walk found its connection idle
    static constexpr qint64 IdleWaitNs = 2000000;
    double rateBytesPerSec_ = 0;
    double averageBody_ = 0;
    QElapsedTimer lastBodyDone_; // since the last body came in whole

    TGrabEngine &w_;
    qint64 PreviewMark = 0; // body lines at the last preview pass
    QElapsedTimer lastPreview_; // since the body request or the end of the last preview pass
    qint64 lastPassNs_ = 0;
};
