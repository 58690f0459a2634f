#include "TGroupListModel.h"

#include "SafeText.h"

namespace {
bool isAscii(const QByteArray &s)
{
    for (char c : s)
        if (uchar(c) >= 0x80)
            return false;
    return true;
}
}

int TGroupListModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(filter_.isEmpty() ? names_.size() : rows_.size());
}

QByteArray TGroupListModel::RowName(int row) const
{
    if (row < 0 || row >= rowCount())
        return QByteArray();
    return names_[filter_.isEmpty() ? row : rows_[row]];
}

QVariant TGroupListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const QByteArray name = RowName(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: // long names show whole
        return SafeText::Shown(name); // the server's list: no bidi override may turn a name round
    case Qt::UserRole:
        return name;
    default:
        return {};
    }
}

bool TGroupListModel::matches(const QByteArray &name) const
{
    // Group names are ASCII almost always: compare bytes, no conversion.
    if (isAscii(name))
        return name.toLower().contains(needle_);
    return QString::fromUtf8(name).contains(filter_, Qt::CaseInsensitive);
}

void TGroupListModel::addMatches(qsizetype from)
{
    for (qsizetype i = from; i < names_.size(); ++i)
        if (matches(names_[i]))
            rows_.append(i);
}

void TGroupListModel::SetNames(const QList<QByteArray> &names)
{
    beginResetModel();
    names_ = names;
    rows_.clear();
    if (!filter_.isEmpty())
        addMatches(0);
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
    const qsizetype oldNames = names_.size();
    if (filter_.isEmpty()) {
        beginInsertRows(QModelIndex(), int(oldNames), int(source.size()) - 1);
        names_.append(source.mid(oldNames));
        endInsertRows();
        return;
    }
    names_.append(source.mid(oldNames));
    const qsizetype oldRows = rows_.size();
    QList<qsizetype> added;
    for (qsizetype i = oldNames; i < names_.size(); ++i)
        if (matches(names_[i]))
            added.append(i);
    if (added.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(oldRows), int(oldRows + added.size()) - 1);
    rows_.append(added);
    endInsertRows();
}

void TGroupListModel::SetFilter(const QString &text)
{
    if (text == filter_)
        return;
    beginResetModel();
    filter_ = text;
    needle_ = text.toLower().toUtf8();
    rows_.clear();
    if (!filter_.isEmpty())
        addMatches(0);
    endResetModel();
}
