#include "TQtMessageHandler.h"

#include <QMessageBox>
#include <QWidget>

void TQtMessageHandler::Install()
{
    SetMessageHandler(&TQtMessageHandler::Show);
}

int TQtMessageHandler::Show(const MessageRequest &request)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (request.icon) {
    case MsgIcon::None: icon = QMessageBox::NoIcon; break;
    case MsgIcon::Error: icon = QMessageBox::Critical; break;
    case MsgIcon::Warning: icon = QMessageBox::Warning; break;
    case MsgIcon::Question: icon = QMessageBox::Question; break;
    case MsgIcon::Information: icon = QMessageBox::Information; break;
    }

    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    int dismissed = MsgOk; // what closing the box without a button means
    switch (request.buttons) {
    case MsgButtons::Ok:
        buttons = QMessageBox::Ok;
        dismissed = MsgOk;
        break;
    case MsgButtons::OkCancel:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        dismissed = MsgCancel;
        break;
    case MsgButtons::YesNo:
        buttons = QMessageBox::Yes | QMessageBox::No;
        dismissed = MsgNo;
        break;
    }

    QMessageBox box(icon, request.caption, request.text, buttons,
                    static_cast<QWidget *>(request.owner));
    box.setWindowModality(Qt::ApplicationModal);
    switch (box.exec()) {
    case QMessageBox::Ok: return MsgOk;
    case QMessageBox::Cancel: return MsgCancel;
    case QMessageBox::Yes: return MsgYes;
    case QMessageBox::No: return MsgNo;
    default: return dismissed;
    }
}
