#include "GroupDlg.h"

#include "DialogCommon.h"
#include "TZqNNTP.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QFile>

QString GroupCachePath() { return ZqPaths::CacheDir() + QStringLiteral("Groups.dbf"); }

QList<QByteArray> ParseGroupCache(const QByteArray &data)
{
    QList<QByteArray> out;
    qsizetype end = data.indexOf('\0');
    if (end < 0)
        end = data.size();
    qsizetype start = 0;
    while (start < end) {
        qsizetype p = start;
        while (p < end && data[p] != '\r' && data[p] != '\n')
            ++p;
        out.append(data.mid(start, p - start));
        if (p < end && data[p] == '\r' && p + 1 < end && data[p + 1] == '\n')
            p += 2;
        else if (p < end)
            ++p;
        start = p;
    }
    return out;
}

QList<QByteArray> ReadGroupCache()
{
    QFile f(GroupCachePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return ParseGroupCache(f.readAll());
}

bool WriteGroupCache(const QList<QByteArray> &names)
{
    QByteArray data;
    for (const QByteArray &n : names)
        data += n + "\r\n";
    // Written aside and swapped in, so a failed write keeps the old cache whole.
    QSaveFile f(GroupCachePath());
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(data);
    return f.commit();
}

TdlgGroup::TdlgGroup(QWidget *owner, QList<QByteArray> &groupNames, TZqNNTP &client)
    : QDialog(owner), GroupNames(groupNames), Client(client)
{
    setWindowTitle(QStringLiteral("Group Selection"));
    SetFixedDialogFrame(this, 537, 277);

    laAllGroups = new QLabel(QStringLiteral("All Groups:"), this);
    laAllGroups->setObjectName(QStringLiteral("laAllGroups"));
    laAllGroups->setGeometry(8, 6, 220, 16);
    laSelGroups = new QLabel(QStringLiteral("Selected Groups:"), this);
    laSelGroups->setObjectName(QStringLiteral("laSelGroups"));
    laSelGroups->setGeometry(309, 6, 220, 16);

    lbAllGroups = new QListWidget(this);
    lbAllGroups->setObjectName(QStringLiteral("lbAllGroups"));
    lbAllGroups->setGeometry(8, 24, 220, 185);
    lbSelGroups = new QListWidget(this);
    lbSelGroups->setObjectName(QStringLiteral("lbSelGroups"));
    lbSelGroups->setGeometry(309, 24, 220, 185);
    lbSelGroups->installEventFilter(this);

    btGetGroupList = new QPushButton(QStringLiteral("Get Group List"), this);
    btGetGroupList->setObjectName(QStringLiteral("btGetGroupList"));
    btGetGroupList->setGeometry(8, 214, 220, 25);
    btCopy = new QPushButton(QStringLiteral(">>>"), this);
    btCopy->setObjectName(QStringLiteral("btCopy"));
    btCopy->setGeometry(236, 104, 65, 25);
    btDeleteGroup = new QPushButton(QStringLiteral("Delete Group"), this);
    btDeleteGroup->setObjectName(QStringLiteral("btDeleteGroup"));
    btDeleteGroup->setGeometry(309, 214, 220, 25);
    btOk = new QPushButton(QStringLiteral("&Ok"), this);
    btOk->setObjectName(QStringLiteral("btOk"));
    btOk->setGeometry(373, 245, 75, 25);
    btCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->setGeometry(454, 245, 75, 25);

    for (QPushButton *b : {btGetGroupList, btCopy, btDeleteGroup, btCancel})
        b->setAutoDefault(false);
    btOk->setDefault(true);

    connect(btGetGroupList, &QPushButton::clicked, this, &TdlgGroup::btGetGroupListClick);
    connect(btCopy, &QPushButton::clicked, this, &TdlgGroup::btCopyClick);
    connect(btDeleteGroup, &QPushButton::clicked, this, &TdlgGroup::btDeleteGroupClick);
    connect(btOk, &QPushButton::clicked, this, &TdlgGroup::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &TdlgGroup::btCancelClick);
    connect(&Client, &TZqNNTP::GroupListGrew, this, &TdlgGroup::ShowFetchedGroups);

    FormCreate();
}

void TdlgGroup::FormCreate()
{
    CentreOverOwner(this, parentWidget());
    for (const QByteArray &n : ReadGroupCache())
        AppendItem(lbAllGroups, n);
    for (const QByteArray &n : GroupNames)
        AppendItem(lbSelGroups, n);
    if (lbAllGroups->count() > 0)
        lbAllGroups->setCurrentRow(0);
    if (lbSelGroups->count() > 0)
        lbSelGroups->setCurrentRow(0);
}

// Mirrors the names the client has added so far and selects the newest, so
// the user sees the list grow.
void TdlgGroup::ShowFetchedGroups()
{
    if (!Fetching)
        return;
    if (lbAllGroups->count() > FetchedGroups.size())
        lbAllGroups->clear();
    for (qsizetype i = lbAllGroups->count(); i < FetchedGroups.size(); ++i)
        AppendItem(lbAllGroups, FetchedGroups[i]);
    if (lbAllGroups->count() > 0)
        lbAllGroups->setCurrentRow(lbAllGroups->count() - 1);
}

void TdlgGroup::btGetGroupListClick()
{
    if (Fetching)
        return;
    Fetching = true;
    btGetGroupList->setEnabled(false);
    btOk->setEnabled(false);
    btCancel->setEnabled(false);
    lbAllGroups->clear();
    FetchedGroups.clear();

    Client.GetGroupList(FetchedGroups); // a refused or cut fetch keeps what arrived
    ShowFetchedGroups();
    Fetching = false;

    if (lbAllGroups->count() > 0)
        lbAllGroups->setCurrentRow(0);
    WriteGroupCache(AllItemBytes(lbAllGroups));
    btGetGroupList->setEnabled(true);
    btOk->setEnabled(true);
    btCancel->setEnabled(true);
}

void TdlgGroup::btCopyClick()
{
    const int row = lbAllGroups->currentRow();
    if (row < 0 || !lbAllGroups->item(row)->isSelected())
        return;
    AppendItem(lbSelGroups, ItemBytes(lbAllGroups, row));
}

void TdlgGroup::btDeleteGroupClick()
{
    const int row = lbSelGroups->currentRow();
    if (row < 0 || !lbSelGroups->item(row)->isSelected())
        return;
    delete lbSelGroups->takeItem(row);
    if (lbSelGroups->count() > 0)
        lbSelGroups->setCurrentRow(qMin(row, lbSelGroups->count() - 1));
    else
        lbSelGroups->setCurrentRow(-1);
}

bool TdlgGroup::lbSelGroupsKeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    if (key == Qt::Key_Delete) {
        btDeleteGroupClick();
        return true;
    }
    if (!(modifiers & Qt::AltModifier) || (key != Qt::Key_Up && key != Qt::Key_Down))
        return false;
    // Alt+Up/Down at the ends must not fall through to the list's own cursor keys.
    const int row = lbSelGroups->currentRow();
    const int other = key == Qt::Key_Up ? row - 1 : row + 1;
    if (row < 0 || !lbSelGroups->item(row)->isSelected() || other < 0 || other >= lbSelGroups->count())
        return true;
    QListWidgetItem *item = lbSelGroups->takeItem(row);
    lbSelGroups->insertItem(other, item);
    lbSelGroups->setCurrentRow(other);
    return true;
}

bool TdlgGroup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lbSelGroups && event->type() == QEvent::KeyPress) {
        auto *ke = static_cast<QKeyEvent *>(event);
        if (lbSelGroupsKeyDown(ke->key(), ke->modifiers()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TdlgGroup::btOkClick()
{
    GroupNames = AllItemBytes(lbSelGroups);
    accept();
}

void TdlgGroup::btCancelClick() { QDialog::reject(); }

void TdlgGroup::reject()
{
    // Escape and the window manager are refused while the fetch is waiting,
    // like the Cancel button.
    if (Fetching)
        return;
    QDialog::reject();
}
