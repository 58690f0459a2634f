#pragma once
#include <QString>

// Where Pixtrawl keeps its files. A program folder that holds its settings
// file and may be written is portable: everything stays beside the program.
// Otherwise (an installed copy) the user's XDG folders are used. Folder paths
// end in "/".
class ZqPaths {
public:
    enum Layout { Portable, Xdg };

    // Decided once per run (at the first call), so files never move mid-run.
    static Layout CurrentLayout();
    // The rule: the settings file beside the program exists and both it and
    // its folder may be written.
    static Layout LayoutFor(const QString &programFile);
    // Test seam: force a layout (ResetLayout decides afresh at the next call).
    static void SetLayout(Layout layout);
    static void ResetLayout();

    static QString SettingsFile();  // ~/.config/pixtrawl/pixtrawl.ini
    static QString DataDir();       // CRC-32.dat, Filters.dat, parts: ~/.local/share/pixtrawl/
    static QString CacheDir();      // Groups.dbf, current.jpg: ~/.cache/pixtrawl/
    static QString StateDir();      // ~/.local/state/pixtrawl/
    static QString LogFile();       // portable: "pixtrawl.log" in the current folder
    // The output folder offered to a new user: "/" when portable (as always),
    // else ~/Pictures/Pixtrawl/.
    static QString DefaultOutputDir();

    // Start of a run: creates the folders. A first start in the XDG layout
    // begins from the settings file beside the program (an administrator's
    // defaults) when there is one, proposes DefaultOutputDir (created) as
    // output folder and switches FILE_SCREENING and RENAME_DUPLICATES on
    // unless those defaults say otherwise. Removes temporary settings files
    // killed writers left.
    // Returns SettingsWriteProblem().
    static QString Prepare();
    // Empty when the settings file can be written; else a sentence naming the
    // folder and the reason.
    static QString SettingsWriteProblem();
};
