#include "TDecodeWorkers.h"

#include <QThread>

#include <pthread.h>

TDecodeWorkers::TDecodeWorkers(QObject *parent) : QObject(parent), count_(DefaultCount()) {}

TDecodeWorkers::~TDecodeWorkers()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        soon_.clear();
        later_.clear();
    }
    queued_.notify_all();
    for (std::thread &t : threads_)
        t.join();
}

int TDecodeWorkers::DefaultCount() { return qMax(1, QThread::idealThreadCount() - 1); }

void TDecodeWorkers::SetCount(int workers)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    count_ = qMax(1, workers);
}

int TDecodeWorkers::Count() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

void TDecodeWorkers::Run(std::function<void()> work, std::function<void()> done, Priority priority)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        (priority == Soon ? soon_ : later_).push_back({std::move(work), std::move(done)});
        // Threads are made as work needs them, up to the count, and stay:
        // a grab hands them an article every few milliseconds.
        if (qsizetype(soon_.size() + later_.size()) > idle_ && int(threads_.size()) < count_)
            threads_.emplace_back([this] { serve(); });
    }
    queued_.notify_one();
}

void TDecodeWorkers::serve()
{
    pthread_setname_np(pthread_self(), "DecodeWorkers");
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ++idle_;
            queued_.wait(lock, [this] { return stopping_ || !soon_.empty() || !later_.empty(); });
            --idle_;
            if (stopping_)
                return;
            std::deque<Task> &queue = soon_.empty() ? later_ : soon_;
            task = std::move(queue.front());
            queue.pop_front();
        }
        task.work();
        task.work = nullptr; // what it held goes here, not on the engine's thread
        const std::lock_guard<std::mutex> lock(mutex_);
        finished_.push_back(std::move(task.done));
        if (!std::exchange(collectPosted_, true)) {
            // Queued to this object: dropped, not run, should it be deleted first.
            QMetaObject::invokeMethod(this, "collect", Qt::QueuedConnection);
        }
    }
}

void TDecodeWorkers::collect()
{
    std::vector<std::function<void()>> finished;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        finished.swap(finished_);
        collectPosted_ = false;
    }
    for (const std::function<void()> &done : finished)
        if (done)
            done();
}
