#pragma once
#include <QByteArray>
#include <QDialog>
#include <QList>

class QFrame;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Edits the subject filter strings. The list box stays sorted without regard
// to case; the main window's list is replaced only on Ok.
class TdlgFilter : public QDialog {
    Q_OBJECT
public:
    TdlgFilter(QWidget *owner, QList<QByteArray> &filterStrings);

    QFrame *bvOuter;
    QFrame *pnFilter;
    QFrame *pnButtons;
    QLabel *laFilterList;
    QListWidget *lbFilterList;
    QLineEdit *tbFilter;
    QPushButton *btAdd;
    QPushButton *btDelete;
    QPushButton *btDone;
    QPushButton *btCancel;
    QPushButton *btOk;

    bool Adding() const { return AddingMode; }

    void btAddClick();
    void btDeleteClick();
    void btDoneClick();
    void btCancelClick();
    void btOkClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void SetAdding(bool adding);
    int InsertSorted(const QByteArray &bytes);

    QHBoxLayout *EditRow = nullptr;
    QList<QByteArray> &FilterStrings;
    bool AddingMode = false;
};
