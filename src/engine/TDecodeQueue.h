#pragma once
#include <QByteArray>
#include <QList>

#include "ArticleDecode.h"

#include <map>
#include <memory>
#include <utility>

class TDecodeWorkers;

// Bodies handed to the workers as soon as they are whole, in whatever order
// the connections bring them, and taken back by the walk in article order.
// A body the walk takes that was not handed over before goes now; the walk
// waits for its result in the event loop, so the connections read on.
class TDecodeQueue {
public:
    struct Job {
        QList<QByteArray> body; // shares the received lines: tells the job's body from another
        TDecodedArticle result;
        bool done = false;
        ~Job(); // removes a temporary nobody took
    };
    // Where the workers write a whole file's temporary; empty: nowhere.
    QByteArray TemporaryDir;

    explicit TDecodeQueue(TDecodeWorkers &workers) : workers_(workers) {}

    // A whole body of number on connection source, before the walk wants it.
    void Offer(const void *source, qint64 number, const QList<QByteArray> &body, const TArticleWish &wish);
    // The job for exactly this body (handed over now when it was not);
    // every job of an article before number is let go.
    std::shared_ptr<Job> Take(const void *source, qint64 number, const QList<QByteArray> &body,
                                    const TArticleWish &wish);
    // A group ends, or the walk leaves what was asked for behind.
    void Forget() { jobs_.clear(); }
    // Decoded bytes the jobs hold.
    qint64 BytesHeld() const;
    int Held() const { return int(jobs_.size()); }

private:
    std::shared_ptr<Job> start(const QList<QByteArray> &body, const TArticleWish &wish);
    TDecodeWorkers &workers_;
    std::multimap<std::pair<qint64, quintptr>, std::shared_ptr<Job>> jobs_;
};
