#pragma once
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// The articles of a post that marks its parts in the subject ("(2/3)"),
// kept as they came until every part is there, so the parts may arrive in
// any order, with other posts between them, across groups and restarts.
// One file per part in the parts folder, written whole by a rename.
class TPostPartsStore {
public:
    enum AddResult { Kept, AlreadyKept, Completed, TooMany, Failed };

    bool Open(const QString &dir);
    bool IsOpen() const { return !dir_.isEmpty(); }

    // post: the subject without its part number. Completed means every part
    // from 1 to total is kept now, also when this part was kept before (a
    // run killed before saving comes back to its last part).
    AddResult AddPart(const QByteArray &post, int part, int total, const QList<QByteArray> &lines,
                      const QByteArray &subject, qint64 now);
    bool Has(const QByteArray &post, int total) const { return posts_.contains(key(post, total)); }
    // Every part's lines in part order, and the subject of part 1.
    bool Take(const QByteArray &post, int total, QList<QByteArray> &lines, QByteArray &firstSubject) const;
    // Once the file is saved.
    void Release(const QByteArray &post, int total);
    // Drops posts whose first part came more than maxAge seconds ago; a log
    // line for each.
    QList<QByteArray> Prune(qint64 now, qint64 maxAge);

    qsizetype Posts() const { return posts_.size(); }
    static constexpr qsizetype MaxPosts = 2000;

private:
    struct Part {
        QByteArray Subject;
        qint64 Created = 0;
    };
    struct Post {
        QByteArray Id;
        QByteArray Name;
        int Total = 0;
        QMap<int, Part> Parts;
    };
    static QByteArray key(const QByteArray &post, int total);
    QString path(const QByteArray &id, int part) const;
    void loadPart(const QString &file);
    void remove(const QByteArray &key);

    QString dir_;
    QMap<QByteArray, Post> posts_;
};
