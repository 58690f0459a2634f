#include "TDialogs.h"

#include "AboutDlg.h"
#include "ClearDlg.h"
#include "ConfigDlg.h"
#include "FilterDlg.h"
#include "GroupDlg.h"
#include "RulesDlg.h"
#include "StatDlg.h"
#include "TFrmMain.h"
#include "ZqPaths.h"

#include <QPointer>

namespace {
// The dialog may already be gone when exec returns (its owner closed inside
// a nested wait), hence the guarded delete.
int execOnce(QDialog *dialog)
{
    QPointer<QDialog> guard(dialog);
    const int result = dialog->exec();
    delete guard.data();
    return result;
}
}

bool TDialogs::ExecGroupDialog(TFrmMain &owner)
{
    return execOnce(new TdlgGroup(&owner, owner.GroupNames, *owner.NewsClient)) == QDialog::Accepted;
}

void TDialogs::ExecFilterDialog(TFrmMain &owner) { execOnce(new TdlgFilter(&owner, owner.FilterStrings)); }

void TDialogs::ExecRulesDialog(TFrmMain &owner)
{
    execOnce(new TdlgRules(&owner, ZqPaths::DataDir() + QStringLiteral("Rules.dat")));
}

void TDialogs::ExecConfigDialog(TFrmMain &owner) { execOnce(new TdlgConfig(&owner)); }

void TDialogs::ExecClearDialog(TFrmMain &owner)
{
    execOnce(new TfrmClearDlg(&owner, owner.GroupNames, owner.GroupMarks, *owner.NewsClient));
}

void TDialogs::ExecAboutDialog(TFrmMain &owner) { execOnce(new TdlgAbout(&owner)); }

void TDialogs::ShowStatDialog(TFrmMain &owner)
{
    // Another window stacked on the last helps nobody: the open one comes forward.
    if (!stat_)
        stat_ = new TdlgStat(&owner, owner.GroupNames);
    stat_->show();
    stat_->raise();
    stat_->activateWindow();
}
