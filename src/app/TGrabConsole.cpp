#include "TGrabConsole.h"

#include "TConnectionHint.h"
#include "TGrabEngine.h"
#include "TZqNNTP.h"
#include "ZqIniFile.h"
#include "ZqMessageBox.h"
#include "ZqPaths.h"
#include "ZqSettingsLock.h"

#include <unistd.h>

namespace {

QByteArray oneLine(QString text) { return text.replace('\n', ' ').toLocal8Bit(); }

} // namespace

void TGrabConsole::line(std::FILE *to, const QString &text)
{
    if (progressShown_ && terminal_) {
        std::fputs("\r\x1b[K", stdout); // the progress line gives way
        std::fflush(stdout);
        progressShown_ = false;
    }
    std::fprintf(to, "%s\n", oneLine(text).constData());
    std::fflush(to);
}

int TGrabConsole::Run()
{
    terminal_ = ::isatty(STDOUT_FILENO) == 1;
    // No box may wait for a person: whatever would ask is said and declined.
    SetMessageHandler([this](const MessageRequest &r) {
        line(stderr, QStringLiteral("pixtrawl: ") + r.text);
        return r.buttons == MsgButtons::YesNo ? int(MsgNo) : r.buttons == MsgButtons::OkCancel ? int(MsgCancel) : int(MsgOk);
    });
    const QString problem = ZqPaths::Prepare();
    if (!problem.isEmpty())
        line(stderr, QStringLiteral("pixtrawl: ") + problem);
    ZqSettingsLock lock;
    if (!lock.Acquire(ZqPaths::SettingsFile())) {
        line(stderr, QString::fromLatin1(ZqSettingsLock::AlreadyRunning));
        return 1;
    }
    if (IniReadString("CONFIG", "HOST", QByteArray()).isEmpty()) {
        line(stderr, QStringLiteral("pixtrawl: no news server is configured (Options > Configuration)."));
        return 1;
    }

    TGrabEngine engine;
    engine_ = &engine;
    engine.SetEvents(this);
    engine.PreviewEnabled = false;
    engine.LoadGroups();
    engine.LoadFilters();
    if (engine.GroupNames.isEmpty()) {
        line(stderr, QStringLiteral("pixtrawl: no groups are chosen (Groups > Configure Groups)."));
        return 1;
    }

    started_.start();
    attemptDone_ = false;
    if (engine.Connect())
        engine.WaitUntil([this] { return attemptDone_ || interrupted_; });
    bool walked = false;
    QString why;
    if (engine.State() == TGrabEngine::StateOnline && !interrupted_) {
        engine.SearchAllGroups();
        walked = engine.WalkedAll() && !interrupted_;
        why = engine.EndReason();
    } else {
        why = failure_.isEmpty() ? QStringLiteral("Connection was not successful!") : failure_;
    }
    engine.Close(true);
    engine.SetEvents(nullptr);
    engine_ = nullptr;

    if (progressShown_)
        progress(true);
    if (terminal_ && progressShown_) {
        std::fputs("\n", stdout);
        progressShown_ = false;
    }
    line(stdout, engine.Summary.Text());
    if (interrupted_)
        why = QStringLiteral("stopped by a signal");
    if (!walked) {
        line(stderr, QStringLiteral("pixtrawl: the run ended early: ") + (why.isEmpty() ? failure_ : why));
        return 1;
    }
    return 0;
}

void TGrabConsole::Interrupt()
{
    interrupted_ = true;
    if (engine_ && engine_->Searching())
        engine_->Disconnect();
}

void TGrabConsole::StateChanged(int state)
{
    if (state == TGrabEngine::StateOnline)
        attemptDone_ = true;
}

void TGrabConsole::GroupStarted(int index, int count, const QByteArray &name)
{
    groupIndex_ = index;
    groupCount_ = count;
    group_ = QString::fromLocal8Bit(name);
    article_ = 0;
    if (terminal_)
        progress(true);
    else
        line(stdout, QStringLiteral("Group %1 of %2: %3").arg(index + 1).arg(count).arg(group_));
}

void TGrabConsole::ArticleStarted(qint64 number, qint64, qint64, const QByteArray &)
{
    article_ = number;
    progress(false);
}

void TGrabConsole::BytesReceived(qint64 bytes)
{
    bytes_ += bytes;
    progress(false);
}

void TGrabConsole::ArticleDone(TArticleDisposition::Outcome outcome, const QByteArray &, const QString &)
{
    if (outcome == TArticleDisposition::OutcomeSaved)
        ++saved_;
    progress(false);
}

void TGrabConsole::progress(bool force)
{
    if (!terminal_)
        return;
    // A few times a second is all a person can read.
    if (!force && lastDrawn_.isValid() && lastDrawn_.elapsed() < 200)
        return;
    lastDrawn_.start();
    const double mb = double(bytes_) / 1048576.0;
    const double seconds = qMax<double>(0.001, double(started_.elapsed()) / 1000.0);
    const QString text = QStringLiteral("Group %1 of %2 %3, article %4, %5 MB, %6 MB/s, %7 saved")
                             .arg(groupIndex_ + 1)
                             .arg(groupCount_)
                             .arg(group_)
                             .arg(article_)
                             .arg(mb, 0, 'f', 1)
                             .arg(mb / seconds, 0, 'f', 1)
                             .arg(saved_);
    std::fprintf(stdout, "\r\x1b[K%s", oneLine(text).constData());
    std::fflush(stdout);
    progressShown_ = true;
}

void TGrabConsole::Status(const QString &text)
{
    if (!text.isEmpty())
        line(stdout, text);
}

void TGrabConsole::Failed(TGrabFailure kind, const QString &given, bool)
{
    QString text = given;
    if (engine_)
        text += TConnectionHint::For(kind, engine_->NewsClient->UseTls, engine_->NewsClient->Port(),
                                     engine_->NewsClient->FailureText);
    failure_ = QString(text).replace('\n', ' ');
    attemptDone_ = true;
    line(stderr, QStringLiteral("pixtrawl: ") + text);
}
