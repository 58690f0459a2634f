#include "ClearDlg.h"

#include "DialogCommon.h"
#include "SafeText.h"
#include "TGroupSearch.h"
#include "TZqNNTP.h"
#include "ZqIniFile.h"
#include "ZqListField.h"
#include "ZqMessageBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <iterator>

TfrmClearDlg::TfrmClearDlg(QWidget *owner, const QList<QByteArray> &groupNames,
                           QList<TGroupMark> &groupMarks, TZqNNTP &client)
    : QDialog(owner), GroupMarks(groupMarks), Client(client)
{
    setWindowTitle(QStringLiteral("Clear Articles"));

    laGroups = new QLabel(QStringLiteral("&Groups:"), this);
    laGroups->setObjectName(QStringLiteral("laGroups"));
    lbGroups = new QListWidget(this);
    lbGroups->setObjectName(QStringLiteral("lbGroups"));
    lbGroups->setMinimumSize(200, 80);
    laGroups->setBuddy(lbGroups);
    laRange = new QLabel(this);
    laRange->setObjectName(QStringLiteral("laRange"));
    laRange->setAlignment(Qt::AlignCenter);
    laClearArticle = new QLabel(QStringLiteral("Clear &Article:"), this);
    laClearArticle->setObjectName(QStringLiteral("laClearArticle"));
    edClearArticle = new QLineEdit(this);
    edClearArticle->setObjectName(QStringLiteral("edClearArticle"));
    edClearArticle->setFixedWidth(160);
    laClearArticle->setBuddy(edClearArticle);
    btClear = new QPushButton(QStringLiteral("&Clear"), this);
    btClear->setObjectName(QStringLiteral("btClear"));
    btClear->setMinimumWidth(qMax(75, btClear->sizeHint().width()));
    btClear->setAutoDefault(false);
    btOk = new QPushButton(QStringLiteral("&Ok"), this);
    btOk->setObjectName(QStringLiteral("btOk"));
    btOk->setMinimumWidth(qMax(75, btOk->sizeHint().width()));
    btOk->setAutoDefault(false);

    auto *clearRow = new QHBoxLayout;
    clearRow->addWidget(laClearArticle);
    clearRow->addWidget(edClearArticle);
    clearRow->addWidget(btClear);
    clearRow->addStretch();
    auto *okRow = new QHBoxLayout;
    okRow->addStretch();
    okRow->addWidget(btOk);
    okRow->addStretch();

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 6, 8, 5);
    outer->setSpacing(4);
    outer->addWidget(laGroups);
    outer->addWidget(lbGroups, 1);
    outer->addWidget(laRange);
    outer->addLayout(clearRow);
    outer->addLayout(okRow);
    FitFixedDialog(this, 421, 246, true);

    QWidget *order[] = {lbGroups, edClearArticle, btClear, btOk};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    for (const QByteArray &n : groupNames)
        AppendItem(lbGroups, n);

    connect(btClear, &QPushButton::clicked, this, &TfrmClearDlg::btClearClick);
    connect(btOk, &QPushButton::clicked, this, &TfrmClearDlg::btOkClick);

    FormCreate();
}

void TfrmClearDlg::FormCreate()
{
    btClear->setEnabled(false);
    btOk->setEnabled(lbGroups->count() == 0);
    if (lbGroups->count() > 0)
        lbGroups->setCurrentRow(0);
    connect(lbGroups, &QListWidget::currentRowChanged, this, &TfrmClearDlg::lbGroupsClick);
    lbGroupsClick();
}

void TfrmClearDlg::lbGroupsClick()
{
    // A choice made while the server is still answering for an earlier one is
    // taken up when that answer is in, so only one command waits at a time.
    if (Selecting) {
        Reselect = true;
        return;
    }
    Selecting = true;
    do {
        Reselect = false;
        ShowRange(lbGroups->currentRow());
    } while (Reselect);
    Selecting = false;
}

void TfrmClearDlg::ShowRange(int row)
{
    ShownRow = -1;
    btClear->setEnabled(false);
    btOk->setEnabled(false);
    if (row < 0) {
        btOk->setEnabled(true);
        return;
    }
    const QByteArray name = ItemBytes(lbGroups, row);
    if (!TGroupSearch::SendableGroupName(name) || !Client.SelectGroup(name)) {
        // The client still holds the range of some other group: show none.
        laRange->setText(QStringLiteral("Group %1 is not available").arg(SafeText::Shown(name)));
        edClearArticle->clear();
        btOk->setEnabled(true);
        return;
    }
    ShownRow = row;
    ShownFirst = Client.FirstArticle;
    ShownLast = Client.LastArticle;
    laRange->setText(QStringLiteral("First Article: %1, Last Article: %2").arg(ShownFirst).arg(ShownLast));
    edClearArticle->setText(QString::number(ShownLast));
    btClear->setEnabled(true);
    btOk->setEnabled(true);
}

void TfrmClearDlg::btClearClick()
{
    if (ShownRow < 0 || Selecting)
        return;
    const qint64 number = ToInt64Def(edClearArticle->text().toUtf8(), 0);
    if (number < ShownFirst || number > ShownLast) {
        ZqMessageBox(QStringLiteral("Article Out of Range!"), QStringLiteral("Article Error"), MsgIcon::Error,
                     MsgButtons::Ok, this);
        return;
    }
    IniWriteString("GROUPS", ItemBytes(lbGroups, ShownRow), QByteArray::number(number));
    if (ShownRow < GroupMarks.size())
        GroupMarks[ShownRow] = TGroupMark{QByteArray(), number};
}

void TfrmClearDlg::btOkClick() { accept(); }

void TfrmClearDlg::reject()
{
    if (Selecting)
        return;
    QDialog::reject();
}
