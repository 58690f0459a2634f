#include "WaitUntil.h"

#include <QCoreApplication>
#include <QTimer>

bool WaitUntil(const std::function<bool()> &cond, int ms)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(ms);
    while (!cond()) {
        if (!deadline.isActive())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
