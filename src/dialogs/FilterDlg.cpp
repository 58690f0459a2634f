#include "FilterDlg.h"

#include "DialogCommon.h"
#include "ZqMessageBox.h"

#include <QCollator>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {
QPushButton *makeButton(QWidget *parent, const char *name, const QString &text, int x, int y, int w, int h)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
}
}

TdlgFilter::TdlgFilter(QWidget *owner, QList<QByteArray> &filterStrings)
    : QDialog(owner), FilterStrings(filterStrings)
{
    setWindowTitle(QStringLiteral("Filter Settings"));
    SetFixedDialogFrame(this, 426, 250);

    bvOuter = new QFrame(this);
    bvOuter->setObjectName(QStringLiteral("bvOuter"));
    bvOuter->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bvOuter->setGeometry(0, 0, 426, 250);

    pnFilter = new QFrame(this);
    pnFilter->setObjectName(QStringLiteral("pnFilter"));
    pnFilter->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnFilter->setGeometry(4, 4, 417, 209);

    laFilterList = new QLabel(
        QStringLiteral("Do not decode any articles containing these strings in the subject:"), pnFilter);
    laFilterList->setObjectName(QStringLiteral("laFilterList"));
    laFilterList->move(5, 1);
    laFilterList->adjustSize();

    lbFilterList = new QListWidget(pnFilter);
    lbFilterList->setObjectName(QStringLiteral("lbFilterList"));
    lbFilterList->setGeometry(5, 16, 406, 161);
    lbFilterList->installEventFilter(this);

    tbFilter = new QLineEdit(pnFilter);
    tbFilter->setObjectName(QStringLiteral("tbFilter"));
    tbFilter->setGeometry(4, 181, 260, 21);
    tbFilter->installEventFilter(this);

    btAdd = makeButton(pnFilter, "btAdd", QStringLiteral("&Add"), 110, 181, 96, 21);
    btDelete = makeButton(pnFilter, "btDelete", QStringLiteral("&Delete"), 210, 181, 96, 21);
    btDone = makeButton(pnFilter, "btDone", QStringLiteral("&Done"), 269, 181, 71, 21);
    btCancel = makeButton(pnFilter, "btCancel", QStringLiteral("&Cancel"), 344, 181, 67, 21);

    pnButtons = new QFrame(this);
    pnButtons->setObjectName(QStringLiteral("pnButtons"));
    pnButtons->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnButtons->setGeometry(4, 215, 417, 30);
    btOk = makeButton(pnButtons, "btOk", QStringLiteral("&Ok"), 160, 4, 96, 22);
    btOk->setDefault(true);

    connect(btAdd, &QPushButton::clicked, this, &TdlgFilter::btAddClick);
    connect(btDelete, &QPushButton::clicked, this, &TdlgFilter::btDeleteClick);
    connect(btDone, &QPushButton::clicked, this, &TdlgFilter::btDoneClick);
    connect(btCancel, &QPushButton::clicked, this, &TdlgFilter::btCancelClick);
    connect(btOk, &QPushButton::clicked, this, &TdlgFilter::btOkClick);

    FormCreate();
}

void TdlgFilter::FormCreate()
{
    CentreOverOwner(this, parentWidget());
    for (const QByteArray &s : FilterStrings)
        InsertSorted(s);
    SetAdding(false);
}

void TdlgFilter::SetAdding(bool adding)
{
    AddingMode = adding;
    btAdd->setVisible(!adding);
    btDelete->setVisible(!adding);
    tbFilter->setVisible(adding);
    btDone->setVisible(adding);
    btCancel->setVisible(adding);
    btOk->setEnabled(!adding);
}

// Locale order without regard to case; equal strings keep their arrival order.
int TdlgFilter::InsertSorted(const QByteArray &bytes)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const QString text = QString::fromUtf8(bytes);
    int row = lbFilterList->count();
    while (row > 0 && collator.compare(lbFilterList->item(row - 1)->text(), text) > 0)
        --row;
    InsertItem(lbFilterList, row, bytes);
    return row;
}

void TdlgFilter::btAddClick()
{
    SetAdding(true);
    tbFilter->clear();
    tbFilter->setFocus();
}

void TdlgFilter::btCancelClick() { SetAdding(false); }

void TdlgFilter::btDoneClick()
{
    if (!AddingMode)
        return;
    const QString text = tbFilter->text();
    for (int i = 0; i < lbFilterList->count(); ++i) {
        if (lbFilterList->item(i)->text().compare(text, Qt::CaseInsensitive) == 0) {
            ZqMessageBox(QStringLiteral("That string already exists!"), QStringLiteral("Error"),
                         MsgIcon::Error, MsgButtons::Ok, this);
            return;
        }
    }
    if (text.isEmpty()) {
        ZqMessageBox(QStringLiteral("Blank strings are not allowed!"), QStringLiteral("Error"),
                     MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    lbFilterList->setCurrentRow(InsertSorted(text.toUtf8()));
    SetAdding(false);
    lbFilterList->setFocus();
}

void TdlgFilter::btDeleteClick()
{
    const int row = lbFilterList->currentRow();
    if (row < 0 || !lbFilterList->item(row)->isSelected())
        return;
    delete lbFilterList->takeItem(row);
    if (lbFilterList->count() > 0)
        lbFilterList->setCurrentRow(qMin(row, lbFilterList->count() - 1));
    else
        lbFilterList->setCurrentRow(-1);
}

void TdlgFilter::btOkClick()
{
    if (AddingMode)
        return;
    FilterStrings = AllItemBytes(lbFilterList);
    accept();
}

bool TdlgFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (watched == lbFilterList && key == Qt::Key_Insert) {
            btAddClick();
            return true;
        }
        if (watched == lbFilterList && key == Qt::Key_Delete) {
            btDeleteClick();
            return true;
        }
        // Enter in the entry field finishes the entry and never reaches Ok.
        if (watched == tbFilter && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            btDoneClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
