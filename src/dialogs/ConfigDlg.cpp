#include "ConfigDlg.h"

#include "DialogCommon.h"
#include "ZqIniFile.h"
#include "ZqListField.h"
#include "ZqMessageBox.h"
#include "ZqPaths.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr char Section[] = "CONFIG";
constexpr char Separator = '/';

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int x, int y)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLineEdit *makeEdit(QWidget *parent, const char *name, int x, int y, int w)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(x, y, w, 21);
    return e;
}

QCheckBox *makeCheck(QWidget *parent, const char *name, const QString &text, int x, int y)
{
    auto *c = new QCheckBox(text, parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setGeometry(x, y, 175, 19);
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
    SetFixedDialogFrame(this, 388, 202);

    pnSettings = new QFrame(this);
    pnSettings->setObjectName(QStringLiteral("pnSettings"));
    pnSettings->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnSettings->setGeometry(4, 4, 380, 155);

    laHost = makeLabel(pnSettings, "laHost", QStringLiteral("News Host Name:"), 7, 5);
    edHost = makeEdit(pnSettings, "edHost", 7, 21, 251);
    laPort = makeLabel(pnSettings, "laPort", QStringLiteral("Port:"), 267, 5);
    edPort = makeEdit(pnSettings, "edPort", 267, 21, 106);
    laDir = makeLabel(pnSettings, "laDir", QStringLiteral("Output Directory:"), 7, 47);
    edDir = makeEdit(pnSettings, "edDir", 7, 63, 366);

    ckSubjectFiltering = makeCheck(pnSettings, "ckSubjectFiltering", QStringLiteral("Enable Subject Filtering"), 7, 92);
    ckAutoStart = makeCheck(pnSettings, "ckAutoStart", QStringLiteral("Auto Start"), 7, 112);
    ckFileScreening = makeCheck(pnSettings, "ckFileScreening", QStringLiteral("Enable File Screening"), 7, 132);
    ckPreview = makeCheck(pnSettings, "ckPreview", QStringLiteral("Enable Preview at Startup"), 198, 92);
    ckExitPrompt = makeCheck(pnSettings, "ckExitPrompt", QStringLiteral("Prompt for Exit"), 198, 112);
    ckRenameDuplicates = makeCheck(pnSettings, "ckRenameDuplicates", QStringLiteral("Rename Duplicates"), 198, 132);

    pnButtons = new QFrame(this);
    pnButtons->setObjectName(QStringLiteral("pnButtons"));
    pnButtons->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnButtons->setGeometry(4, 163, 380, 35);
    btOk = new QPushButton(QStringLiteral("&Ok"), pnButtons);
    btOk->setObjectName(QStringLiteral("btOk"));
    btOk->setGeometry(111, 5, 75, 25);
    btOk->setDefault(true);
    btCancel = new QPushButton(QStringLiteral("&Cancel"), pnButtons);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->setGeometry(194, 5, 75, 25);
    btCancel->setAutoDefault(false);

    QWidget *order[] = {edHost, edPort, edDir, ckSubjectFiltering, ckPreview, ckExitPrompt,
                        ckFileScreening, ckAutoStart, ckRenameDuplicates, btOk, btCancel};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(btOk, &QPushButton::clicked, this, &TdlgConfig::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &TdlgConfig::btCancelClick);

    FormCreate();
}

void TdlgConfig::FormCreate()
{
    CentreOverOwner(this, parentWidget());
    edHost->setText(QString::fromUtf8(IniReadString(Section, "HOST", DefaultNewsHost)));
    edPort->setText(QString::number(IniReadInteger(Section, "PORT", 119)));
    // Installed copies offer the user's pictures folder, not "/".
    edDir->setText(QFile::decodeName(IniReadString(Section, "OUTPUT_DIR", QFile::encodeName(ZqPaths::DefaultOutputDir()))));
    ckSubjectFiltering->setChecked(IniReadBool(Section, "SUBJECT_FILTER", true));
    ckPreview->setChecked(IniReadBool(Section, "PREVIEW", true));
    ckAutoStart->setChecked(IniReadBool(Section, "AUTO_START", false));
    ckExitPrompt->setChecked(IniReadBool(Section, "EXIT_PROMPT", true));
    ckFileScreening->setChecked(IniReadBool(Section, "FILE_SCREENING", false));
    ckRenameDuplicates->setChecked(IniReadBool(Section, "RENAME_DUPLICATES", false));
}

void TdlgConfig::btOkClick()
{
    QByteArray dir = QFile::encodeName(edDir->text());
    if (!dir.endsWith(Separator)) {
        dir += Separator;
        edDir->setText(QFile::decodeName(dir)); // the user sees what is checked and saved
    }
    if (!IsExistingDirectory(dir)
        && ZqMessageBox(QStringLiteral("The output directory is invalid!  Do you want to continue anyway?"),
                        QStringLiteral("Warning"), MsgIcon::Question, MsgButtons::YesNo, nullptr) != MsgYes)
        return;

    IniWriteString(Section, "HOST", edHost->text().toUtf8());
    IniWriteInteger(Section, "PORT", ToInt32Def(edPort->text().toUtf8(), 119));
    IniWriteString(Section, "OUTPUT_DIR", dir);
    IniWriteBool(Section, "SUBJECT_FILTER", ckSubjectFiltering->isChecked());
    IniWriteBool(Section, "PREVIEW", ckPreview->isChecked());
    IniWriteBool(Section, "EXIT_PROMPT", ckExitPrompt->isChecked());
    IniWriteBool(Section, "AUTO_START", ckAutoStart->isChecked());
    IniWriteBool(Section, "FILE_SCREENING", ckFileScreening->isChecked());
    IniWriteBool(Section, "RENAME_DUPLICATES", ckRenameDuplicates->isChecked());
    accept();
}

void TdlgConfig::btCancelClick() { reject(); }
