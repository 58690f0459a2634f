#include "GroupDlg.h"

#include "DialogCommon.h"
#include "TZqNNTP.h"
#include "ZqIniFile.h"
#include "ZqPaths.h"

#include "TGroupListModel.h"
#include "TGroupListView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QFile>

QString GroupCachePath() { return ZqPaths::CacheDir() + QStringLiteral("Groups.dbf"); }
QString GroupCacheHostPath() { return ZqPaths::CacheDir() + QStringLiteral("Groups.host"); }

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

QList<QByteArray> ReadGroupCache(const QByteArray &host)
{
    QFile from(GroupCacheHostPath());
    if (from.open(QIODevice::ReadOnly) && from.readAll().trimmed() != host.trimmed())
        return {}; // another server's groups
    QFile f(GroupCachePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return ParseGroupCache(f.readAll());
}

bool WriteGroupCache(const QList<QByteArray> &names, const QByteArray &host)
{
    QSaveFile from(GroupCacheHostPath());
    if (!from.open(QIODevice::WriteOnly) || from.write(host + "\n") < 0 || !from.commit())
        return false;
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

    laAllGroups = new QLabel(QStringLiteral("All Groups:"), this);
    laAllGroups->setObjectName(QStringLiteral("laAllGroups"));
    laSelGroups = new QLabel(QStringLiteral("Selected Groups:"), this);
    laSelGroups->setObjectName(QStringLiteral("laSelGroups"));
    edFilter = new QLineEdit(this);
    edFilter->setObjectName(QStringLiteral("edFilter"));
    edFilter->setPlaceholderText(QStringLiteral("Filter"));
    edFilter->setClearButtonEnabled(true);

    lbAllGroups = new TGroupListView(this);
    lbAllGroups->setObjectName(QStringLiteral("lbAllGroups"));
    lbAllGroups->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lbSelGroups = new QListWidget(this);
    lbSelGroups->setObjectName(QStringLiteral("lbSelGroups"));
    lbSelGroups->installEventFilter(this);
    edFilter->installEventFilter(this);
    // Names that do not fit keep both ends, where groups differ; the tooltip has them whole.
    for (QAbstractItemView *list : {static_cast<QAbstractItemView *>(lbAllGroups), static_cast<QAbstractItemView *>(lbSelGroups)}) {
        list->setTextElideMode(Qt::ElideMiddle);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }

    btGetGroupList = new QPushButton(QStringLiteral("Get Group List"), this);
    btGetGroupList->setObjectName(QStringLiteral("btGetGroupList"));
    btCopy = new QPushButton(QStringLiteral(">>>"), this);
    btCopy->setObjectName(QStringLiteral("btCopy"));
    btDeleteGroup = new QPushButton(QStringLiteral("Delete Group"), this);
    btDeleteGroup->setObjectName(QStringLiteral("btDeleteGroup"));
    btOk = new QPushButton(QStringLiteral("&Ok"), this);
    btOk->setObjectName(QStringLiteral("btOk"));
    btCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btMoveUp = new QPushButton(QStringLiteral("Move &Up"), this);
    btMoveUp->setObjectName(QStringLiteral("btMoveUp"));
    btMoveUp->setToolTip(QStringLiteral("Alt+Up"));
    btMoveDown = new QPushButton(QStringLiteral("Move Do&wn"), this);
    btMoveDown->setObjectName(QStringLiteral("btMoveDown"));
    btMoveDown->setToolTip(QStringLiteral("Alt+Down"));

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 7);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->addWidget(laAllGroups, 0, 0);
    grid->addWidget(laSelGroups, 0, 2);
    grid->addWidget(edFilter, 1, 0);
    grid->addWidget(lbAllGroups, 2, 0);
    grid->addWidget(btCopy, 1, 1, 2, 1, Qt::AlignVCenter);
    grid->addWidget(lbSelGroups, 1, 2, 2, 1);
    grid->addWidget(btGetGroupList, 3, 0);
    auto *selButtons = new QHBoxLayout;
    selButtons->addWidget(btDeleteGroup);
    selButtons->addWidget(btMoveUp);
    selButtons->addWidget(btMoveDown);
    grid->addLayout(selButtons, 3, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);
    grid->addLayout(buttons, 4, 0, 1, 3);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1);
    // Resizable, so long names can be read; it opens at the size it was left at.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    grid->activate();
    setMinimumSize(grid->totalMinimumSize());
    resize(QSize(IniReadInteger("WINDOW", "GROUP_DIALOG_WIDTH", 537), IniReadInteger("WINDOW", "GROUP_DIALOG_HEIGHT", 277))
               .expandedTo(minimumSize()));

    for (QPushButton *b : {btGetGroupList, btCopy, btDeleteGroup, btMoveUp, btMoveDown, btCancel})
        b->setAutoDefault(false);
    btOk->setDefault(true);
    setTabOrder(edFilter, lbAllGroups);
    setTabOrder(lbAllGroups, btGetGroupList);
    setTabOrder(btGetGroupList, btCopy);
    setTabOrder(btCopy, lbSelGroups);
    setTabOrder(lbSelGroups, btDeleteGroup);
    setTabOrder(btDeleteGroup, btMoveUp);
    setTabOrder(btMoveUp, btMoveDown);
    setTabOrder(btMoveDown, btOk);
    setTabOrder(btOk, btCancel);

    connect(btGetGroupList, &QPushButton::clicked, this, &TdlgGroup::btGetGroupListClick);
    connect(btCopy, &QPushButton::clicked, this, &TdlgGroup::btCopyClick);
    connect(btDeleteGroup, &QPushButton::clicked, this, &TdlgGroup::btDeleteGroupClick);
    connect(btMoveUp, &QPushButton::clicked, this, [this] { MoveGroup(-1); });
    connect(btMoveDown, &QPushButton::clicked, this, [this] { MoveGroup(+1); });
    connect(btOk, &QPushButton::clicked, this, &TdlgGroup::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &TdlgGroup::btCancelClick);
    connect(edFilter, &QLineEdit::textChanged, this, &TdlgGroup::edFilterChange);
    connect(lbAllGroups, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        lbAllGroups->setCurrentIndex(index);
        btCopyClick();
    });
    connect(&Client, &TZqNNTP::GroupListGrew, this, &TdlgGroup::ShowFetchedGroups);

    FormCreate();
}

void TdlgGroup::FormCreate()
{
    CentreOverOwner(this, parentWidget());
    lbAllGroups->Model->SetNames(ReadGroupCache(Host()));
    for (const QByteArray &n : GroupNames)
        AppendItem(lbSelGroups, n);
    if (lbAllGroups->count() > 0)
        lbAllGroups->setCurrentRow(0);
    if (lbSelGroups->count() > 0)
        lbSelGroups->setCurrentRow(0);
}

void TdlgGroup::edFilterChange()
{
    lbAllGroups->SetFilter(edFilter->text());
    if (lbAllGroups->currentRow() < 0 && lbAllGroups->count() > 0)
        lbAllGroups->setCurrentRow(0);
}

// Shows the names the client has added so far and selects the newest, so the
// user sees the list grow. Each insertion costs the view a pass over all its
// rows, so at most ten a second, not one per read.
void TdlgGroup::ShowFetchedGroups()
{
    if (!Fetching || (Shown.isValid() && Shown.elapsed() < 100))
        return;
    const int before = lbAllGroups->Model->rowCount();
    lbAllGroups->Model->CatchUp(FetchedGroups);
    if (lbAllGroups->Model->rowCount() != before)
        Shown.start();
    if (lbAllGroups->count() > 0)
        lbAllGroups->setCurrentRow(lbAllGroups->count() - 1);
}

void TdlgGroup::btGetGroupListClick()
{
    if (Fetching)
        return;
    Fetching = true;
    CancelWanted = false;
    btGetGroupList->setEnabled(false);
    btOk->setEnabled(false);
    const QList<QByteArray> before = lbAllGroups->Model->Names();
    lbAllGroups->Model->SetNames({});
    FetchedGroups.clear();
    Shown.invalidate();

    const QPointer<TdlgGroup> alive(this);
    Client.GetGroupList(FetchedGroups); // a refused or cut fetch keeps what arrived
    if (!alive)
        return; // closed with its owner inside the wait
    Fetching = false;
    btGetGroupList->setEnabled(true);
    btOk->setEnabled(true);

    if (CancelWanted) {
        // An interrupted list is no list: the cache and the old names stay.
        lbAllGroups->Model->SetNames(before);
        QDialog::reject();
        return;
    }
    lbAllGroups->Model->CatchUp(FetchedGroups);
    if (lbAllGroups->count() > 0)
        lbAllGroups->setCurrentRow(0);
    WriteGroupCache(lbAllGroups->Model->Names(), Host());
}

QByteArray TdlgGroup::Host() const
{
    return Client.Host().isEmpty() ? IniReadString("CONFIG", "HOST", QByteArray()) : Client.Host();
}

void TdlgGroup::btCopyClick()
{
    // Every group chosen, in the list's order.
    for (int row = 0; row < lbAllGroups->count(); ++row) {
        if (!lbAllGroups->IsRowSelected(row))
            continue;
        const QByteArray name = lbAllGroups->ItemBytes(row);
        // A group is searched once per run: one already chosen is shown, not added.
        const qsizetype at = AllItemBytes(lbSelGroups).indexOf(name);
        if (at >= 0)
            lbSelGroups->setCurrentRow(int(at));
        else
            AppendItem(lbSelGroups, name);
    }
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
    MoveGroup(key == Qt::Key_Up ? -1 : +1);
    return true;
}

void TdlgGroup::MoveGroup(int step)
{
    const int row = lbSelGroups->currentRow();
    const int other = row + step;
    if (row < 0 || !lbSelGroups->item(row)->isSelected() || other < 0 || other >= lbSelGroups->count())
        return;
    QListWidgetItem *item = lbSelGroups->takeItem(row);
    lbSelGroups->insertItem(other, item);
    lbSelGroups->setCurrentRow(other);
}

bool TdlgGroup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == edFilter && event->type() == QEvent::KeyPress) {
        // Enter in the filter adds what it found instead of closing the dialog.
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (lbAllGroups->currentRow() >= 0 && !lbAllGroups->IsRowSelected(lbAllGroups->currentRow()))
                lbAllGroups->setCurrentRow(lbAllGroups->currentRow());
            btCopyClick();
            return true;
        }
    }
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

void TdlgGroup::btCancelClick()
{
    if (Fetching) {
        // The listing cannot be stopped on the wire: dropping the connection
        // ends the wait at once, and the fetch then closes the dialog.
        CancelWanted = true;
        Client.Disconnect();
        return;
    }
    QDialog::reject();
}

void TdlgGroup::reject() { btCancelClick(); }

void TdlgGroup::done(int result)
{
    if (!isMaximized()) {
        IniWriteInteger("WINDOW", "GROUP_DIALOG_WIDTH", width());
        IniWriteInteger("WINDOW", "GROUP_DIALOG_HEIGHT", height());
    }
    QDialog::done(result);
}
