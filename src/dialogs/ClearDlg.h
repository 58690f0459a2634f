#pragma once
#include <QByteArray>
#include <QDialog>
#include <QList>

#include "TGroupMark.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TZqNNTP;

// Moves a group's article pointer within the group's range on the server.
// Every change is made at once by Clear; Ok only closes.
class TfrmClearDlg : public QDialog {
    Q_OBJECT
public:
    TfrmClearDlg(QWidget *owner, const QList<QByteArray> &groupNames, QList<TGroupMark> &groupMarks,
                 TZqNNTP &client);

    QLabel *laGroups;
    QListWidget *lbGroups;
    QLabel *laRange;
    QLabel *laClearArticle;
    QLineEdit *edClearArticle;
    QPushButton *btClear;
    QPushButton *btOk;

    void lbGroupsClick();
    void btClearClick();
    void btOkClick();

    void reject() override;

private:
    void FormCreate();
    void ShowRange(int row);

    QList<TGroupMark> &GroupMarks;
    TZqNNTP &Client;
    // Range shown for the chosen group; Clear checks against exactly this.
    int ShownRow = -1;
    qint64 ShownFirst = 0;
    qint64 ShownLast = 0;
    bool Selecting = false;
    bool Reselect = false;
};
