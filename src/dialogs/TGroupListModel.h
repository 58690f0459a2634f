#pragma once
#include <QAbstractListModel>
#include <QByteArray>
#include <QList>

// The server's group names as bytes; shown as text only when drawn. Rows are
// appended in batches, so a long listing costs one insertion per batch.
class TGroupListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    const QList<QByteArray> &Names() const { return names_; }
    void SetNames(const QList<QByteArray> &names);
    // Appends the entries of source beyond those already held (a list that
    // grows while it is fetched); a shorter source starts over.
    void CatchUp(const QList<QByteArray> &source);

private:
    QList<QByteArray> names_;
};
