#pragma once
#include "TDialogFactory.h"

#include <functional>

class TFrmMain;

// Counts every dialog the main window asks for and lets a test act as the dialog.
class FakeDialogs : public TDialogFactory {
public:
    int group = 0, filter = 0, rules = 0, config = 0, clear = 0, about = 0, stat = 0;
    std::function<bool(TFrmMain &)> onGroup = [](TFrmMain &) { return false; };
    std::function<void(TFrmMain &)> onFilter = [](TFrmMain &) {};

    bool ExecGroupDialog(TFrmMain &owner) override { ++group; return onGroup(owner); }
    void ExecFilterDialog(TFrmMain &owner) override { ++filter; onFilter(owner); }
    void ExecRulesDialog(TFrmMain &) override { ++rules; }
    void ExecConfigDialog(TFrmMain &) override { ++config; }
    void ExecClearDialog(TFrmMain &) override { ++clear; }
    void ExecAboutDialog(TFrmMain &) override { ++about; }
    void ShowStatDialog(TFrmMain &) override { ++stat; }
};
