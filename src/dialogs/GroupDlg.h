#pragma once
#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QString>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TGroupListView;
class TZqNNTP;

// The cached list of the server's groups, one name per line.
QString GroupCachePath();
// A line ends at CR LF, a lone CR or a lone LF; a zero byte ends the text.
QList<QByteArray> ParseGroupCache(const QByteArray &data);
QList<QByteArray> ReadGroupCache();
bool WriteGroupCache(const QList<QByteArray> &names);

// Chooses and orders the groups a search walks. Works on the main window's
// list of group names, which it replaces on Ok.
class TdlgGroup : public QDialog {
    Q_OBJECT
public:
    TdlgGroup(QWidget *owner, QList<QByteArray> &groupNames, TZqNNTP &client);

    QLabel *laAllGroups;
    QLabel *laSelGroups;
    QLineEdit *edFilter;
    TGroupListView *lbAllGroups;
    QListWidget *lbSelGroups;
    QPushButton *btGetGroupList;
    QPushButton *btCopy;
    QPushButton *btDeleteGroup;
    QPushButton *btOk;
    QPushButton *btCancel;

    bool IsFetching() const { return Fetching; }

    void btGetGroupListClick();
    void btCopyClick();
    void btDeleteGroupClick();
    void btOkClick();
    void btCancelClick();
    void edFilterChange();

    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    bool lbSelGroupsKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void ShowFetchedGroups();

    QList<QByteArray> &GroupNames;
    TZqNNTP &Client;
    QList<QByteArray> FetchedGroups; // filled by the client while a fetch runs
    bool Fetching = false;
    bool CancelWanted = false;
    QElapsedTimer Shown; // since the list was last brought up to date while fetching
};
