#include "TDialogs.h"
#include "TFrmMain.h"
#include "TQtMessageHandler.h"
#include "ZqMessageBox.h"
#include "ZqPaths.h"
#include "ZqSettingsLock.h"

#include <QApplication>
#include <QIcon>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

const char kUsage[] =
    "Usage: pixtrawl [options]\n"
    "Grabs pictures from Usenet newsgroups unattended.\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  -v, --version  print the version and exit\n"
    "\n"
    "Settings: ~/.config/pixtrawl/pixtrawl.ini, or pixtrawl.ini beside the program\n"
    "when that folder holds one and may be written.\n";

// Answers --help and --version before any display is needed; 0 when the
// program should run, else the exit code + 1.
int commandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
            std::fputs(kUsage, stdout);
            return 1;
        }
        if (!std::strcmp(a, "-v") || !std::strcmp(a, "--version")) {
            std::printf("pixtrawl %s\n", PIXTRAWL_VERSION);
            return 1;
        }
    }
    return 0;
}

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

} // namespace

int main(int argc, char **argv)
{
    if (const int done = commandLine(argc, argv))
        return done - 1;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pixtrawl"));
    QApplication::setApplicationVersion(QStringLiteral(PIXTRAWL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.pixtrawl.Pixtrawl"));
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/org.pixtrawl.Pixtrawl-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    TQtMessageHandler::Install();

    // Folders made, first start prepared; settings that cannot be saved are
    // said once here, not by every dialog that fails to save them.
    const QString problem = ZqPaths::Prepare();
    ZqSettingsLock lock;
    if (!lock.Acquire(ZqPaths::SettingsFile())) {
        ZqMessageBox(QString::fromLatin1(ZqSettingsLock::AlreadyRunning), QStringLiteral("Pixtrawl"),
                     MsgIcon::Warning, MsgButtons::Ok, nullptr);
        return 1;
    }
    if (!problem.isEmpty())
        ZqMessageBox(problem, QStringLiteral("Settings"), MsgIcon::Warning, MsgButtons::Ok, nullptr);

    TDialogs dialogs; // declared first: outlives the window that uses it

    // Lives on this stack until the event loop has ended, so a search still
    // unwinding from a nested wait never outlives its window.
    TFrmMain window;
    window.SetDialogFactory(&dialogs);

    // A session's end (SIGTERM), a closed terminal (SIGHUP) or Ctrl+C closes
    // the window as Exit does, without asking, so nothing is lost.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
            char c;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
            window.CloseWithoutPrompt();
        });
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int sig : {SIGTERM, SIGHUP, SIGINT})
            ::sigaction(sig, &sa, nullptr);
    }

    window.show();
    // Without a window manager nothing activates a new window, and the
    // start-up check and auto start wait for the first activation.
    window.activateWindow();
    return app.exec();
}
