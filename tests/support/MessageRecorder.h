#pragma once
#include "ZqMessageBox.h"

#include <QList>

// Records every message box while alive and answers with the queued replies
// (or the first button when the queue is empty).
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    void answer(int result) { replies_.append(result); }
    const QList<MessageRequest> &shown() const { return shown_; }
    QStringList texts() const;

private:
    QList<MessageRequest> shown_;
    QList<int> replies_;
    MessageHandler previous_;
};
