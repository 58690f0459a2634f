#include "TGrabConsole.h"

#include "SafeText.h"
#include "TConnectionHint.h"
#include "TGrabEngine.h"
#include "TZqNNTP.h"
#include "ZqIniFile.h"
#include "ZqMessageBox.h"
#include "ZqPaths.h"
#include "ZqSettingsLock.h"

#include <unistd.h>

namespace {

// Server words, group names and subjects among the text: nothing of theirs may
// move the cursor, clear the screen or set the terminal's title.
QString oneLine(QString text) { return SafeText::Shown(text.replace('\n', ' ')); }

} // namespace

void TGrabConsole::line(std::FILE *to, const QString &text)
{
    if (progressShown_ && terminal_) {
        std::fputs("\r\x1b[K", stdout); // the progress line gives way
        std::fflush(stdout);
        progressShown_ = false;
    }
    std::fprintf(to, "%s\n", oneLine(text).toLocal8Bit().constData());
    std::fflush(to);
}

bool TGrabConsole::said(const QString &text) const
{
    // The engine's reason for an end may be a failure told before, which the
    // hint for its kind then followed.
    const QString shown = oneLine(text).trimmed();
    for (const QString &c : complaints_)
        if (c.contains(shown))
            return true;
    return false;
}

void TGrabConsole::complain(const QString &text)
{
    if (said(text))
        return;
    complaints_ << oneLine(text).trimmed();
    line(stderr, QStringLiteral("pixtrawl: ") + text);
}

int TGrabConsole::Run()
{
    terminal_ = ::isatty(STDOUT_FILENO) == 1;
    // No box may wait for a person: whatever would ask is said and declined.
    SetMessageHandler([this](const MessageRequest &r) {
        complain(r.text);
        return r.buttons == MsgButtons::YesNo ? int(MsgNo) : r.buttons == MsgButtons::OkCancel ? int(MsgCancel) : int(MsgOk);
    });
    const QString problem = ZqPaths::Prepare();
    if (!problem.isEmpty())
        complain(problem);
    ZqSettingsLock lock;
    if (!lock.Acquire(ZqPaths::SettingsFile())) {
        line(stderr, QString::fromLatin1(ZqSettingsLock::AlreadyRunning));
        return EndedEarly;
    }
    if (IniReadString("CONFIG", "HOST", QByteArray()).isEmpty()) {
        complain(QStringLiteral("nothing to do: no news server is configured (Options > Configuration)."));
        return NothingToDo;
    }

    TGrabEngine engine;
    engine_ = &engine;
    engine.SetEvents(this);
    engine.PreviewEnabled = false;
    engine.LoadGroups();
    engine.LoadFilters();
    if (engine.GroupNames.isEmpty()) {
        complain(QStringLiteral("nothing to do: no groups are chosen (Groups > Configure Groups)."));
        return NothingToDo;
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
        if (why.isEmpty())
            why = failure_;
        // A reason told as it happened is not told again.
        line(stderr, why.isEmpty() || said(why) ? QStringLiteral("pixtrawl: the run ended early.")
                                                : QStringLiteral("pixtrawl: the run ended early: ") + why);
        return EndedEarly;
    }
    // The summary line names the groups skipped and why.
    return engine.Summary.Skipped.isEmpty() ? Walked : GroupsSkipped;
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
    group_ = SafeText::Shown(name);
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
    // The summary's count: a file saved again over itself is one picture.
    if (outcome == TArticleDisposition::OutcomeSaved)
        saved_ = engine_ ? engine_->Summary.Saved : saved_ + 1;
    progress(false);
}

void TGrabConsole::progress(bool force)
{
    if (!terminal_ || groupCount_ == 0) // nothing to say before the first group
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
    std::fprintf(stdout, "\r\x1b[K%s", oneLine(text).toLocal8Bit().constData());
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
    complain(text);
}
