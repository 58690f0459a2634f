#pragma once
#include "TDialogFactory.h"

// Opens the dialogs on the main window's lists and client: modal ones are
// created for one use and destroyed when they close.
class TDialogs : public TDialogFactory {
public:
    bool ExecGroupDialog(TFrmMain &owner) override;
    void ExecFilterDialog(TFrmMain &owner) override;
    void ExecConfigDialog(TFrmMain &owner) override;
    void ExecClearDialog(TFrmMain &owner) override;
    void ExecAboutDialog(TFrmMain &owner) override;
    void ShowStatDialog(TFrmMain &owner) override;
};
