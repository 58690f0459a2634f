#include "MessageRecorder.h"

#include <QStringList>

MessageRecorder::MessageRecorder()
{
    previous_ = SetMessageHandler([this](const MessageRequest &r) {
        shown_.append(r);
        if (!replies_.isEmpty())
            return replies_.takeFirst();
        return r.buttons == MsgButtons::YesNo ? int(MsgYes) : int(MsgOk);
    });
}

MessageRecorder::~MessageRecorder() { SetMessageHandler(previous_); }

QStringList MessageRecorder::texts() const
{
    QStringList out;
    for (const auto &r : shown_)
        out << r.text;
    return out;
}
