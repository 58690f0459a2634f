#pragma once
#include <QByteArray>
#include <QDialog>
#include <QString>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// Shown when HOST is not in the settings file.
inline constexpr char DefaultNewsHost[] = "news.example.com";

// True when the text names an existing directory; a relative path is taken
// from the current directory, which is left as it was.
bool IsExistingDirectory(const QByteArray &path);

// Server, output directory and the six switches of section CONFIG, read from
// the settings file on opening and written back on Ok.
class TdlgConfig : public QDialog {
    Q_OBJECT
public:
    explicit TdlgConfig(QWidget *owner);

    QFrame *pnSettings;
    QFrame *pnButtons;
    QLabel *laHost;
    QLabel *laPort;
    QLabel *laDir;
    QLineEdit *edHost;
    QLineEdit *edPort;
    QLineEdit *edDir;
    QCheckBox *ckSubjectFiltering;
    QCheckBox *ckPreview;
    QCheckBox *ckAutoStart;
    QCheckBox *ckExitPrompt;
    QCheckBox *ckFileScreening;
    QCheckBox *ckRenameDuplicates;
    QPushButton *btOk;
    QPushButton *btCancel;

    void btOkClick();
    void btCancelClick();

private:
    void FormCreate();
};
