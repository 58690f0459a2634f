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

// The cached list of the server's groups, one name per line, and beside it
// the host it came from.
QString GroupCachePath();
QString GroupCacheHostPath();
// A line ends at CR LF, a lone CR or a lone LF; a zero byte ends the text.
QList<QByteArray> ParseGroupCache(const QByteArray &data);
// Empty when the list came from another host than host (a list cached
// before hosts were noted is taken as host's).
QList<QByteArray> ReadGroupCache(const QByteArray &host = {});
bool WriteGroupCache(const QList<QByteArray> &names, const QByteArray &host = {});

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
    QPushButton *btMoveUp;   // as Alt+Up
    QPushButton *btMoveDown; // as Alt+Down
    QPushButton *btOk;
    QPushButton *btCancel;

    bool IsFetching() const { return Fetching; }

    void btGetGroupListClick();
    void btCopyClick();
    void btDeleteGroupClick();
    // Moves the chosen selected group one place up (-1) or down (+1).
    void MoveGroup(int step);
    void btOkClick();
    void btCancelClick();
    void edFilterChange();

    void reject() override;
    void done(int result) override; // keeps the size the user gave it

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    bool lbSelGroupsKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void ShowFetchedGroups();
    QByteArray Host() const; // of the server the list is for

    QList<QByteArray> &GroupNames;
    TZqNNTP &Client;
    QList<QByteArray> FetchedGroups; // filled by the client while a fetch runs
    bool Fetching = false;
    bool CancelWanted = false;
    QElapsedTimer Shown; // since the list was last brought up to date while fetching
};
