#pragma once
#include <QLabel>
#include <QString>

// A one-line label that gives way in a crowded row: it asks for room for
// its whole text, takes what it gets, elides the rest and keeps the whole
// text as its tooltip.
class TElidedLabel : public QLabel {
    Q_OBJECT
public:
    // minChars: the least it shrinks to, in average characters.
    explicit TElidedLabel(int minChars, QWidget *parent = nullptr);

    void SetFullText(const QString &text);
    QString FullText() const { return text_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *e) override;

private:
    void Elide();
    QString text_;
    int minChars_;
};
