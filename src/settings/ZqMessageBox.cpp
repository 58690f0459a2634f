#include "ZqMessageBox.h"

namespace {
MessageHandler &handlerSlot()
{
    static MessageHandler h;
    return h;
}
}

int ZqMessageBox(const QString &text, const QString &caption, MsgIcon icon,
                 MsgButtons buttons, void *owner)
{
    MessageRequest r{text, caption, icon, buttons, owner};
    if (handlerSlot())
        return handlerSlot()(r);
    return buttons == MsgButtons::YesNo ? MsgYes : MsgOk;
}

MessageHandler SetMessageHandler(MessageHandler handler)
{
    MessageHandler old = std::move(handlerSlot());
    handlerSlot() = std::move(handler);
    return old;
}
