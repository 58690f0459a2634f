#pragma once

class TFrmMain;

// The main window's commands open dialogs through this seam: the dialogs sit
// above the main window in the build, so the program's start installs them.
class TDialogFactory {
public:
    virtual ~TDialogFactory() = default;
    virtual bool ExecGroupDialog(TFrmMain &owner) = 0;   // true when closed with OK
    virtual void ExecFilterDialog(TFrmMain &owner) = 0;
    virtual void ExecRulesDialog(TFrmMain &owner) = 0; // edits "Rules.dat"
    virtual void ExecConfigDialog(TFrmMain &owner) = 0;
    virtual void ExecClearDialog(TFrmMain &owner) = 0;
    virtual void ExecAboutDialog(TFrmMain &owner) = 0;
    virtual void ShowStatDialog(TFrmMain &owner) = 0;    // modeless, one window raised when open
};
