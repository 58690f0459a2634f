#pragma once
#include "ZqMessageBox.h"

// The real message boxes behind ZqMessageBox: a modal QMessageBox owned by the
// request's window (a QWidget*, or null).
class TQtMessageHandler {
public:
    static void Install();
    static int Show(const MessageRequest &request);
};
