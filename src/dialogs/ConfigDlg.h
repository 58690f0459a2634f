#pragma once
#include <QByteArray>
#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// Shown when HOST is not in the settings file.
inline constexpr char DefaultNewsHost[] = "news.example.com";

inline constexpr qint32 PlainPort = 119;
inline constexpr qint32 TlsPort = 563;

// True when the text names an existing directory; a relative path is taken
// from the current directory, which is left as it was.
bool IsExistingDirectory(const QByteArray &path);

// Server (host, port, login, TLS), output directory and the switches of
// section CONFIG, read from the settings file on opening and written back on
// Ok; the password goes to the keyring where there is one.
class TdlgConfig : public QDialog {
    Q_OBJECT
public:
    explicit TdlgConfig(QWidget *owner);

    QFrame *pnSettings;
    QFrame *pnButtons;
    QLabel *laHost;
    QLabel *laPort;
    QLabel *laDir;
    QLabel *laUser;
    QLabel *laPassword;
    QLineEdit *edUser;
    QLineEdit *edPassword;
    QCheckBox *ckTls;
    QLineEdit *edHost;
    QLineEdit *edPort;
    QLineEdit *edDir;
    QCheckBox *ckSubjectFiltering;
    QCheckBox *ckPreview;
    QCheckBox *ckAutoStart;
    QCheckBox *ckExitPrompt;
    QCheckBox *ckFileScreening;
    QCheckBox *ckRenameDuplicates;
    QCheckBox *ckSimilarScreening;
    QLabel *laNewGroup;
    QComboBox *cbNewGroup;     // all articles / the newest N
    QSpinBox *edNewGroupCount; // N
    QLabel *laConnections;
    QSpinBox *edConnections;
    QPushButton *btBrowse;
    QPushButton *btOk;
    QPushButton *btCancel;

    // Asks for a folder, starting at the one given; empty when cancelled.
    std::function<QString(const QString &start)> ChooseFolder;

    void btBrowseClick();
    void btOkClick();
    void btCancelClick();
    void ckTlsClick(bool on);

private:
    void FormCreate();
    // The directory as typed is usable: it exists, or the user had it made
    // or chose to keep it anyway.
    bool AcceptDirectory(const QByteArray &dir);
    QByteArray LoadedUser;
    QByteArray LoadedHost;
    QByteArray LoadedPassword;
};
