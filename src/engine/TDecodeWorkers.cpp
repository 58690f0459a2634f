#include "TDecodeWorkers.h"

#include <QThread>

TDecodeWorkers::TDecodeWorkers(QObject *parent) : QObject(parent)
{
    pool_.setObjectName(QStringLiteral("DecodeWorkers"));
    pool_.setMaxThreadCount(DefaultCount());
    // Idle workers stay: a grab hands them an article every few milliseconds.
    pool_.setExpiryTimeout(-1);
}

TDecodeWorkers::~TDecodeWorkers()
{
    pool_.clear();
    pool_.waitForDone();
}

int TDecodeWorkers::DefaultCount() { return qMax(1, QThread::idealThreadCount() - 1); }

void TDecodeWorkers::SetCount(int workers) { pool_.setMaxThreadCount(qMax(1, workers)); }

void TDecodeWorkers::Run(std::function<void()> work, std::function<void()> done, Priority priority)
{
    pool_.start(
        [this, work = std::move(work), done = std::move(done)]() mutable {
            work();
            // Queued to this object: dropped, not run, should it be deleted first.
            QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
        },
        int(priority));
}
