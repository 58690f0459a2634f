#pragma once
#include <QObject>
#include <QString>

class QLabel;
class QProgressBar;
class QTimer;

// The article lines of the window (its header, progress, caption and
// subject) change with every article, hundreds a second on a fast link: each
// change is kept, and shown at once when the last showing is at least
// MinGapMs old, else when that gap is over. Setting the text and laying it
// out is most of what the window costs per article.
class TArticleLines : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 MinGapMs = 200;

    TArticleLines(QLabel &header, QProgressBar &bar, QLabel &caption, QLabel &subject, QObject *parent = nullptr);

    // A new article: all of its lines at once.
    void SetArticle(int value, const QString &header, const QString &caption, const QString &subject);
    void SetCaption(const QString &text);
    void SetSubject(const QString &text);
    // What is kept is shown now (the end of a run).
    void Flush();
    // A status in the caption's place, at once; the next article's lines
    // are shown at once too.
    void ShowStatus(const QString &text);
    // What is kept is dropped (the lines are cleared or set directly); the
    // next article's lines are shown at once.
    void Drop();

private:
    void changed();
    QLabel &header_;
    QProgressBar &bar_;
    QLabel &caption_;
    QLabel &subject_;
    QTimer *turn_;
    qint64 shownAtNs_ = -1;
    int value_ = 0;
    QString headerText_, captionText_, subjectText_;
    bool position_ = false, captionSet_ = false, subjectSet_ = false;
};
