#pragma once
#include <QByteArray>
#include <QList>
#include <QListView>

class TGroupListModel;

// The list of all groups with a filter: rows are those shown (filtered),
// Model->Names() the whole list.
class TGroupListView : public QListView {
    Q_OBJECT
public:
    explicit TGroupListView(QWidget *parent = nullptr);

    TGroupListModel *Model;

    void SetFilter(const QString &text); // case-insensitive, anywhere in the name
    int count() const;                   // rows shown
    int currentRow() const;              // -1 when none
    void setCurrentRow(int row);
    bool IsRowSelected(int row) const;
    QByteArray ItemBytes(int row) const; // of a row shown
    QList<QByteArray> ShownBytes() const;
};
