#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>

#include "NntpParse.h"
#include "TArticleDisposition.h"
#include "TDecodeQueue.h"
#include "TGrowingPreview.h"
#include "TThumbnailQueue.h"
#include "TDepthGauge.h"
#include "TReconnection.h"

class TGrabEngine;
class TOverviewWindow;
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
    // A body that came whole before the walk asked for it: decoded now.
    void BodyAhead(TZqNNTP *client, qint64 number, const QList<QByteArray> &body);

    // Overview lines asked for at once.
    static constexpr qint64 OverviewBatch = 2000;
    // BODY requests in flight (PIPELINE: 0 automatic, else fixed up to
    // MaxPipeline) and the largest article taken (MAX_ARTICLE_MB), when the
    // settings do not say.
    static constexpr int DefaultPipeline = 0;
    static constexpr int MaxPipeline = TDepthGauge::MaxDepth;
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
    using Resumed = TReconnection::Resumed;
    TReconnection primary_;
    // id: the article's message-id when not the client's.
    void WritePointer(int group, qint64 number, bool complete, const QByteArray *id = nullptr);
    // The pointer last written marks this article as the one in flight.
    struct InFlightMark {
        int group = -1;
        qint64 number = 0;
        bool operator==(const InFlightMark &) const = default;
    };
    InFlightMark inFlightWritten_;
    // What the subject filter or the rules would skip, from the overview.
    bool Skipped(const QByteArray &group, const Nntp::OverviewEntry &e) const;
    // Requests of a and the articles ahead sent over the connections; the
    // one that holds a's request.
    TZqNNTP *RequestBodies(qint64 a, const QByteArray &id, TOverviewWindow &overview, bool primaryToo,
                           const QByteArray &group);
    int connections_ = 1; // CONNECTIONS of this group
    qint64 bytesAhead_ = MinBytesAhead;
    TZqNNTP *bodyClient_ = nullptr; // the connection the walk waits on for a body
    void AddGroupTime(const QByteArray &group, const QElapsedTimer &started);

    void Disposed(TArticleDisposition::Outcome outcome);
    // Measured for the automatic depth, which follows at once.
    void BodyTaken(qint64 bytes, qint64 transferNs);
    int AutoDepth() const;
    bool autoDepth_ = true;
    TDepthGauge depth_;

    TGrabEngine &w_;
    TDecodeQueue decoding_;
    TArticleWish wish_; // of the group walked
    bool walking_ = false;
    TThumbnailQueue thumbnails_;
    TGrowingPreview preview_;
};
