#include "AboutDlg.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

TEST(AboutDialog, NamesTheVersionAndListsReleasesInColumns)
{
    TdlgAbout dlg(nullptr);
    EXPECT_EQ(dlg.windowTitle(), "About Pixtrawl v1.01");
    EXPECT_EQ(dlg.laTitle->text(), "Pixtrawl v1.01.000");
    EXPECT_EQ(dlg.laTitle->font().pixelSize(), 24);
    EXPECT_TRUE(dlg.btOk->isDefault());
    EXPECT_TRUE(dlg.laLicense->text().contains("GPL-3.0-or-later"));
    ASSERT_GT(dlg.laRevisions->count(), 0);

    // Date - version - note; later notes of a release blank the date; long
    // notes continue under the note column; blank lines between releases.
    const QRegularExpression entry(QStringLiteral("^(\\d{4}/\\d{2}/\\d{2}| {10}) - \\d+\\.\\d{2}\\.\\d{3} - \\S"));
    const QRegularExpression continued(QStringLiteral("^ {24}\\S"));
    QString previous;
    for (int i = 0; i < dlg.laRevisions->count(); ++i) {
        const QString line = dlg.laRevisions->item(i)->text();
        if (i == 0 || previous.isEmpty()) {
            EXPECT_TRUE(line.at(0).isDigit()) << line.toStdString();
        }
        if (!line.isEmpty()) {
            EXPECT_TRUE(entry.match(line).hasMatch() || continued.match(line).hasMatch()) << line.toStdString();
        }
        previous = line;
    }
    dlg.btOkClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
}
