#pragma once
#include "TGrabEvents.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

class TGrabEngine;

// "pixtrawl --grab": Search All Groups once, with nobody at the screen. On
// a terminal one progress line is rewritten in place; on a pipe or a file a
// line per group. Failures go to standard error and end the run; nothing is
// ever asked.
class TGrabConsole : public TGrabEvents {
public:
    // Exit status: 0 every group walked, 1 the run ended early (or could not
    // start), as a timer or a script wants to know.
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

    TGrabEngine *engine_ = nullptr;
    bool terminal_ = false;
    bool attemptDone_ = false;
    bool interrupted_ = false;
    bool progressShown_ = false;
    QString failure_;
    QString group_;
    int groupIndex_ = 0, groupCount_ = 0;
    qint64 article_ = 0;
    qint64 bytes_ = 0;
    int saved_ = 0;
    QElapsedTimer started_;
    QElapsedTimer lastDrawn_;
};
