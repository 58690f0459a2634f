#include "TDialogs.h"
#include "TGrabConsole.h"
#include "TFrmMain.h"
#include "TPictureFingerprint.h"
#include "TPictureReader.h"
#include "TQtMessageHandler.h"
#include "SafeText.h"
#include "ZqMessageBox.h"
#include "ZqPaths.h"
#include "ZqSettingsLock.h"

#include <QApplication>

#include <malloc.h>
#include <QCommandLineParser>
#include <QIcon>
#include <QRegularExpression>

#include <csignal>
#include <cstdio>
#include <functional>

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

enum class Mode { Window, Grab, Done };

// The command line, parsed before any display is needed. Done: answered
// (help, version) or refused, with status as the exit status.
Mode commandLine(int argc, char **argv, int &status)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Grabs pictures from Usenet newsgroups unattended.\n\n"
        "Settings: ~/.config/pixtrawl/pixtrawl.ini, or pixtrawl.ini beside the program\n"
        "when that folder holds one and may be written."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and exit."));
    const QCommandLineOption grab(
        QStringLiteral("grab"),
        QStringLiteral("Search all groups once without a window, then exit: 0 when every group was walked, "
                       "1 when the run ended early (the reason on standard error), 2 for a wrong argument, "
                       "3 when a group was skipped (refused by the server), 4 when there was nothing to do "
                       "(no news server or no groups set up)."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(grab);
    status = 0;
    if (!parser.parse(args)) {
        std::fprintf(stderr, "pixtrawl: %s\nTry 'pixtrawl --help'.\n",
                     SafeText::Shown(parser.errorText()).toLocal8Bit().constData());
        status = 2;
        return Mode::Done;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // The usage line names the program as it was called.
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")), QStringLiteral("Usage: pixtrawl"));
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return Mode::Done;
    }
    if (parser.isSet(version)) {
        std::printf("pixtrawl %s\n"
                    "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                    "This is free software: you are free to change and redistribute it.\n"
                    "There is NO WARRANTY, to the extent permitted by law.\n",
                    PIXTRAWL_VERSION);
        return Mode::Done;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "pixtrawl: unexpected argument '%s'\nTry 'pixtrawl --help'.\n",
                     SafeText::Shown(parser.positionalArguments().first()).toLocal8Bit().constData());
        status = 2;
        return Mode::Done;
    }
    return parser.isSet(grab) ? Mode::Grab : Mode::Window;
}

int signalPipe[2] = {-1, -1};

void signalHandler(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// A session's end (SIGTERM), a closed terminal (SIGHUP) or Ctrl+C reach the
// event loop through a socket pair, so they are taken up between events.
void catchSignals(QObject *context, const std::function<void()> &onSignal)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [onSignal] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
        onSignal();
    });
    struct sigaction sa {};
    sa.sa_handler = signalHandler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(sig, &sa, nullptr);
}

int grabWithoutWindow(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pixtrawl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PIXTRAWL_VERSION));
    TGrabConsole console;
    catchSignals(&app, [&console] { console.Interrupt(); });
    return console.Run();
}

} // namespace

int main(int argc, char **argv)
{
    // Every picture's buffers are a few hundred KB: above glibc's first
    // threshold each is a fresh mapping whose pages fault in as they are
    // written (a quarter of the grab's own time). Kept in the heap instead,
    // with what is freed trimmed only past what one run holds.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    int status = 0;
    const Mode mode = commandLine(argc, argv, status);
    if (mode == Mode::Done)
        return status;
    // Pictures other than JPEG are fingerprinted through Qt's readers.
    TPictureFingerprint::SetReader(TPictureReader::ReadReducedRgb);
    if (mode == Mode::Grab)
        return grabWithoutWindow(argc, argv);

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

    // A session's end, a closed terminal or Ctrl+C closes the window as
    // Exit does, without asking, so nothing is lost.
    catchSignals(&window, [&window] { window.CloseWithoutPrompt(); });

    window.show();
    // Without a window manager nothing activates a new window, and the
    // start-up check and auto start wait for the first activation.
    window.activateWindow();
    return app.exec();
}
