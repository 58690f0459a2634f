#include "FilterDlg.h"

#include "DialogCommon.h"
#include "ZqMessageBox.h"

#include <QCollator>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <iterator>

namespace {
// Designed widths are the least a button gets; a larger font widens it.
QPushButton *makeButton(QWidget *parent, const char *name, const QString &text, int minimumWidth)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setMinimumWidth(qMax(minimumWidth, b->sizeHint().width()));
    b->setAutoDefault(false);
    return b;
}
}

TdlgFilter::TdlgFilter(QWidget *owner, QList<QByteArray> &filterStrings)
    : QDialog(owner), FilterStrings(filterStrings)
{
    setWindowTitle(QStringLiteral("Filter Settings"));

    bvOuter = new QFrame(this);
    bvOuter->setObjectName(QStringLiteral("bvOuter"));
    bvOuter->setFrameStyle(QFrame::Box | QFrame::Sunken);

    pnFilter = new QFrame(bvOuter);
    pnFilter->setObjectName(QStringLiteral("pnFilter"));
    pnFilter->setFrameStyle(QFrame::Panel | QFrame::Raised);

    laFilterList = new QLabel(
        QStringLiteral("Do not decode any articles containing these &strings in the subject:"), pnFilter);
    laFilterList->setObjectName(QStringLiteral("laFilterList"));
    laFilterList->setWordWrap(true); // a large font on a small screen wraps it

    lbFilterList = new QListWidget(pnFilter);
    lbFilterList->setObjectName(QStringLiteral("lbFilterList"));
    lbFilterList->setMinimumSize(200, 80);
    lbFilterList->installEventFilter(this);
    laFilterList->setBuddy(lbFilterList);

    tbFilter = new QLineEdit(pnFilter);
    tbFilter->setObjectName(QStringLiteral("tbFilter"));
    tbFilter->setMinimumWidth(200);
    tbFilter->installEventFilter(this);

    btAdd = makeButton(pnFilter, "btAdd", QStringLiteral("&Add"), 96);
    btDelete = makeButton(pnFilter, "btDelete", QStringLiteral("&Delete"), 96);
    btDone = makeButton(pnFilter, "btDone", QStringLiteral("&Done"), 71);
    btCancel = makeButton(pnFilter, "btCancel", QStringLiteral("&Cancel"), 67);

    // One row serves both modes: Add and Delete centred while browsing, the
    // entry field with Done and Cancel across the row while adding.
    EditRow = new QHBoxLayout;
    EditRow->addWidget(tbFilter, 1);
    EditRow->addStretch(1);
    EditRow->addWidget(btAdd);
    EditRow->addWidget(btDelete);
    EditRow->addStretch(1);
    EditRow->addWidget(btDone);
    EditRow->addWidget(btCancel);

    auto *filterLayout = new QVBoxLayout(pnFilter);
    filterLayout->setContentsMargins(5, 1, 5, 6);
    filterLayout->setSpacing(3);
    filterLayout->addWidget(laFilterList);
    filterLayout->addWidget(lbFilterList, 1);
    filterLayout->addLayout(EditRow);

    pnButtons = new QFrame(bvOuter);
    pnButtons->setObjectName(QStringLiteral("pnButtons"));
    pnButtons->setFrameStyle(QFrame::Panel | QFrame::Raised);
    btOk = makeButton(pnButtons, "btOk", QStringLiteral("&Ok"), 96);
    btOk->setDefault(true);
    auto *okRow = new QHBoxLayout(pnButtons);
    okRow->setContentsMargins(4, 2, 4, 2);
    okRow->addStretch();
    okRow->addWidget(btOk);
    okRow->addStretch();

    auto *bevel = new QVBoxLayout(bvOuter);
    bevel->setContentsMargins(4, 4, 4, 4);
    bevel->setSpacing(2);
    bevel->addWidget(pnFilter, 1);
    bevel->addWidget(pnButtons);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(bvOuter);

    QWidget *order[] = {lbFilterList, tbFilter, btAdd, btDelete, btDone, btCancel, btOk};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(btAdd, &QPushButton::clicked, this, &TdlgFilter::btAddClick);
    connect(btDelete, &QPushButton::clicked, this, &TdlgFilter::btDeleteClick);
    connect(btDone, &QPushButton::clicked, this, &TdlgFilter::btDoneClick);
    connect(btCancel, &QPushButton::clicked, this, &TdlgFilter::btCancelClick);
    connect(btOk, &QPushButton::clicked, this, &TdlgFilter::btOkClick);

    FormCreate();
}

void TdlgFilter::FormCreate()
{
    for (const QByteArray &s : FilterStrings)
        InsertSorted(s);
    SetAdding(false);
    // Sized for the browsing row; the adding row needs no more. The wrapped
    // caption's height depends on the width, which the minimum size ignores.
    FitFixedDialog(this, 426, 250);
    const int labelWidth = width() - 2 * bvOuter->frameWidth() - 8 - 2 * pnFilter->frameWidth() - 10;
    const int needed = layout()->totalMinimumSize().height() - laFilterList->minimumSizeHint().height()
                       + laFilterList->heightForWidth(labelWidth);
    if (needed > height())
        FitFixedDialog(this, width(), needed);
    CentreOverOwner(this, parentWidget());
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
    // While adding, the entry field takes the room the centring stretches had.
    EditRow->setStretch(1, adding ? 0 : 1);
    EditRow->setStretch(4, adding ? 0 : 1);
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
