#include "TGroupListView.h"

#include "TGroupListModel.h"

#include <QItemSelectionModel>

TGroupListView::TGroupListView(QWidget *parent) : QListView(parent)
{
    Model = new TGroupListModel(this);
    setModel(Model);
    // Every row as high as the first: the view never measures 100,000 names.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void TGroupListView::SetFilter(const QString &text) { Model->SetFilter(text); }

int TGroupListView::count() const { return Model->rowCount(); }

int TGroupListView::currentRow() const
{
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() : -1;
}

void TGroupListView::setCurrentRow(int row)
{
    if (row < 0 || row >= count()) {
        setCurrentIndex(QModelIndex());
        return;
    }
    setCurrentIndex(Model->index(row, 0));
}

bool TGroupListView::IsRowSelected(int row) const
{
    return row >= 0 && row < count() && selectionModel()->isSelected(Model->index(row, 0));
}

QByteArray TGroupListView::ItemBytes(int row) const { return Model->RowName(row); }

QList<QByteArray> TGroupListView::ShownBytes() const
{
    QList<QByteArray> out;
    out.reserve(count());
    for (int r = 0; r < count(); ++r)
        out << ItemBytes(r);
    return out;
}
