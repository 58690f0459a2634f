#include "RulesDlg.h"
#include "TRuleSet.h"
#include "TempProgramDir.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

TEST(RulesDialog, NamesBadLinesAddsThePresetOnceAndWritesOnlyOnOk)
{
    TempProgramDir dir;
    dir.write("Rules.dat", "# mine\r\nskip size > 20M\r\n");
    {
        TdlgRules dlg(nullptr, dir.path("Rules.dat"));
        EXPECT_EQ(dlg.windowTitle(), "Rules");
        EXPECT_EQ(dlg.edRules->toPlainText(), "# mine\nskip size > 20M\n");
        EXPECT_EQ(dlg.laErrors->text(), "Line 2: unknown field 'size' (the line is ignored)");
        dlg.edRules->setPlainText("skip bytes > 20M");
        EXPECT_TRUE(dlg.laErrors->text().isEmpty());
        dlg.edRules->setPlainText(QStringLiteral("skip subject contains x\n").repeated(TRuleSet::WarnRules + 1)
                                  + QStringLiteral("skip size > 1"));
        EXPECT_TRUE(dlg.laErrors->text().startsWith("Warning: 5001 rules in 118 KB: every article is judged"));
        EXPECT_TRUE(dlg.laErrors->text().endsWith("\nLine 5002: unknown field 'size' (the line is ignored)"));
        dlg.btCancel->click();
    }
    EXPECT_EQ(dir.read("Rules.dat"), "# mine\r\nskip size > 20M\r\n");

    TdlgRules dlg(nullptr, dir.path("Rules.dat"));
    dlg.edRules->setPlainText("skip bytes > 20M");
    dlg.btPictures->click();
    dlg.btPictures->click();
    dlg.btOk->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dir.read("Rules.dat"), "skip bytes > 20M\r\nonly ext is jpg\r\nonly ext is jpeg\r\nonly ext is png\r\n"
                                     "only ext is gif\r\nonly ext is webp\r\nonly ext is bmp\r\n");
}

TEST(RulesDialog, TestBoxTellsWhichRuleDecidesAndWhy)
{
    TempProgramDir dir;
    dir.write("Rules.dat", "skip bytes > 20M\nskip from contains @spam.example\nonly ext is jpg\n");
    TdlgRules dlg(nullptr, dir.path("Rules.dat"));
    struct Case {
        QString subject, size, poster;
        QString verdict; // its first line
    } cases[] = {
        {"\"sunset.jpg\" yEnc (1/4)", "6M", "", "Skipped by rule 1: skip bytes > 20M"},
        {"\"sunset.jpg\" yEnc (1/4)", "", "Ann <ann@spam.example>", "Skipped by rule 2: skip from contains @spam.example"},
        {"\"sunset.jpg\" yEnc (1/4)", "4M", "", "Taken by rule 3: only ext is jpg"},
        {"\"clip.avi\" yEnc (1/4)", "", "", "Skipped: no only rule matched"},
        {"\"clip.avi\" yEnc (1/4)", "lots", "", "The size is not a number (as 700K, 3M or 1G)."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.subject.toStdString() + " " + c.size.toStdString());
        dlg.tbSubject->setText(c.subject);
        dlg.tbSize->setText(c.size);
        dlg.tbPoster->setText(c.poster);
        EXPECT_EQ(dlg.laVerdict->text().section('\n', 0, 0), c.verdict);
    }
    // Why: the fields as the rules saw them.
    dlg.tbSubject->setText("\"sunset.jpg\" yEnc (1/4)");
    dlg.tbSize->setText("6M");
    EXPECT_EQ(dlg.laVerdict->text().section('\n', 1), "name 'sunset.jpg', ext 'jpg', bytes 25165824, lines unknown, "
                                                      "age unknown");
}
