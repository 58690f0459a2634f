#pragma once
#include "TElidedLabel.h"

#include <QString>

// The connection's state in the status bar, built from what the engine
// reports: offline (with the reason of the last failure), connecting,
// connected (where, how, as whom) or which group a search is in. Long texts
// give way to the rest of the status bar, elided.
class TStatusField : public TElidedLabel {
    Q_OBJECT
public:
    explicit TStatusField(QWidget *parent = nullptr);

    // where: "host:port".
    void Connecting(const QString &where);
    // A connection attempt or a run failed; shown while offline.
    void Failed(const QString &reason);
    // The user ended the connection: no failure to show.
    void Disconnected();
    void Offline();
    void Connected(const QString &host, bool tls, bool compressed, const QString &user);
    void Searching(int index, int count);

private:
    void Show(const QString &text) { SetFullText(text); }
    QString reason_;
};
