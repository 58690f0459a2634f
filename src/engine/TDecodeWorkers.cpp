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
    queued_.release(std::ptrdiff_t(threads_.size()));
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
        if (idle_ == 0 && int(threads_.size()) < count_)
            threads_.emplace_back([this] { serve(); });
    }
    queued_.release();
}

void TDecodeWorkers::serve()
{
    pthread_setname_np(pthread_self(), "DecodeWorkers");
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++idle_;
        }
        queued_.acquire();
        Task task;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            --idle_;
            // A task dropped at the end leaves its count behind: nothing to take.
            if (stopping_ || (soon_.empty() && later_.empty()))
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
