#pragma once
#include <QObject>
#include <QThreadPool>

#include <functional>

// The threads an article's heavy work runs on. Work gets plain data and
// gives back plain results; its done part runs afterwards on the thread
// that owns this object (the engine's), from its event loop, and never once
// this object is gone.
class TDecodeWorkers : public QObject {
    Q_OBJECT
public:
    explicit TDecodeWorkers(QObject *parent = nullptr);
    // Waits for work under way: what it writes must not outlive its reader.
    ~TDecodeWorkers() override;

    // The cores but one, which the walk's thread keeps; at least one.
    static int DefaultCount();
    void SetCount(int workers);
    int Count() const { return pool_.maxThreadCount(); }

    // Work of a higher priority goes before any queued of a lower one.
    enum Priority { Later = 0, Soon = 1 };
    void Run(std::function<void()> work, std::function<void()> done, Priority priority = Soon);

private:
    QThreadPool pool_;
};
