#pragma once
#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QString>

// The server's group names as bytes, shown as text only when drawn, with a
// filter: the rows are the names that contain the filter text (any case).
// Names are appended in batches, so a long listing costs one insertion per
// batch and never a pass over what is already there.
class TGroupListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    const QList<QByteArray> &Names() const { return names_; } // the whole list
    QByteArray RowName(int row) const;
    void SetNames(const QList<QByteArray> &names);
    // Appends the entries of source beyond those already held (a list that
    // grows while it is fetched); a shorter source starts over.
    void CatchUp(const QList<QByteArray> &source);
    void SetFilter(const QString &text);
    QString Filter() const { return filter_; }

private:
    bool matches(const QByteArray &name) const;
    void addMatches(qsizetype from);

    QList<QByteArray> names_;
    QList<qsizetype> rows_; // indexes into names_ of the rows shown, when filtered
    QString filter_;
    QByteArray needle_; // the filter in lower-case UTF-8
};
