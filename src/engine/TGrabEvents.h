#pragma once
#include "TArticleDisposition.h"
#include "PictureThumbnail.h"
#include "TRunSummary.h"

#include <QByteArray>
#include <QString>

// Why a run or a connection attempt failed.
enum class TGrabFailure {
    ConnectFailed,  // the server could not be reached or dropped the greeting
    LoginFailed,    // user name or password refused
    LoginRequired,  // the server wants a login and none is configured
    Certificate,    // a certificate that does not verify and is not trusted
    SaveFailed,     // a picture could not be written to the output folder
};

// All that a grab tells whoever drives it: the window shows it, the command
// line prints it. Called on the engine's thread, often from inside a wait,
// so an implementation must not delete the engine. Questions have answers
// that keep an unattended run going without a person.
class TGrabEvents {
public:
    virtual ~TGrabEvents() = default;

    // Offline, Online or Searching (TGrabEngine::State*).
    virtual void StateChanged(int /*state*/) {}
    // A skip or stop reconnects: connection commands wait until the state changes.
    virtual void ConnectionCommandsHeld() {}
    // The progress shown for the group and article is over.
    virtual void ProgressCleared() {}
    virtual void RunStarted() {}
    // walkedAll: every group was walked; else why is what ended it early.
    virtual void RunEnded(const TRunSummary & /*summary*/, bool /*walkedAll*/, const QString & /*why*/) {}
    // index from 0 of count groups.
    virtual void GroupStarted(int /*index*/, int /*count*/, const QByteArray & /*name*/) {}
    // The group answered: articles of it are walked from here.
    virtual void GroupSelected(int /*index*/, const QByteArray & /*name*/, qint64 /*articles*/) {}
    // position from 0 of count articles walked in this group.
    virtual void ArticleStarted(qint64 /*number*/, qint64 /*position*/, qint64 /*count*/,
                                const QByteArray & /*group*/) {}
    virtual void SubjectKnown(const QByteArray & /*subject*/) {}
    // Body bytes received for the article and the share of its header's lines.
    virtual void BodyProgress(qint64 /*bytes*/, qint64 /*percent*/) {}
    // Bytes received from the server, for a speed.
    virtual void BytesReceived(qint64 /*bytes*/) {}
    // The decoded bytes of a body still arriving (finished false) or of a
    // file disposed of; only while the engine's PreviewEnabled is set.
    virtual void PreviewData(const QByteArray & /*data*/, bool /*finished*/) {}
    virtual void ArticleFiltered(const QByteArray & /*subject*/) {}
    // Saved, duplicate, empty (and the rest); name and path of a file.
    virtual void ArticleDone(TArticleDisposition::Outcome /*outcome*/, const QByteArray & /*fileName*/,
                             const QString & /*path*/) {}
    // The side of the box thumbnails of saved pictures are made for; 0: none
    // wanted. They are made on the workers and come later than ArticleDone.
    virtual int ThumbnailBox() const { return 0; }
    virtual void ThumbnailReady(const QString & /*path*/, const TThumbnailPixels & /*pixels*/) {}
    // What the run is doing between articles (reconnecting, why it stopped).
    virtual void Status(const QString & /*text*/) {}
    // A failure with its text; mustAsk: a person must see it (a box).
    virtual void Failed(TGrabFailure /*kind*/, const QString & /*text*/, bool /*mustAsk*/) {}
    // The server's certificate does not verify: trust exactly this one?
    virtual bool TrustCertificate(const QString & /*text*/, const QByteArray & /*sha256Hex*/) { return false; }
};
