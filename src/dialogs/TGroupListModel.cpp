#include "TGroupListModel.h"

int TGroupListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(names_.size());
}

QVariant TGroupListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= names_.size())
        return {};
    const QByteArray &name = names_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: // long names show whole
        return QString::fromUtf8(name);
    case Qt::UserRole:
        return name;
    default:
        return {};
    }
}

void TGroupListModel::SetNames(const QList<QByteArray> &names)
{
    beginResetModel();
    names_ = names;
    endResetModel();
}

void TGroupListModel::CatchUp(const QList<QByteArray> &source)
{
    if (source.size() < names_.size()) {
        SetNames(source);
        return;
    }
    if (source.size() == names_.size())
        return;
    beginInsertRows(QModelIndex(), int(names_.size()), int(source.size()) - 1);
    names_.append(source.mid(names_.size()));
    endInsertRows();
}
