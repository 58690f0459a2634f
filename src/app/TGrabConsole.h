#pragma once
#include "TGrabEvents.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdio>

class TGrabEngine;

// "pixtrawl --grab": Search All Groups once, with nobody at the screen. On
// a terminal one progress line is rewritten in place; on a pipe or a file a
// line per group. Failures go to standard error, each reason once, and end
// the run; nothing is ever asked. Whatever came from the server or an
// article is printed as SafeText shows it, so it cannot act on a terminal.
class TGrabConsole : public TGrabEvents {
public:
    // The exit status, as a timer or a script wants to know how it went
    // (2, a wrong argument, is the command line's).
    enum ExitStatus {
        Walked = 0,      // every group was walked
        EndedEarly = 1,  // the run ended early or could not start; the reason on standard error
        GroupsSkipped = 3, // walked to the end, but a group was skipped (the server refused it, or its name cannot be sent)
        NothingToDo = 4, // no news server configured or no groups chosen
    };
    int Run();
    // SIGTERM, SIGINT, SIGHUP: stop as Stop does; the pointer stays exact.
    void Interrupt();

    void StateChanged(int state) override;
    void GroupStarted(int index, int count, const QByteArray &name) override;
    void ArticleStarted(qint64 number, qint64 position, qint64 count, const QByteArray &group) override;
    void BytesReceived(qint64 bytes) override;
    void ArticleDone(TArticleDisposition::Outcome outcome, const QByteArray &fileName, const QString &path) override;
    void Status(const QString &text) override;
    void Failed(TGrabFailure kind, const QString &text, bool mustAsk) override;

private:
    void progress(bool force);
    void line(std::FILE *to, const QString &text);
    // "pixtrawl: text" on standard error, unless that was said already.
    void complain(const QString &text);
    bool said(const QString &text) const;

    TGrabEngine *engine_ = nullptr;
    bool terminal_ = false;
    bool attemptDone_ = false;
    bool interrupted_ = false;
    bool progressShown_ = false;
    QString failure_;
    QStringList complaints_; // as printed, one line each
    QString group_;
    int groupIndex_ = 0, groupCount_ = 0;
    qint64 article_ = 0;
    qint64 bytes_ = 0;
    int saved_ = 0;
    QElapsedTimer started_;
    QElapsedTimer lastDrawn_;
};
