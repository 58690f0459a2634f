#include "TDialogs.h"
#include "TFrmMain.h"
#include "TQtMessageHandler.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pixtrawl"));
    TQtMessageHandler::Install();

    TDialogs dialogs; // declared first: outlives the window that uses it

    // Lives on this stack until the event loop has ended, so a search still
    // unwinding from a nested wait never outlives its window.
    TFrmMain window;
    window.SetDialogFactory(&dialogs);
    window.show();
    // Without a window manager nothing activates a new window, and the
    // start-up check and auto start wait for the first activation.
    window.activateWindow();
    return app.exec();
}
