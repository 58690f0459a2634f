#pragma once
#include <QString>
#include <functional>

// The one seam every message box of the program goes through. The GUI installs
// a handler that shows a real QMessageBox; tests install one that records the
// request and answers it, so nothing ever waits for a human.
enum class MsgIcon { None, Error, Warning, Question, Information };
enum class MsgButtons { Ok, OkCancel, YesNo };
enum MsgResult { MsgOk = 1, MsgCancel = 2, MsgYes = 6, MsgNo = 7 };

struct MessageRequest {
    QString text;
    QString caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    void *owner = nullptr; // the owning window, or null for an unowned box
};

using MessageHandler = std::function<int(const MessageRequest &)>;

// Shows (or hands to the installed handler) a message box and returns the
// button chosen. Without a handler the first button's answer is returned.
int ZqMessageBox(const QString &text, const QString &caption, MsgIcon icon,
                 MsgButtons buttons, void *owner = nullptr);

// Installs a handler; returns the previous one so tests can restore it.
MessageHandler SetMessageHandler(MessageHandler handler);
