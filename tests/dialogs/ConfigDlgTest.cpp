#include "ConfigDlg.h"
#include "MessageRecorder.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
QByteArray Config(const char *key) { return IniReadString("CONFIG", key, "<absent>"); }

// Keys of section CONFIG in the order they stand in the settings file.
QList<QByteArray> KeysInFile(const TempProgramDir &dir)
{
    QList<QByteArray> keys;
    for (QByteArray line : dir.read("pixtrawl.ini").split('\n')) {
        line = line.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            keys << line.left(eq);
    }
    return keys;
}
}

TEST(ConfigDialog, ShowsDefaultsWithoutASettingsFile)
{
    TempProgramDir dir;
    TdlgConfig dlg(nullptr);
    EXPECT_EQ(dlg.windowTitle(), "Configuration");
    EXPECT_EQ(dlg.edHost->text(), "news.example.com");
    EXPECT_EQ(dlg.edPort->text(), "119");
    EXPECT_EQ(dlg.edDir->text(), "/");
    EXPECT_TRUE(dlg.ckSubjectFiltering->isChecked());
    EXPECT_TRUE(dlg.ckPreview->isChecked());
    EXPECT_FALSE(dlg.ckAutoStart->isChecked());
    EXPECT_TRUE(dlg.ckExitPrompt->isChecked());
    EXPECT_FALSE(dlg.ckFileScreening->isChecked());
    EXPECT_FALSE(dlg.ckRenameDuplicates->isChecked());
    EXPECT_FALSE(dlg.ckSimilarScreening->isChecked());
    EXPECT_TRUE(dlg.btOk->isDefault());
}

TEST(ConfigDialog, OnlyNReadsAsUnchecked)
{
    const struct {
        QByteArray stored;
        bool checked;
    } cases[] = {{"n", false}, {"N", false}, {"", true}, {"0", true}, {"no", true}, {"Y", true}};
    for (const auto &c : cases) {
        TempProgramDir dir;
        for (const char *key : {"SUBJECT_FILTER", "PREVIEW", "AUTO_START", "EXIT_PROMPT", "FILE_SCREENING",
                                "RENAME_DUPLICATES", "SIMILAR_SCREENING"})
            IniWriteString("CONFIG", key, c.stored);
        TdlgConfig dlg(nullptr);
        for (QCheckBox *box : {dlg.ckSubjectFiltering, dlg.ckPreview, dlg.ckAutoStart, dlg.ckExitPrompt,
                               dlg.ckFileScreening, dlg.ckRenameDuplicates, dlg.ckSimilarScreening})
            EXPECT_EQ(box->isChecked(), c.checked) << c.stored.constData() << " " << box->objectName().toStdString();
    }
}

TEST(ConfigDialog, OkWritesEveryKeyInOrder)
{
    TempProgramDir dir;
    TdlgConfig dlg(nullptr);
    dlg.edHost->setText("news.local");
    dlg.edDir->setText(dir.dir());
    dlg.ckAutoStart->setChecked(true);
    dlg.ckPreview->setChecked(false);
    MessageRecorder rec;
    dlg.btOkClick();
    EXPECT_TRUE(rec.shown().isEmpty());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(Config("HOST"), "news.local");
    EXPECT_EQ(Config("PORT"), "119");
    EXPECT_EQ(Config("OUTPUT_DIR"), dir.dir().toUtf8());
    EXPECT_EQ(Config("SUBJECT_FILTER"), "Y");
    EXPECT_EQ(Config("PREVIEW"), "N");
    EXPECT_EQ(Config("AUTO_START"), "Y");
    EXPECT_EQ(Config("EXIT_PROMPT"), "Y");
    EXPECT_EQ(Config("FILE_SCREENING"), "N");
    EXPECT_EQ(Config("RENAME_DUPLICATES"), "N");
    EXPECT_EQ(Config("SIMILAR_SCREENING"), "N");
    EXPECT_EQ(KeysInFile(dir), (QList<QByteArray>{"HOST", "PORT", "OUTPUT_DIR", "SUBJECT_FILTER", "PREVIEW",
                                                  "EXIT_PROMPT", "AUTO_START", "FILE_SCREENING",
                                                  "RENAME_DUPLICATES", "SIMILAR_SCREENING", "TLS", "USER", "NEW_GROUP_ARTICLES",
                                                  "CONNECTIONS"}));
    EXPECT_EQ(Config("CONNECTIONS"), "8");
    EXPECT_EQ(Config("TLS"), "no");
}

TEST(ConfigDialog, PortMustBeANumberFrom1To65535)
{
    const struct {
        QString typed;
        QByteArray written; // empty: refused, nothing written
    } cases[] = {{"1", "1"}, {"65535", "65535"}, {" 563 ", "563"}, {"abc", ""}, {"0", ""},
                 {"-5", ""},  {"70000", ""},      {"", ""},         {"12x", ""}, {"99999999999", ""}};
    for (const auto &c : cases) {
        TempProgramDir dir;
        TdlgConfig dlg(nullptr);
        dlg.edDir->setText(dir.dir());
        dlg.edPort->setText(c.typed);
        MessageRecorder rec;
        dlg.btOkClick();
        const char *typed = qPrintable(c.typed);
        if (c.written.isEmpty()) {
            EXPECT_EQ(rec.texts(), QStringList{"The port must be a number from 1 to 65535."}) << typed;
            EXPECT_NE(dlg.result(), QDialog::Accepted) << typed;
            EXPECT_EQ(Config("PORT"), "<absent>") << typed;
        } else {
            EXPECT_TRUE(rec.shown().isEmpty()) << typed;
            EXPECT_EQ(Config("PORT"), c.written) << typed;
        }
    }

    // A stored port that is not a number shows as 119 and is written back so.
    TempProgramDir dir;
    IniWriteString("CONFIG", "PORT", "x");
    TdlgConfig dlg(nullptr);
    EXPECT_EQ(dlg.edPort->text(), "119");
    dlg.edDir->setText(dir.dir());
    dlg.btOkClick();
    EXPECT_EQ(Config("PORT"), "119");
}

TEST(ConfigDialog, TlsSwitchMovesOnlyADefaultPort)
{
    TempProgramDir dir;
    IniWriteString("CONFIG", "TLS", "yes");
    TdlgConfig dlg(nullptr);
    EXPECT_TRUE(dlg.ckTls->isChecked());
    EXPECT_EQ(dlg.edPort->text(), "563"); // no PORT stored: the TLS default
    dlg.ckTls->setChecked(false);
    EXPECT_EQ(dlg.edPort->text(), "119");
    dlg.ckTls->setChecked(true);
    EXPECT_EQ(dlg.edPort->text(), "563");
    dlg.edPort->setText("8119");
    dlg.ckTls->setChecked(false);
    EXPECT_EQ(dlg.edPort->text(), "8119");
    EXPECT_EQ(dlg.edPassword->echoMode(), QLineEdit::Password);
}

// Without a secret service (no session bus here) the password goes into the
// settings file, which only its owner may then read.
TEST(ConfigDialog, PasswordWithoutAKeyringIsKeptInAPrivateFile)
{
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    TempProgramDir dir;
    {
        TdlgConfig dlg(nullptr);
        dlg.edDir->setText(dir.dir());
        dlg.edUser->setText("joe");
        dlg.edPassword->setText("se cret");
        MessageRecorder rec;
        dlg.btOkClick();
        // Said once, the first time the file takes the password.
        ASSERT_EQ(rec.shown().size(), 1);
        EXPECT_TRUE(rec.shown()[0].text.contains(SettingsFilePath()));
        TdlgConfig changed(nullptr);
        changed.edPassword->setText("se cret");
        changed.edUser->setText("joe2");
        changed.btOkClick();
        changed.edUser->setText("joe");
        changed.btOkClick();
        EXPECT_EQ(rec.shown().size(), 1);
    }
    EXPECT_EQ(Config("USER"), "joe");
    EXPECT_EQ(Config("PASSWORD"), "se cret");
    const QFile::Permissions p = QFile::permissions(SettingsFilePath());
    EXPECT_TRUE(p & QFile::ReadOwner);
    EXPECT_FALSE(p & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther));
    TdlgConfig again(nullptr);
    EXPECT_EQ(again.edPassword->text(), "se cret");
}

TEST(ConfigDialog, CancelWritesNothing)
{
    TempProgramDir dir;
    IniWriteString("CONFIG", "HOST", "keep.example.com");
    const QByteArray before = dir.read("pixtrawl.ini");
    TdlgConfig dlg(nullptr);
    dlg.edHost->setText("other");
    dlg.edPort->setText("1");
    dlg.ckAutoStart->setChecked(true);
    dlg.btCancelClick();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dir.read("pixtrawl.ini"), before);
}

TEST(ConfigDialog, DirectoryGetsItsSeparatorAndMustExist)
{
    TempProgramDir dir;
    QTemporaryDir work;
    ASSERT_TRUE(QDir(work.path()).mkdir("sub"));
    QFile file(work.path() + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));

    const struct {
        QString typed;
        QString shown;
        bool warned;
        int boxes; // a missing folder is first offered to be made
    } cases[] = {
        {"", "/", false, 0},
        {"sub", "sub/", false, 0},               // relative to the current directory
        {work.path() + "/sub", work.path() + "/sub/", false, 0},
        {"missing", "missing/", true, 2},
        {"plain", "plain/", true, 1},            // a file is not a directory
        {"sub/../sub/", "sub/../sub/", false, 0},
    };
    for (const auto &c : cases) {
        QFile::remove(dir.iniPath());
        TdlgConfig dlg(nullptr);
        dlg.show();
        dlg.edDir->setText(c.typed);
        MessageRecorder rec;
        rec.answer(MsgNo);
        rec.answer(MsgNo);
        dlg.btOkClick();
        EXPECT_EQ(dlg.edDir->text(), c.shown) << c.typed.toStdString();
        EXPECT_EQ(QDir::currentPath(), work.path()) << "the check must leave the current directory alone";
        if (c.warned) {
            ASSERT_EQ(rec.shown().size(), c.boxes) << c.typed.toStdString();
            const MessageRequest &m = rec.shown().last();
            EXPECT_EQ(m.text, "The output directory is invalid!  Do you want to continue anyway?");
            EXPECT_EQ(m.caption, "Warning");
            EXPECT_EQ(m.icon, MsgIcon::Question);
            EXPECT_EQ(m.buttons, MsgButtons::YesNo);
            EXPECT_EQ(m.owner, nullptr);
            EXPECT_TRUE(dlg.isVisible()) << "No keeps the dialog open";
            EXPECT_FALSE(QFile::exists(dir.iniPath())) << "No writes nothing";
        } else {
            EXPECT_TRUE(rec.shown().isEmpty()) << c.typed.toStdString();
            EXPECT_EQ(dlg.result(), QDialog::Accepted);
            EXPECT_EQ(Config("OUTPUT_DIR"), c.shown.toUtf8());
        }
    }

    // Not made, Yes saves the directory anyway.
    TdlgConfig dlg(nullptr);
    dlg.edDir->setText("missing");
    MessageRecorder rec;
    rec.answer(MsgNo);
    rec.answer(MsgYes);
    dlg.btOkClick();
    EXPECT_EQ(rec.shown().size(), 2);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(Config("OUTPUT_DIR"), "missing/");
    EXPECT_FALSE(QFileInfo::exists("missing"));

    // Made when the offer is taken.
    TdlgConfig make(nullptr);
    make.edDir->setText("new/deeper");
    MessageRecorder made;
    made.answer(MsgYes);
    make.btOkClick();
    ASSERT_EQ(made.shown().size(), 1);
    EXPECT_TRUE(made.shown()[0].text.contains("does not exist"));
    EXPECT_EQ(make.result(), QDialog::Accepted);
    EXPECT_TRUE(QFileInfo(work.path() + "/new/deeper").isDir());
    EXPECT_TRUE(QDir::setCurrent(before));
}

TEST(ConfigDialog, SwitchesExplainThemselvesAndBrowseFillsTheFolder)
{
    TempProgramDir dir;
    TdlgConfig dlg(nullptr);
    for (QCheckBox *box : dlg.findChildren<QCheckBox *>()) {
        EXPECT_FALSE(box->toolTip().isEmpty()) << box->objectName().toStdString();
        EXPECT_FALSE(box->toolTip().contains('\n')) << box->objectName().toStdString();
    }
    QString offered;
    dlg.ChooseFolder = [&](const QString &start) { offered = start; return QStringLiteral("/srv/pics"); };
    dlg.edDir->setText("/tmp/");
    dlg.btBrowse->click();
    EXPECT_EQ(offered, "/tmp/");
    EXPECT_EQ(dlg.edDir->text(), "/srv/pics/");
    dlg.ChooseFolder = [](const QString &) { return QString(); }; // cancelled
    dlg.btBrowse->click();
    EXPECT_EQ(dlg.edDir->text(), "/srv/pics/");
}

TEST(ConfigDialog, NewGroupStartReadsAndWritesTheNewestCount)
{
    TempProgramDir dir;
    const struct {
        QByteArray stored;
        int index;
        int shown;
    } cases[] = {{"<absent>", 0, 1000}, {"0", 0, 1000}, {"-5", 0, 1000}, {"250", 1, 250}};
    // Connections: stored -> shown, clamped to 1..50.
    for (const auto &[stored, shown] : {std::pair<QByteArray, int>{"3", 3}, {"0", 1}, {"99", 50}}) {
        IniWriteString("CONFIG", "CONNECTIONS", stored);
        EXPECT_EQ(TdlgConfig(nullptr).edConnections->value(), shown) << stored.constData();
    }
    for (const auto &c : cases) {
        if (c.stored != "<absent>")
            IniWriteString("CONFIG", "NEW_GROUP_ARTICLES", c.stored);
        TdlgConfig dlg(nullptr);
        EXPECT_EQ(dlg.cbNewGroup->currentIndex(), c.index) << c.stored.constData();
        EXPECT_EQ(dlg.edNewGroupCount->value(), c.shown);
        EXPECT_EQ(dlg.edNewGroupCount->isEnabled(), c.index == 1);
    }
    TdlgConfig dlg(nullptr);
    dlg.edDir->setText(dir.dir());
    dlg.edNewGroupCount->setValue(40);
    MessageRecorder rec;
    dlg.btOkClick();
    EXPECT_EQ(Config("NEW_GROUP_ARTICLES"), "40");
    TdlgConfig again(nullptr);
    again.cbNewGroup->setCurrentIndex(0);
    EXPECT_FALSE(again.edNewGroupCount->isEnabled());
    again.btOkClick();
    EXPECT_EQ(Config("NEW_GROUP_ARTICLES"), "0"); // all articles
}
