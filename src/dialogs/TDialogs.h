#pragma once
#include "TDialogFactory.h"

#include <QPointer>

class TdlgStat;

// Opens the dialogs on the main window's lists and client: modal ones are
// created for one use and destroyed when they close; the statistics window
// is opened once and raised when asked for again.
class TDialogs : public TDialogFactory {
public:
    bool ExecGroupDialog(TFrmMain &owner) override;
    void ExecFilterDialog(TFrmMain &owner) override;
    void ExecRulesDialog(TFrmMain &owner) override;
    void ExecConfigDialog(TFrmMain &owner) override;
    void ExecClearDialog(TFrmMain &owner) override;
    void ExecAboutDialog(TFrmMain &owner) override;
    void ShowStatDialog(TFrmMain &owner) override;

private:
    QPointer<TdlgStat> stat_; // the one statistics window, while open
};
