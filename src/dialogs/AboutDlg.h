#pragma once
#include <QDialog>
#include <QStringList>

class QFrame;
class QLabel;
class QListWidget;
class QPushButton;

inline constexpr char AboutCaption[] = "About Pixtrawl v1.01";
inline constexpr char AboutTitle[] = "Pixtrawl v1.01.000";

// The release notes, newest first, as the about box lists them.
QStringList RevisionHistory();

// Names the product and its version and lists the release notes.
class TdlgAbout : public QDialog {
    Q_OBJECT
public:
    explicit TdlgAbout(QWidget *owner);

    QFrame *pnAbout;
    QLabel *laTitle;
    QLabel *laLicense; // the licence the program is released under
    QListWidget *laRevisions;
    QFrame *pnButtons;
    QPushButton *btOk;

    void btOkClick();

private:
    void FormCreate();
};
