#include "TDecodeQueue.h"

#include "TDecodeWorkers.h"
#include "TOutputFolder.h"

#include <unistd.h>

TDecodeQueue::Job::~Job()
{
    if (!result.Temporary.isEmpty())
        ::unlink(result.Temporary.constData());
}

std::shared_ptr<TDecodeQueue::Job> TDecodeQueue::start(const QList<QByteArray> &body, const TArticleWish &wish)
{
    auto job = std::make_shared<Job>();
    job->body = body;
    // The worker has its own copy of the list and its own result; the job
    // takes the result on this thread, once it is done. A result never
    // taken (the workers went first) removes its temporary.
    struct Output {
        TDecodedArticle article;
        ~Output()
        {
            if (!article.Temporary.isEmpty())
                ::unlink(article.Temporary.constData());
        }
    };
    auto result = std::make_shared<Output>();
    workers_.Run(
        [result, body, wish, dir = TemporaryDir] {
            TDecodedArticle &a = result->article;
            a = DecodeArticle(body, wish);
            // Written here, so the walk's thread only renames it.
            const QByteArray &bytes = a.What == TDecodedArticle::YEnc ? a.Y.Data : a.Stream;
            if (a.Whole && !dir.isEmpty() && TOutputFolder::WriteTemporary(dir, bytes, &a.Temporary) != 0)
                a.Temporary.clear();
        },
        [job, result] {
            job->result = std::exchange(result->article, TDecodedArticle());
            job->done = true;
        });
    return job;
}

void TDecodeQueue::Offer(const void *source, qint64 number, const QList<QByteArray> &body, const TArticleWish &wish)
{
    if (body.isEmpty())
        return;
    jobs_.emplace(std::make_pair(number, quintptr(source)), start(body, wish));
}

std::shared_ptr<TDecodeQueue::Job> TDecodeQueue::Take(const void *source, qint64 number,
                                                            const QList<QByteArray> &body, const TArticleWish &wish)
{
    std::shared_ptr<Job> found;
    const auto [from, to] = jobs_.equal_range({number, quintptr(source)});
    for (auto it = from; it != to; ++it)
        if (it->second->body.constData() == body.constData() && it->second->body.size() == body.size())
            found = it->second;
    jobs_.erase(jobs_.begin(), jobs_.upper_bound({number, ~quintptr(0)}));
    return found ? found : start(body, wish);
}

qint64 TDecodeQueue::BytesHeld() const
{
    qint64 bytes = 0;
    for (const auto &[key, job] : jobs_)
        bytes += job->done ? job->result.Bytes() : 0;
    return bytes;
}
