#include "ConfigDlg.h"

#include "TConnectionPool.h"

#include "DialogCommon.h"
#include "ZqIniFile.h"
#include "ZqListField.h"
#include "ZqMessageBox.h"
#include "ZqPasswordStore.h"
#include "ZqPaths.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QComboBox>
#include <QSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <climits>

namespace {
constexpr char Section[] = "CONFIG";
constexpr char Separator = '/';

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QLineEdit *makeEdit(QWidget *parent, const char *name, int minimumWidth)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setMinimumWidth(minimumWidth);
    return e;
}

QCheckBox *makeCheck(QWidget *parent, const char *name, const QString &text)
{
    auto *c = new QCheckBox(text, parent);
    c->setObjectName(QString::fromLatin1(name));
    return c;
}
}

bool IsExistingDirectory(const QByteArray &path)
{
    if (path.isEmpty())
        return false;
    // QFileInfo resolves a relative path against the current directory
    // without changing it.
    return QFileInfo(QFile::decodeName(path)).isDir();
}

TdlgConfig::TdlgConfig(QWidget *owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Configuration"));

    pnSettings = new QFrame(this);
    pnSettings->setObjectName(QStringLiteral("pnSettings"));
    pnSettings->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto *grid = new QGridLayout(pnSettings);

    // Labels carry the access letters; each names its field as buddy.
    laHost = makeLabel(pnSettings, "laHost", QStringLiteral("News &Host Name:"));
    edHost = makeEdit(pnSettings, "edHost", 251);
    laPort = makeLabel(pnSettings, "laPort", QStringLiteral("&Port:"));
    edPort = makeEdit(pnSettings, "edPort", 106);
    laUser = makeLabel(pnSettings, "laUser", QStringLiteral("&User name:"));
    edUser = makeEdit(pnSettings, "edUser", 180);
    laPassword = makeLabel(pnSettings, "laPassword", QStringLiteral("Pass&word:"));
    edPassword = makeEdit(pnSettings, "edPassword", 177);
    edPassword->setEchoMode(QLineEdit::Password);
    laDir = makeLabel(pnSettings, "laDir", QStringLiteral("Output &Directory:"));
    edDir = makeEdit(pnSettings, "edDir", 280);
    btBrowse = new QPushButton(QStringLiteral("&Browse..."), pnSettings);
    btBrowse->setObjectName(QStringLiteral("btBrowse"));
    btBrowse->setAutoDefault(false);
    laHost->setBuddy(edHost);
    laPort->setBuddy(edPort);
    laUser->setBuddy(edUser);
    laPassword->setBuddy(edPassword);
    laDir->setBuddy(edDir);

    ckTls = makeCheck(pnSettings, "ckTls", QStringLiteral("Encrypted connection (&TLS)"));
    ckSubjectFiltering = makeCheck(pnSettings, "ckSubjectFiltering", QStringLiteral("Enable &Subject Filtering"));
    ckAutoStart = makeCheck(pnSettings, "ckAutoStart", QStringLiteral("&Auto Start"));
    ckFileScreening = makeCheck(pnSettings, "ckFileScreening", QStringLiteral("Enable &File Screening"));
    ckPreview = makeCheck(pnSettings, "ckPreview", QStringLiteral("Enable Pre&view at Startup"));
    ckExitPrompt = makeCheck(pnSettings, "ckExitPrompt", QStringLiteral("Prompt for E&xit"));
    ckRenameDuplicates = makeCheck(pnSettings, "ckRenameDuplicates", QStringLiteral("&Rename Duplicates"));
    ckSimilarScreening = makeCheck(pnSettings, "ckSimilarScreening",
                                   QStringLiteral("Set aside pictures that &look like one saved before"));

    grid->addWidget(laHost, 0, 0, 1, 2);
    grid->addWidget(laPort, 0, 2);
    grid->addWidget(edHost, 1, 0, 1, 2);
    grid->addWidget(edPort, 1, 2);
    grid->addWidget(laUser, 2, 0);
    grid->addWidget(laPassword, 2, 1, 1, 2);
    grid->addWidget(edUser, 3, 0);
    grid->addWidget(edPassword, 3, 1, 1, 2);
    grid->addWidget(ckTls, 4, 0, 1, 3);
    grid->addWidget(laDir, 5, 0, 1, 3);
    auto *dirRow = new QHBoxLayout;
    dirRow->addWidget(edDir, 1);
    dirRow->addWidget(btBrowse);
    grid->addLayout(dirRow, 6, 0, 1, 3);
    // One line each on what the switch does.
    const std::pair<QCheckBox *, const char *> tips[] = {
        {ckTls, "Talk to the server over TLS (usually port 563)"},
        {ckSubjectFiltering, "Skip articles whose subject holds one of the filter strings"},
        {ckPreview, "Show the pictures as they arrive, from the program's start"},
        {ckAutoStart, "Connect and search all groups as soon as the program starts"},
        {ckExitPrompt, "Ask before the program closes"},
        {ckFileScreening, "Do not save a file identical to one saved before"},
        {ckRenameDuplicates, "Save a file whose name is taken under a numbered name instead of replacing it"},
        {ckSimilarScreening, "Save a picture that looks like one saved before into the folder Similar"},
    };
    for (const auto &[box, tip] : tips)
        box->setToolTip(QString::fromLatin1(tip));

    grid->addWidget(ckSubjectFiltering, 7, 0);
    grid->addWidget(ckAutoStart, 8, 0);
    grid->addWidget(ckFileScreening, 9, 0);
    grid->addWidget(ckPreview, 7, 1, 1, 2);
    grid->addWidget(ckExitPrompt, 8, 1, 1, 2);
    grid->addWidget(ckRenameDuplicates, 9, 1, 1, 2);
    grid->addWidget(ckSimilarScreening, 10, 0, 1, 3);

    laNewGroup = makeLabel(pnSettings, "laNewGroup", QStringLiteral("For a &group seen for the first time, start with:"));
    cbNewGroup = new QComboBox(pnSettings);
    cbNewGroup->setObjectName(QStringLiteral("cbNewGroup"));
    cbNewGroup->addItems({QStringLiteral("all articles"), QStringLiteral("the newest N")});
    edNewGroupCount = new QSpinBox(pnSettings);
    edNewGroupCount->setObjectName(QStringLiteral("edNewGroupCount"));
    edNewGroupCount->setRange(1, INT_MAX);
    edNewGroupCount->setAccessibleName(QStringLiteral("N"));
    laNewGroup->setBuddy(cbNewGroup);
    grid->addWidget(laNewGroup, 11, 0, 1, 3);
    grid->addWidget(cbNewGroup, 12, 0, 1, 2);
    grid->addWidget(edNewGroupCount, 12, 2);

    laConnections = makeLabel(pnSettings, "laConnections", QStringLiteral("Co&nnections:"));
    edConnections = new QSpinBox(pnSettings);
    edConnections->setObjectName(QStringLiteral("edConnections"));
    edConnections->setRange(1, TConnectionPool::MaxConnections);
    laConnections->setBuddy(edConnections);
    grid->addWidget(laConnections, 13, 0);
    grid->addWidget(edConnections, 13, 1);

    pnButtons = new QFrame(this);
    pnButtons->setObjectName(QStringLiteral("pnButtons"));
    pnButtons->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto *buttons = new QHBoxLayout(pnButtons);
    btOk = new QPushButton(QStringLiteral("&Ok"), pnButtons);
    btOk->setObjectName(QStringLiteral("btOk"));
    btOk->setDefault(true);
    btCancel = new QPushButton(QStringLiteral("&Cancel"), pnButtons);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);
    buttons->addStretch();

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(pnSettings);
    outer->addWidget(pnButtons);
    FitFixedDialog(this, 388, 202);

    QWidget *order[] = {edHost,          edPort,      edUser,        edPassword,         ckTls,
                        edDir,           btBrowse,    ckSubjectFiltering, ckPreview, ckExitPrompt,   ckFileScreening,
                        ckAutoStart,     ckRenameDuplicates, ckSimilarScreening, cbNewGroup, edNewGroupCount, edConnections,
                        btOk,            btCancel};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    ChooseFolder = [this](const QString &start) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Output Directory"), start);
    };
    connect(btBrowse, &QPushButton::clicked, this, &TdlgConfig::btBrowseClick);
    connect(btOk, &QPushButton::clicked, this, &TdlgConfig::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &TdlgConfig::btCancelClick);
    connect(ckTls, &QCheckBox::toggled, this, &TdlgConfig::ckTlsClick);
    connect(cbNewGroup, &QComboBox::currentIndexChanged, this,
            [this](int index) { edNewGroupCount->setEnabled(index == 1); });

    FormCreate();
}

void TdlgConfig::FormCreate()
{
    CentreOverOwner(this, parentWidget());
    const QByteArray host = IniReadString(Section, "HOST", DefaultNewsHost);
    const bool tls = ReadYesNo(IniReadString(Section, "TLS", QByteArray()));
    edHost->setText(QString::fromUtf8(host));
    edPort->setText(QString::number(IniReadInteger(Section, "PORT", tls ? TlsPort : PlainPort)));
    LoadedUser = IniReadString(Section, "USER", QByteArray());
    LoadedHost = host;
    LoadedPassword = LoadedUser.isEmpty() ? QByteArray() : LoadPassword(LoadedUser, host);
    edUser->setText(QString::fromUtf8(LoadedUser));
    edPassword->setText(QString::fromUtf8(LoadedPassword));
    {
        const QSignalBlocker quiet(ckTls); // the stored port stays as it is
        ckTls->setChecked(tls);
    }
    // Installed copies offer the user's pictures folder, not "/".
    edDir->setText(QFile::decodeName(IniReadString(Section, "OUTPUT_DIR", QFile::encodeName(ZqPaths::DefaultOutputDir()))));
    ckSubjectFiltering->setChecked(IniReadBool(Section, "SUBJECT_FILTER", true));
    ckPreview->setChecked(IniReadBool(Section, "PREVIEW", true));
    ckAutoStart->setChecked(IniReadBool(Section, "AUTO_START", false));
    ckExitPrompt->setChecked(IniReadBool(Section, "EXIT_PROMPT", true));
    ckFileScreening->setChecked(IniReadBool(Section, "FILE_SCREENING", false));
    ckRenameDuplicates->setChecked(IniReadBool(Section, "RENAME_DUPLICATES", false));
    ckSimilarScreening->setChecked(IniReadBool(Section, "SIMILAR_SCREENING", false));
    // 0 (or anything not above it) means all articles.
    const qint32 newest = IniReadInteger(Section, "NEW_GROUP_ARTICLES", 0);
    edNewGroupCount->setValue(newest > 0 ? newest : 1000);
    cbNewGroup->setCurrentIndex(newest > 0 ? 1 : 0);
    edNewGroupCount->setEnabled(newest > 0);
    // Out of range reads as the nearest allowed; absent as the default.
    edConnections->setValue(qBound(1, int(IniReadInteger(Section, "CONNECTIONS", TConnectionPool::DefaultConnections)),
                                   TConnectionPool::MaxConnections));
}

void TdlgConfig::ckTlsClick(bool on)
{
    // Only a port that holds the other mode's default follows the switch.
    const QString from = QString::number(on ? PlainPort : TlsPort);
    if (edPort->text().trimmed() == from)
        edPort->setText(QString::number(on ? TlsPort : PlainPort));
}

void TdlgConfig::btOkClick()
{
    const qint32 port = ToInt32Def(edPort->text().trimmed().toUtf8(), 0);
    if (port < 1 || port > 65535) {
        ZqMessageBox(QStringLiteral("The port must be a number from 1 to 65535."), QStringLiteral("Error"),
                     MsgIcon::Error, MsgButtons::Ok, nullptr);
        edPort->setFocus();
        return;
    }
    QByteArray dir = QFile::encodeName(edDir->text());
    if (!dir.endsWith(Separator)) {
        dir += Separator;
        edDir->setText(QFile::decodeName(dir)); // the user sees what is checked and saved
    }
    if (!AcceptDirectory(dir))
        return;

    const QByteArray host = edHost->text().toUtf8();
    const QByteArray user = edUser->text().toUtf8();
    const QByteArray password = edPassword->text().toUtf8();
    IniWriteString(Section, "HOST", host);
    IniWriteInteger(Section, "PORT", port);
    IniWriteString(Section, "OUTPUT_DIR", dir);
    IniWriteBool(Section, "SUBJECT_FILTER", ckSubjectFiltering->isChecked());
    IniWriteBool(Section, "PREVIEW", ckPreview->isChecked());
    IniWriteBool(Section, "EXIT_PROMPT", ckExitPrompt->isChecked());
    IniWriteBool(Section, "AUTO_START", ckAutoStart->isChecked());
    IniWriteBool(Section, "FILE_SCREENING", ckFileScreening->isChecked());
    IniWriteBool(Section, "RENAME_DUPLICATES", ckRenameDuplicates->isChecked());
    IniWriteBool(Section, "SIMILAR_SCREENING", ckSimilarScreening->isChecked());
    IniWriteString(Section, "TLS", ckTls->isChecked() ? "yes" : "no");
    IniWriteString(Section, "USER", user);
    IniWriteInteger(Section, "NEW_GROUP_ARTICLES", cbNewGroup->currentIndex() == 1 ? edNewGroupCount->value() : 0);
    IniWriteInteger(Section, "CONNECTIONS", edConnections->value());
    if (password != LoadedPassword || user != LoadedUser || host != LoadedHost) {
        const bool wasInFile = !IniReadString(Section, "PASSWORD", QByteArray()).isEmpty();
        if (!StorePassword(user, host, password) && !password.isEmpty() && !wasInFile)
            ZqMessageBox(QStringLiteral("No keyring answered, so the password is kept in the settings file\n%1\n"
                                        "which only you can read.")
                             .arg(QDir::toNativeSeparators(SettingsFilePath())),
                         QStringLiteral("Password"), MsgIcon::Information, MsgButtons::Ok, nullptr);
    }
    accept();
}

bool TdlgConfig::AcceptDirectory(const QByteArray &dir)
{
    if (IsExistingDirectory(dir))
        return true;
    const QString path = QFile::decodeName(dir);
    QString bare = path; // "file/" is no path to a file, but the file is there
    while (bare.size() > 1 && bare.endsWith(QLatin1Char(Separator)))
        bare.chop(1);
    // Nothing there yet: offer to make it before calling it invalid.
    if (!QFileInfo(bare).exists() && !QFileInfo(bare).isSymLink()
        && ZqMessageBox(QStringLiteral("The output directory \"%1\" does not exist. Do you want to create it?")
                            .arg(QDir::toNativeSeparators(path)),
                        QStringLiteral("Output Directory"), MsgIcon::Question, MsgButtons::YesNo, nullptr)
               == MsgYes
        && QDir().mkpath(path))
        return true;
    return ZqMessageBox(QStringLiteral("The output directory is invalid!  Do you want to continue anyway?"),
                        QStringLiteral("Warning"), MsgIcon::Question, MsgButtons::YesNo, nullptr)
        == MsgYes;
}

void TdlgConfig::btBrowseClick()
{
    const QString chosen = ChooseFolder ? ChooseFolder(edDir->text()) : QString();
    if (!chosen.isEmpty())
        edDir->setText(chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/'));
}

void TdlgConfig::btCancelClick() { reject(); }
