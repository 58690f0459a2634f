#pragma once
#include <QObject>

#include <deque>
#include <functional>
#include <mutex>
#include <condition_variable>
#include <thread>
#include <vector>

// The threads an article's heavy work runs on. Work gets plain data and
// gives back plain results; its done part runs afterwards on the thread
// that owns this object (the engine's), from its event loop, and never once
// this object is gone. Plain standard threads and locks: every hand-over
// is one the thread sanitizer can see.
class TDecodeWorkers : public QObject {
    Q_OBJECT
public:
    explicit TDecodeWorkers(QObject *parent = nullptr);
    // Drops work not begun and waits for work under way: what it writes
    // must not outlive its reader.
    ~TDecodeWorkers() override;

    // The cores but one, which the walk's thread keeps; at least one.
    static int DefaultCount();
    void SetCount(int workers);
    int Count() const;

    // Work of a higher priority goes before any queued of a lower one.
    enum Priority { Later = 0, Soon = 1 };
    void Run(std::function<void()> work, std::function<void()> done, Priority priority = Soon);

private:
    Q_INVOKABLE void collect();
    void serve();
    struct Task {
        std::function<void()> work, done;
    };
    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<Task> soon_, later_;
    std::vector<std::function<void()>> finished_;
    std::vector<std::thread> threads_;
    int count_ = 1;
    int idle_ = 0;
    bool stopping_ = false;
    bool collectPosted_ = false;
};
