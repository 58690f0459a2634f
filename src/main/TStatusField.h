#pragma once
#include <QLabel>
#include <QString>

// The connection's state in the status bar, built from what the engine
// reports: offline (with the reason of the last failure), connecting,
// connected (where, how, as whom) or which group a search is in. Long texts
// are elided; the whole text is the tooltip.
class TStatusField : public QLabel {
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
    void Connected(const QString &host, bool tls, const QString &user);
    void Searching(int index, int count);

    QString FullText() const { return text_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *e) override;

private:
    void Show(const QString &text);
    QString text_;
    QString reason_;
};
